#include "ui/qt/LogView.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

#include "ui/CodePage.h"

namespace {

constexpr int kMargin = 2;  // between the frame and the text, as in a rich-text control
constexpr int kHorizontalStep = 20;

QString Displayed(std::string_view bytes) {
  QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
  QChar* out = text.data();
  for (const char c : bytes)
    *out++ = QChar(DisplayedCharacter(static_cast<unsigned char>(c)));
  return text;
}

QString Decoded(std::string_view bytes) {
  QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
  QChar* out = text.data();
  for (const char c : bytes)
    *out++ = QChar(kWindows1252[static_cast<unsigned char>(c)]);
  return text;
}

bool IsWordCharacter(char byte) {
  const QChar c(kWindows1252[static_cast<unsigned char>(byte)]);
  return c.isLetterOrNumber() || c == QLatin1Char('_');
}

}  // namespace

TLogView::TLogView(std::uint64_t capacity, QWidget* parent)
    : QAbstractScrollArea(parent), FText(capacity) {
  QFont font(QStringLiteral("Arial"), 8);
  // Unshaped text keeps every glyph at the sum of the advances before it, so that what is
  // drawn, what is selected and what is measured agree.
  font.setStyleStrategy(QFont::PreferNoShaping);
  font.setKerning(false);
  setFont(font);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setAutoFillBackground(false);
  UpdateMetrics();
}

void TLogView::UpdateMetrics() {
  QFont unshaped = font();
  unshaped.setStyleStrategy(QFont::PreferNoShaping);
  unshaped.setKerning(false);
  if (unshaped != font()) setFont(unshaped);
  const QFontMetricsF metrics(font());
  for (int byte = 0; byte < 256; ++byte)
    FAdvance[byte] = static_cast<float>(
        metrics.horizontalAdvance(QChar(DisplayedCharacter(static_cast<unsigned char>(byte)))));
  FLineHeight = std::max(1, static_cast<int>(std::ceil(metrics.lineSpacing())));
  FAscent = static_cast<int>(std::ceil(metrics.ascent()));
  // Tab stops every half inch, as in a rich-text control.
  FMetrics.TabWidth = static_cast<float>(logicalDpiX()) / 2;
  FText.SetMetrics(FMetrics);
  UpdateScrollBars();
}

void TLogView::AppendLines(std::span<const std::string> lines) {
  const bool follow = AtBottom();
  std::size_t appended = 0;
  while (appended < lines.size() && FText.Append(lines[appended]))
    ++appended;
  if (appended > 0) {
    UpdateScrollBars();
    if (follow) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    viewport()->update();
  }
  if (appended < lines.size()) throw ELineInsertionError();
}

void TLogView::AppendLine(std::string_view line) {
  const std::string copy(line);
  AppendLines(std::span(&copy, 1));
}

QString TLogView::LineText(std::uint64_t line) const {
  if (line >= FText.LineCount()) return {};
  return Decoded(FText.Line(line, FScratch));
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

bool TLogView::AtBottom() const {
  return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

int TLogView::VisibleRows() const {
  return std::max(1, viewport()->height() / FLineHeight);
}

void TLogView::UpdateScrollBars() {
  const auto lines = static_cast<qint64>(FText.LineCount());
  const int rows = VisibleRows();
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, static_cast<int>(std::clamp<qint64>(lines - rows, 0, INT32_MAX)));
  vertical->setPageStep(rows);
  vertical->setSingleStep(1);
  QScrollBar* horizontal = horizontalScrollBar();
  const int width = static_cast<int>(std::ceil(FText.WidestLine())) + 2 * kMargin;
  horizontal->setRange(0, std::max(0, width - viewport()->width()));
  horizontal->setPageStep(std::max(1, viewport()->width()));
  horizontal->setSingleStep(kHorizontalStep);
}

qreal TLogView::LeftOf(std::string_view bytes, std::size_t column) const {
  float x = 0;
  for (std::size_t i = 0; i < column && i < bytes.size(); ++i)
    x = FMetrics.After(x, static_cast<unsigned char>(bytes[i]));
  return x;
}

// Draws the characters of `bytes` that lie between from_x and to_x (viewport coordinates),
// in runs between tabs.
void TLogView::DrawLine(QPainter& painter, std::string_view bytes, int top, qreal from_x,
                        qreal to_x, const QColor& color) const {
  painter.setPen(color);
  const qreal origin = kMargin - horizontalScrollBar()->value();
  const int baseline = top + FAscent;
  float x = 0;  // from the line's start
  std::size_t run_begin = 0;
  qreal run_x = origin;
  auto flush = [&](std::size_t end) {
    if (end > run_begin)
      painter.drawText(QPointF(run_x, baseline),
                       Displayed(bytes.substr(run_begin, end - run_begin)));
  };
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    const float next = FMetrics.After(x, byte);
    if (byte == '\t' || origin + next <= from_x) {
      flush(i);
      run_begin = i + 1;
      run_x = origin + next;
    }
    x = next;
    if (origin + x > to_x) {
      flush(i + 1);
      return;
    }
  }
  flush(bytes.size());
}

void TLogView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.fillRect(viewport()->rect(), BackgroundColor());
  painter.setFont(font());
  const QColor text = TextColor();
  const QColor highlight = palette().color(QPalette::Highlight);
  const QColor highlighted = palette().color(QPalette::HighlightedText);
  const int width = viewport()->width();
  const auto first = static_cast<std::uint64_t>(verticalScrollBar()->value());
  const auto [from, to] = std::minmax(FAnchor, FCursor);
  const qreal origin = kMargin - horizontalScrollBar()->value();
  for (int row = 0; row * FLineHeight < viewport()->height(); ++row) {
    const std::uint64_t line = first + static_cast<std::uint64_t>(row);
    if (line >= FText.LineCount()) break;
    const std::string_view bytes = FText.Line(line, FScratch);
    const int top = row * FLineHeight;
    DrawLine(painter, bytes, top, 0, width, text);
    if (!HasSelection() || line < from.Line || line > to.Line) continue;
    // The selected part again, on the highlight; a selected line break shows as a blank.
    const std::size_t begin = line == from.Line ? from.Column : 0;
    const qreal left = origin + LeftOf(bytes, begin);
    const qreal right = line == to.Line ? origin + LeftOf(bytes, to.Column)
                                        : origin + LeftOf(bytes, bytes.size()) + FAdvance[' '];
    if (right <= left) continue;
    const QRectF band(left, top, right - left, FLineHeight);
    painter.fillRect(band, highlight);
    painter.save();
    painter.setClipRect(band);
    DrawLine(painter, bytes, top, std::max<qreal>(0, left), std::min<qreal>(width, right),
             highlighted);
    painter.restore();
  }
}

void TLogView::resizeEvent(QResizeEvent* event) {
  const bool follow = AtBottom();
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
  if (follow) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TLogView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) UpdateMetrics();
}

TLogView::TPosition TLogView::PositionAt(QPoint point) const {
  if (FText.LineCount() == 0) return {};
  const qint64 row = point.y() < 0 ? -1 - (-point.y() - 1) / FLineHeight : point.y() / FLineHeight;
  const qint64 line = std::clamp<qint64>(verticalScrollBar()->value() + row, 0,
                                         static_cast<qint64>(FText.LineCount()) - 1);
  const std::string_view bytes = FText.Line(static_cast<std::uint64_t>(line), FScratch);
  const qreal target = point.x() - kMargin + horizontalScrollBar()->value();
  float x = 0;
  std::size_t column = 0;
  for (; column < bytes.size(); ++column) {
    const float next = FMetrics.After(x, static_cast<unsigned char>(bytes[column]));
    if (target < (x + next) / 2) break;
    x = next;
  }
  return {static_cast<std::uint64_t>(line), column};
}

void TLogView::Select(std::uint64_t from_line, std::size_t from_column, std::uint64_t to_line,
                      std::size_t to_column) {
  const auto clamp = [this](std::uint64_t line, std::size_t column) -> TPosition {
    if (FText.LineCount() == 0) return {};
    line = std::min(line, FText.LineCount() - 1);
    return {line, std::min(column, FText.LineLength(line))};
  };
  FAnchor = clamp(from_line, from_column);
  FCursor = clamp(to_line, to_column);
  viewport()->update();
}

void TLogView::SelectAll() {
  if (FText.LineCount() == 0) return;
  const std::uint64_t last = FText.LineCount() - 1;
  Select(0, 0, last, FText.LineLength(last));
}

QString TLogView::SelectedText() const {
  if (!HasSelection()) return {};
  const auto [from, to] = std::minmax(FAnchor, FCursor);
  QString text;
  for (std::uint64_t line = from.Line; line <= to.Line; ++line) {
    const std::string_view bytes = FText.Line(line, FScratch);
    const std::size_t begin = line == from.Line ? from.Column : 0;
    const std::size_t end = line == to.Line ? to.Column : bytes.size();
    text += Decoded(bytes.substr(begin, end - begin));
    if (line != to.Line) text += QLatin1Char('\n');
  }
  return text;
}

void TLogView::Copy() const {
  if (HasSelection()) QGuiApplication::clipboard()->setText(SelectedText());
}

void TLogView::keyPressEvent(QKeyEvent* event) {
  QScrollBar* vertical = verticalScrollBar();
  QScrollBar* horizontal = horizontalScrollBar();
  if (event == QKeySequence::Copy ||
      (event->key() == Qt::Key_Insert && event->modifiers() == Qt::ControlModifier)) {
    Copy();
  } else if (event == QKeySequence::SelectAll) {
    SelectAll();
  } else if (event->key() == Qt::Key_Home && (event->modifiers() & Qt::ControlModifier)) {
    vertical->setValue(0);
    horizontal->setValue(0);
  } else if (event->key() == Qt::Key_End && (event->modifiers() & Qt::ControlModifier)) {
    vertical->setValue(vertical->maximum());
  } else {
    switch (event->key()) {
      case Qt::Key_Up:
        vertical->triggerAction(QAbstractSlider::SliderSingleStepSub);
        break;
      case Qt::Key_Down:
        vertical->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        break;
      case Qt::Key_PageUp:
        vertical->triggerAction(QAbstractSlider::SliderPageStepSub);
        break;
      case Qt::Key_PageDown:
        vertical->triggerAction(QAbstractSlider::SliderPageStepAdd);
        break;
      case Qt::Key_Left:
        horizontal->triggerAction(QAbstractSlider::SliderSingleStepSub);
        break;
      case Qt::Key_Right:
        horizontal->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        break;
      case Qt::Key_Home:
        horizontal->setValue(0);
        break;
      case Qt::Key_End:
        horizontal->setValue(horizontal->maximum());
        break;
      default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
  }
  event->accept();
}

void TLogView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  const TPosition at = PositionAt(event->position().toPoint());
  if (!(event->modifiers() & Qt::ShiftModifier)) FAnchor = at;
  FCursor = at;
  FSelecting = true;
  FLastMouse = event->position().toPoint();
  viewport()->update();
  event->accept();
}

void TLogView::ExtendSelectionTo(QPoint point) {
  FLastMouse = point;
  FCursor = PositionAt(point);
  viewport()->update();
}

void TLogView::mouseMoveEvent(QMouseEvent* event) {
  if (!FSelecting) return QAbstractScrollArea::mouseMoveEvent(event);
  event->accept();
  const QPoint point = event->position().toPoint();
  ExtendSelectionTo(point);
  // Dragging past an edge keeps scrolling that way.
  if (viewport()->rect().contains(point))
    FAutoScroll.stop();
  else if (!FAutoScroll.isActive())
    FAutoScroll.start(50, this);
}

void TLogView::timerEvent(QTimerEvent* event) {
  if (event->timerId() != FAutoScroll.timerId()) return QAbstractScrollArea::timerEvent(event);
  if (!FSelecting) return FAutoScroll.stop();
  if (FLastMouse.y() < 0) verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  if (FLastMouse.y() > viewport()->height())
    verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  if (FLastMouse.x() < 0)
    horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  if (FLastMouse.x() > viewport()->width())
    horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  ExtendSelectionTo(FLastMouse);
}

void TLogView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mouseReleaseEvent(event);
  FSelecting = false;
  FAutoScroll.stop();
  event->accept();
}

void TLogView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || FText.LineCount() == 0) return;
  const TPosition at = PositionAt(event->position().toPoint());
  const std::string_view bytes = FText.Line(at.Line, FScratch);
  std::size_t begin = std::min(at.Column, bytes.size());
  std::size_t end = begin;
  if (begin < bytes.size() && IsWordCharacter(bytes[begin])) {
    while (begin > 0 && IsWordCharacter(bytes[begin - 1]))
      --begin;
    while (end < bytes.size() && IsWordCharacter(bytes[end]))
      ++end;
  } else if (begin < bytes.size()) {
    ++end;
  }
  FAnchor = {at.Line, begin};
  FCursor = {at.Line, end};
  FSelecting = false;
  viewport()->update();
}

void TLogView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* copy = menu.addAction(tr("&Copy"), this, &TLogView::Copy);
  copy->setShortcut(QKeySequence::Copy);
  copy->setEnabled(HasSelection());
  menu.addSeparator();
  QAction* all = menu.addAction(tr("Select &All"), this, &TLogView::SelectAll);
  all->setShortcut(QKeySequence::SelectAll);
  all->setEnabled(FText.LineCount() > 0);
  menu.exec(event->globalPos());
}
