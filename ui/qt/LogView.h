#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QColor>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "ui/log/LogController.h"
#include "ui/qt/FindBar.h"

// A read-only log of text lines, their bytes read as the host's text (UTF-8 where they form
// it). The controller decides what each event does and what a paint draws; the view maps
// Qt's events to it and draws what it says. No word wrap; nothing is interpreted as markup.
class QLabel;
class QMenu;
class QPainter;
class QTimer;

class TLogView : public QAbstractScrollArea, private TLogViewPort {
  Q_OBJECT

 public:
  // `capacity` counts characters as the platform's rich-text control does.
  explicit TLogView(std::uint64_t capacity, QWidget* parent = nullptr);
  ~TLogView() override;

  TLogController& Controller() { return FController; }
  const TLogModel& Model() const { return FController.Model(); }
  // Appends each line, followed by a line break, as a new last line, in order. A line that
  // does not fit whole raises ELineInsertionError; the lines before it stay, and nothing of
  // it or of those after it goes in.
  void AppendLines(std::span<const std::string> lines) { FController.AppendAll(lines); }
  void AppendLine(std::string_view line);
  std::uint64_t FreeCharacters() const { return Model().FreeCharacters(); }
  std::uint64_t LineCount() const { return Model().LineCount(); }
  // Line `line` as the characters it stands for (control characters included).
  QString LineText(std::uint64_t line) const;

  // The background and the colour of all text, until the next call. Until the first call,
  // the system's window colour and window-text colour.
  void SetColors(const QColor& background, const QColor& text);
  QColor BackgroundColor() const;
  QColor TextColor() const;

  bool HasSelection() const { return Model().HasSelection(); }
  QString SelectedText() const;
  void SelectAll() { FController.SelectAll(); }
  void Copy() { FController.Copy(); }
  // Selects from (line, column) to (line, column), columns counting bytes.
  void Select(std::uint64_t from_line, std::size_t from_column, std::uint64_t to_line,
              std::size_t to_column) {
    FController.Select({from_line, from_column}, {to_line, to_column});
  }

  // Find: Ctrl+F (or "Rechercher..." in the context menu) opens the bar, F3 and Shift+F3
  // find the next and previous match, Escape closes it. Save: Ctrl+S (or "Enregistrer le
  // journal..."), Escape in the view cancels; copies and saves end lines with LF. Ctrl+L (or
  // "Effacer le journal") empties the view.
  void OpenFind() { FController.OpenFind(); }
  TFindBar* FindBar() const { return FFindBar; }
  void SaveLog() { FController.SaveLog(); }
  bool Saving() const { return FController.Saving(); }
  QString SaveProgress() const { return QString::fromStdString(FController.SaveProgress()); }
  void ClearLog() { FController.ClearLog(); }
  // Asks where to save, proposing a path; an empty answer saves nothing. By default the
  // system's save dialog.
  using TAskSavePath = std::function<QString(const QString& proposed)>;
  void SetAskSavePath(TAskSavePath ask) { FAskSavePath = std::move(ask); }
  // "quorvel-YYYYMMDD-HHMMSS.txt" in the user's documents folder, else the home folder.
  static QString ProposedSavePath();

  // The context menu, as a right click shows it.
  std::unique_ptr<QMenu> ContextMenu();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  // TLogViewPort
  void Repaint() override { viewport()->update(); }
  void SyncScrollBars() override;
  void StartWork(TLogWork work) override;
  void StopWork(TLogWork work) override;
  void StartAutoScroll() override {
    if (!FAutoScroll.isActive()) FAutoScroll.start(50, this);
  }
  void StopAutoScroll() override { FAutoScroll.stop(); }
  void PutOnClipboard(std::u16string_view text) override;
  bool HasSelectionBuffer() const override;
  void PutOnSelectionBuffer(std::u16string_view text) override;
  std::filesystem::path AskSavePath() override;
  void ShowError(const std::exception& error) override;
  void ShowFindBar(bool shown) override;
  void FocusFindBar() override { FFindBar->Focus(); }
  void SetFindStatus(const std::string& status) override {
    FFindBar->SetStatus(QString::fromStdString(status));
  }
  void ShowSaveStrip(const std::string& text) override;
  void FocusLog() override { setFocus(); }
  void Fill(TLogRole role, const TLogRect& rect) override;
  void Frame(TLogRole, const TLogRect&) override {}  // the match in hand: its band says it
  void DrawRun(const TLogRun& run) override;
  TLogRect DrawMarker(const std::string& note) override;

  void UpdateMetrics();
  void ReadLocale();
  // The find bar and the save strip along the bottom edge, the text above them.
  void PlaceBars();

  TLogController FController;
  QColor FBackground;  // invalid: the system's
  QColor FForeground;
  int FAscent = 10;
  bool FSyncing = false;
  QBasicTimer FAutoScroll;
  TFindBar* FFindBar;
  QTimer* FFindWork;  // the next slice of a search or a count
  QLabel* FSaveStrip;
  QTimer* FSaveWork;  // the next slice of a save
  TAskSavePath FAskSavePath;
  QPainter* FPainter = nullptr;  // while painting
};
