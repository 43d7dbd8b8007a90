#include "ui/qt/LogView.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QShortcut>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "ui/log/LogTexts.h"
#include "ui/log/VisibleText.h"
#include "ui/qt/Application.h"
#include "ui/qt/FindBar.h"

namespace {

constexpr auto kSlice = std::chrono::milliseconds(10);

void AppendCharacter(QString& text, char32_t c) {
  if (c < 0x10000) {
    text += QChar(static_cast<char16_t>(c));
  } else {
    text += QChar(QChar::highSurrogate(c));
    text += QChar(QChar::lowSurrogate(c));
  }
}

}  // namespace

TLogView::TLogView(std::uint64_t capacity, QWidget* parent)
    : QAbstractScrollArea(parent),
      FModel(capacity),
      FFindBar(new TFindBar(this)),
      FFindWork(new QTimer(this)),
      FSaveStrip(new QLabel(this)),
      FSaveWork(new QTimer(this)) {
  QFont font(QStringLiteral("Arial"), 8);
  // Unshaped text keeps every glyph at the sum of the advances before it, so that what is
  // drawn, what is selected and what is measured agree.
  font.setStyleStrategy(QFont::PreferNoShaping);
  font.setKerning(false);
  setFont(font);
  setAccessibleName(QString::fromUtf8(TLogTexts::kName));
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setAutoFillBackground(false);
  FFindBar->hide();
  FSaveStrip->setObjectName(QStringLiteral("SaveStrip"));
  FSaveStrip->setAutoFillBackground(true);
  FSaveStrip->setBackgroundRole(QPalette::Window);
  FSaveStrip->setContentsMargins(6, 2, 6, 2);
  FSaveStrip->hide();
  FFindWork->setSingleShot(true);
  connect(FFindWork, &QTimer::timeout, this, &TLogView::FindWork);
  FSaveWork->setSingleShot(true);
  connect(FSaveWork, &QTimer::timeout, this, &TLogView::SaveWork);
  connect(FFindBar, &TFindBar::Changed, this, [this] {
    FModel.FindText(FFindBar->Text().toStdU16String(), FFindBar->MatchCase());
    FindWork();
  });
  connect(FFindBar, &TFindBar::Next, this, [this] { FindNext(true); });
  connect(FFindBar, &TFindBar::Previous, this, [this] { FindNext(false); });
  connect(FFindBar, &TFindBar::Closed, this, &TLogView::CloseFind);
  const auto shortcut = [this](QKeySequence keys, auto action) {
    auto* key = new QShortcut(keys, this, action);
    key->setContext(Qt::WindowShortcut);
  };
  shortcut(QKeySequence::Find, [this] { OpenFind(); });
  shortcut(QKeySequence(Qt::Key_F3), [this] { FindNext(true); });
  shortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { FindNext(false); });
  FAskSavePath = [this](const QString& proposed) {
    return QFileDialog::getSaveFileName(this, QString::fromUtf8(TLogTexts::kSaveTitle), proposed,
                                        QString::fromUtf8(TLogTexts::kTextFiles) + " (*.txt);;" +
                                            QString::fromUtf8(TLogTexts::kAllFiles) + " (*)");
  };
  ReadLocale();
  UpdateMetrics();
}

TLogView::~TLogView() = default;

void TLogView::ReadLocale() {
  const QString separator = QLocale().groupSeparator();
  FModel.SetThousandsSeparator(separator.isEmpty() ? std::string("\u202F")
                                                   : separator.toStdString());
}

void TLogView::OpenFind() {
  FModel.OpenFind();
  FFindBar->show();
  PlaceBars();
  FFindBar->Focus();
  Sync();
}

void TLogView::CloseFind() {
  FModel.CloseFind();
  FFindBar->hide();
  PlaceBars();
  setFocus();
  Sync();
}

void TLogView::FindNext(bool forward) {
  if (!FModel.FindAgain(forward)) return OpenFind();
  FindWork();
}

// A slice of the search, then of the count, and the next slice after the event loop's turn.
void TLogView::FindWork() {
  const bool more = FModel.ContinueFind(kSlice);
  FFindBar->SetStatus(QString::fromStdString(FModel.FindStatus()));
  Sync();
  if (more) FFindWork->start(0);
}

void TLogView::PlaceBars() {
  const int find = FModel.FindOpen() ? FFindBar->sizeHint().height() : 0;
  const int strip = FSave ? FSaveStrip->sizeHint().height() : 0;
  setViewportMargins(0, 0, 0, find + strip);
  const QRect area = viewport()->geometry();
  FSaveStrip->setGeometry(area.left(), area.bottom() + 1, area.width(), strip);
  FFindBar->setGeometry(area.left(), area.bottom() + 1 + strip, area.width(), find);
  FSaveStrip->setVisible(strip > 0);
}

QString TLogView::ProposedSavePath() {
  const auto local = [](const QString& folder) {
    return std::filesystem::path(QFile::encodeName(folder).toStdString());
  };
  return QFile::decodeName(
      ProposedLogPath(local(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)),
                      local(QDir::homePath()), std::chrono::system_clock::now())
          .c_str());
}

void TLogView::SaveLog() {
  if (FSave) return;
  const QString path = FAskSavePath(ProposedSavePath());
  if (path.isEmpty()) return;
  try {
    FSave = std::make_unique<TLogSave>(
        FModel.Text(), FModel.CodePage(),
        std::filesystem::path(QFile::encodeName(path).toStdString()), "\n");
  } catch (const std::exception& error) {
    return TApplication::HandleException(error);
  }
  FSaveStrip->setText(QString::fromStdString(FSave->Progress()));
  PlaceBars();
  SaveWork();
}

// A slice of the save, the strip brought up to date, and the next slice after the event
// loop's turn, so that input and appends go on.
void TLogView::SaveWork() {
  if (!FSave) return;
  try {
    if (FSave->Continue(kSlice)) {
      FSaveStrip->setText(QString::fromStdString(FSave->Progress()));
      FSaveWork->start(0);
      return;
    }
  } catch (const std::exception& error) {
    EndSave();
    return TApplication::HandleException(error);
  }
  EndSave();
}

void TLogView::CancelSave() {
  if (!FSave) return;
  FSave->Cancel();
  EndSave();
}

void TLogView::EndSave() {
  FSaveWork->stop();
  FSave.reset();
  PlaceBars();
  Sync();
}

QString TLogView::SaveProgress() const {
  return FSave ? FSaveStrip->text() : QString();
}

void TLogView::ClearLog() {
  CancelSave();
  FFindWork->stop();
  FModel.Clear();
  FFindBar->hide();
  PlaceBars();
  FFindBar->SetStatus({});
  Sync();
}

void TLogView::ShareSelection() const {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (HasSelection() && clipboard->supportsSelection())
    clipboard->setText(SelectedText(), QClipboard::Selection);
}

void TLogView::UpdateMetrics() {
  QFont unshaped = font();
  unshaped.setStyleStrategy(QFont::PreferNoShaping);
  unshaped.setKerning(false);
  if (unshaped != font()) setFont(unshaped);
  const QFontMetricsF metrics(font());
  FAscent = static_cast<int>(std::ceil(metrics.ascent()));
  // Tab stops every half inch, as in a rich-text control.
  FModel.SetMetrics(
      [metrics](char32_t shown) {
        QString text;
        AppendCharacter(text, shown);
        return static_cast<float>(metrics.horizontalAdvance(text));
      },
      static_cast<float>(logicalDpiX()) / 2, static_cast<int>(std::ceil(metrics.lineSpacing())));
  Sync();
}

void TLogView::AppendLines(std::span<const std::string> lines) {
  const std::size_t appended = FModel.AppendLines(lines);
  if (appended > 0) Sync();
  if (appended > 0 && FModel.FindOpen() && !FFindWork->isActive()) FFindWork->start(0);
  if (appended < lines.size()) throw ELineInsertionError();
}

void TLogView::AppendLine(std::string_view line) {
  const std::string copy(line);
  AppendLines(std::span(&copy, 1));
}

QString TLogView::LineText(std::uint64_t line) const {
  return QString::fromStdU16String(FModel.CodePage().Characters(FModel.Line(line)));
}

void TLogView::SetColors(const QColor& background, const QColor& text) {
  FBackground = background;
  FForeground = text;
  viewport()->update();
}

QColor TLogView::BackgroundColor() const {
  return FBackground.isValid() ? FBackground : palette().color(QPalette::Base);
}

QColor TLogView::TextColor() const {
  return FForeground.isValid() ? FForeground : palette().color(QPalette::Text);
}

void TLogView::Sync() {
  FSyncing = true;
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, static_cast<int>(std::min<std::uint64_t>(FModel.MaxTop(), INT32_MAX)));
  vertical->setPageStep(FModel.Rows());
  vertical->setSingleStep(1);
  vertical->setValue(static_cast<int>(std::min<std::uint64_t>(FModel.Top(), INT32_MAX)));
  QScrollBar* horizontal = horizontalScrollBar();
  horizontal->setRange(0, FModel.MaxLeft());
  horizontal->setPageStep(std::max(1, FModel.ViewportWidth()));
  horizontal->setSingleStep(TLogModel::kHorizontalStep);
  horizontal->setValue(FModel.Left());
  FSyncing = false;
  viewport()->update();
}

void TLogView::scrollContentsBy(int, int) {
  if (FSyncing) return;
  FModel.ScrollTo(static_cast<std::uint64_t>(verticalScrollBar()->value()));
  FModel.ScrollLeftTo(horizontalScrollBar()->value());
  viewport()->update();
}

// Draws the characters of `bytes` that lie between from_x and to_x (viewport coordinates),
// in runs between tabs.
void TLogView::DrawLine(QPainter& painter, std::string_view bytes, int top, qreal from_x,
                        qreal to_x, const QColor& color) const {
  painter.setPen(color);
  const TCodePage& code_page = FModel.CodePage();
  const qreal origin = FModel.XOf(bytes, 0);
  const int baseline = top + FAscent;
  float x = 0;  // from the line's start
  QString run;
  qreal run_x = origin;
  auto flush = [&] {
    if (!run.isEmpty()) painter.drawText(QPointF(run_x, baseline), run);
    run.clear();
  };
  for (std::size_t at = 0; at < bytes.size();) {
    const TCodePage::TCharacter c = code_page.At(bytes, at);
    at += c.Length;
    const float next = FModel.After(x, c.Code);
    if (c.Code == u'\t' || origin + next <= from_x) {
      flush();
      run_x = origin + next;
    } else {
      AppendCharacter(run, VisibleCharacter(c.Code));
    }
    x = next;
    if (origin + x > to_x) break;
  }
  flush();
}

void TLogView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.fillRect(viewport()->rect(), BackgroundColor());
  painter.setFont(font());
  const QColor text = TextColor();
  const QColor highlight = palette().color(QPalette::Highlight);
  const QColor highlighted = palette().color(QPalette::HighlightedText);
  const int width = viewport()->width();
  const int height = FModel.LineHeight();
  for (int row = 0; row * height < viewport()->height(); ++row) {
    const std::uint64_t line = FModel.Top() + static_cast<std::uint64_t>(row);
    if (line >= FModel.LineCount()) break;
    const std::string_view bytes = FModel.Line(line);
    const int top = row * height;
    if (FModel.FindOpen()) {
      FModel.Finder().ForEachMatch(bytes, [&](std::size_t at, std::size_t end) {
        const qreal left = FModel.XOf(bytes, at);
        const qreal right = FModel.XOf(bytes, end);
        painter.fillRect(QRectF(left, top, right - left, height), QColor(255, 190, 0, 120));
      });
    }
    DrawLine(painter, bytes, top, 0, width, text);
    const TLogModel::TSpan selected = FModel.SelectedIn(line);
    if (selected.From == selected.To && !selected.ThroughEnd) continue;
    // The selected part again, on the highlight; a selected line break shows as a blank.
    const qreal left = FModel.XOf(bytes, selected.From);
    const qreal right =
        FModel.XOf(bytes, selected.To) + (selected.ThroughEnd ? FModel.Advance(' ') : 0);
    if (right <= left) continue;
    const QRectF band(left, top, right - left, height);
    painter.fillRect(band, highlight);
    painter.save();
    painter.setClipRect(band);
    DrawLine(painter, bytes, top, std::max<qreal>(0, left), std::min<qreal>(width, right),
             highlighted);
    painter.restore();
  }
  // Lines came in while the view looked elsewhere: say so, without a control of its own.
  FNewLinesMarker = {};
  if (const QString note = QString::fromStdString(FModel.NewLinesMarker()); !note.isEmpty()) {
    const QFontMetrics metrics(font());
    FNewLinesMarker = QRect(0, 0, metrics.horizontalAdvance(note) + 12, metrics.height() + 4);
    FNewLinesMarker.moveBottomRight(viewport()->rect().bottomRight() - QPoint(4, 4));
    painter.fillRect(FNewLinesMarker, palette().color(QPalette::Highlight));
    painter.setPen(palette().color(QPalette::HighlightedText));
    painter.drawText(FNewLinesMarker, Qt::AlignCenter, note);
  }
}

void TLogView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  PlaceBars();
  FModel.SetViewport(viewport()->width(), viewport()->height());
  Sync();
}

void TLogView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) UpdateMetrics();
  if (event->type() == QEvent::LocaleChange) ReadLocale();
}

void TLogView::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void TLogView::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

void TLogView::Select(std::uint64_t from_line, std::size_t from_column, std::uint64_t to_line,
                      std::size_t to_column) {
  FModel.Select({from_line, from_column}, {to_line, to_column});
  viewport()->update();
}

void TLogView::SelectAll() {
  FModel.SelectAll();
  viewport()->update();
}

QString TLogView::SelectedText() const {
  return QString::fromStdU16String(FModel.SelectedText(u"\n"));
}

void TLogView::Copy() const {
  if (HasSelection()) QGuiApplication::clipboard()->setText(SelectedText());
}

void TLogView::keyPressEvent(QKeyEvent* event) {
  const bool control = event->modifiers() & Qt::ControlModifier;
  if (event == QKeySequence::Copy || (event->key() == Qt::Key_Insert && control)) {
    Copy();
  } else if (event == QKeySequence::SelectAll) {
    SelectAll();
  } else if (event == QKeySequence::Save) {
    SaveLog();
  } else if (event->key() == Qt::Key_L && event->modifiers() == Qt::ControlModifier) {
    ClearLog();
  } else if (event->key() == Qt::Key_Escape && FSave) {
    CancelSave();
  } else {
    static constexpr std::pair<int, TLogKey> kKeys[] = {
        {Qt::Key_Up, TLogKey::Up},         {Qt::Key_Down, TLogKey::Down},
        {Qt::Key_PageUp, TLogKey::PageUp}, {Qt::Key_PageDown, TLogKey::PageDown},
        {Qt::Key_Left, TLogKey::Left},     {Qt::Key_Right, TLogKey::Right},
        {Qt::Key_Home, TLogKey::Home},     {Qt::Key_End, TLogKey::End}};
    const auto key = std::find_if(std::begin(kKeys), std::end(kKeys), [event](const auto& pair) {
      return pair.first == event->key();
    });
    if (key == std::end(kKeys)) return QAbstractScrollArea::keyPressEvent(event);
    FModel.Navigate(key->second, control, event->modifiers() & Qt::ShiftModifier);
    Sync();
  }
  event->accept();
}

void TLogView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  const QPoint point = event->position().toPoint();
  if (FNewLinesMarker.contains(point)) {
    FModel.ScrollToEnd();
    Sync();
    return event->accept();
  }
  const TLogModel::TPosition at = FModel.PositionAt(point.x(), point.y());
  FModel.Select(event->modifiers() & Qt::ShiftModifier ? FModel.Anchor() : at, at);
  FSelecting = true;
  FLastMouse = event->position().toPoint();
  viewport()->update();
  event->accept();
}

void TLogView::ExtendSelectionTo(QPoint point) {
  FLastMouse = point;
  FModel.MoveCursor(FModel.PositionAt(point.x(), point.y()));
  viewport()->update();
}

void TLogView::mouseMoveEvent(QMouseEvent* event) {
  if (!FSelecting) return QAbstractScrollArea::mouseMoveEvent(event);
  event->accept();
  const QPoint point = event->position().toPoint();
  ExtendSelectionTo(point);
  if (!FModel.DragBeyondEdge(point.x(), point.y()))
    FAutoScroll.stop();
  else if (!FAutoScroll.isActive())
    FAutoScroll.start(50, this);
}

void TLogView::timerEvent(QTimerEvent* event) {
  if (event->timerId() != FAutoScroll.timerId()) return QAbstractScrollArea::timerEvent(event);
  if (!FSelecting) return FAutoScroll.stop();
  FModel.DragStep(FLastMouse.x(), FLastMouse.y());
  Sync();
}

void TLogView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mouseReleaseEvent(event);
  FSelecting = false;
  FAutoScroll.stop();
  ShareSelection();
  event->accept();
}

void TLogView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || FModel.LineCount() == 0) return;
  const QPoint point = event->position().toPoint();
  FModel.SelectWordAt(FModel.PositionAt(point.x(), point.y()));
  FSelecting = false;
  ShareSelection();
  viewport()->update();
}

std::unique_ptr<QMenu> TLogView::ContextMenu() {
  auto menu = std::make_unique<QMenu>(this);
  QAction* copy = menu->addAction(QString::fromUtf8(TLogTexts::kCopy), this, &TLogView::Copy);
  copy->setShortcut(QKeySequence::Copy);
  copy->setEnabled(HasSelection());
  menu->addSeparator();
  QAction* all =
      menu->addAction(QString::fromUtf8(TLogTexts::kSelectAll), this, &TLogView::SelectAll);
  all->setShortcut(QKeySequence::SelectAll);
  all->setEnabled(FModel.LineCount() > 0);
  menu->addSeparator();
  QAction* find = menu->addAction(QString::fromUtf8(TLogTexts::kFind), this, &TLogView::OpenFind);
  find->setShortcut(QKeySequence::Find);
  menu->addSeparator();
  QAction* save = menu->addAction(QString::fromUtf8(TLogTexts::kSave), this, &TLogView::SaveLog);
  save->setShortcut(QKeySequence::Save);
  save->setEnabled(!FSave);
  QAction* clear =
      menu->addAction(QString::fromUtf8(TLogTexts::kClear), this, &TLogView::ClearLog);
  clear->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  return menu;
}

void TLogView::contextMenuEvent(QContextMenuEvent* event) {
  ContextMenu()->exec(event->globalPos());
}
