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

#include "ui/log/LogModel.h"
#include "ui/log/LogSave.h"

// A read-only log of text lines, their bytes read as the host's text (UTF-8 where they form
// it). The model keeps the text compactly and says what is in sight; the view paints only
// that, so that millions of lines cost no more to show than a few. No word wrap; nothing is
// interpreted as markup.
class QLabel;
class QMenu;
class QTimer;
class TFindBar;

class TLogView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // `capacity` counts characters as the platform's rich-text control does.
  explicit TLogView(std::uint64_t capacity, QWidget* parent = nullptr);
  ~TLogView() override;

  // Appends each line, followed by a line break, as a new last line, in order. A line that
  // does not fit whole raises ELineInsertionError; the lines before it stay, and nothing of
  // it or of those after it goes in.
  void AppendLines(std::span<const std::string> lines);
  void AppendLine(std::string_view line);

  std::uint64_t FreeCharacters() const { return FModel.FreeCharacters(); }
  std::uint64_t LineCount() const { return FModel.LineCount(); }
  // Line `line` as the characters it stands for (control characters included).
  QString LineText(std::uint64_t line) const;

  // The background and the colour of all text, until the next call. Until the first call,
  // the system's window colour and window-text colour.
  void SetColors(const QColor& background, const QColor& text);
  QColor BackgroundColor() const;
  QColor TextColor() const;

  bool HasSelection() const { return FModel.HasSelection(); }
  QString SelectedText() const;
  void SelectAll();
  void Copy() const;
  // Selects from (line, column) to (line, column), columns counting bytes.
  void Select(std::uint64_t from_line, std::size_t from_column, std::uint64_t to_line,
              std::size_t to_column);

  const TLogModel& Model() const { return FModel; }

  // Find: Ctrl+F opens the bar (or "Rechercher..." in the context menu), F3 and Shift+F3 find
  // the next and previous match, Escape closes it and gives the focus back to the view, with
  // the match still selected.
  void OpenFind();
  void CloseFind();
  void FindNext(bool forward);
  TFindBar* FindBar() const { return FFindBar; }

  // Save: Ctrl+S (or "Enregistrer le journal..." in the context menu) asks where, then writes
  // the lines there in slices, the progress in a strip at the view's bottom; Escape in the
  // view cancels. A failure shows the default handler's box.
  void SaveLog();
  void CancelSave();
  bool Saving() const { return FSave != nullptr; }
  QString SaveProgress() const;
  // Asks where to save, proposing a path; an empty answer saves nothing. By default the
  // system's save dialog.
  using TAskSavePath = std::function<QString(const QString& proposed)>;
  void SetAskSavePath(TAskSavePath ask) { FAskSavePath = std::move(ask); }
  // "quorvel-YYYYMMDD-HHMMSS.txt" in the user's documents folder, else the home folder.
  static QString ProposedSavePath();

  // Ctrl+L (or "Effacer le journal" in the context menu): the view empties, its memory goes
  // back to the system, find closes; lines go on coming.
  void ClearLog();

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
  void UpdateMetrics();
  // Brings the scroll bars to where the model stands, and repaints.
  void Sync();
  void ReadLocale();
  void DrawLine(QPainter& painter, std::string_view bytes, int top, qreal from_x, qreal to_x,
                const QColor& color) const;
  void ExtendSelectionTo(QPoint point);
  void FindWork();
  void SaveWork();
  void EndSave();
  // The find bar and the save strip along the bottom edge, the text above them.
  void PlaceBars();
  void ShareSelection() const;

  TLogModel FModel;
  QColor FBackground;  // invalid: the system's
  QColor FForeground;
  int FAscent = 10;
  bool FSelecting = false;
  bool FSyncing = false;
  QPoint FLastMouse;
  QBasicTimer FAutoScroll;
  TFindBar* FFindBar;
  QTimer* FFindWork;      // the next slice of a search or a count
  QRect FNewLinesMarker;  // where "new lines below" is drawn, when it is
  QLabel* FSaveStrip;
  QTimer* FSaveWork;  // the next slice of a save
  std::unique_ptr<TLogSave> FSave;
  TAskSavePath FAskSavePath;
};
