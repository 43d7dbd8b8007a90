#include "ui/qt/LogView.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QGuiApplication>
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
#include "ui/qt/Application.h"

namespace {

QString FromUtf16(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TLogView::TLogView(std::uint64_t capacity, QWidget* parent)
    : QAbstractScrollArea(parent),
      FController(*this, capacity, "\n"),
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
  connect(FFindWork, &QTimer::timeout, this, [this] { FController.FindWork(); });
  FSaveWork->setSingleShot(true);
  connect(FSaveWork, &QTimer::timeout, this, [this] { FController.SaveWork(); });
  connect(FFindBar, &TFindBar::Changed, this, [this] {
    FController.FindText(FFindBar->Text().toStdU16String(), FFindBar->MatchCase());
  });
  connect(FFindBar, &TFindBar::Next, this, [this] { FController.FindNext(true); });
  connect(FFindBar, &TFindBar::Previous, this, [this] { FController.FindNext(false); });
  connect(FFindBar, &TFindBar::Closed, this, [this] { FController.CloseFind(); });
  const auto shortcut = [this](QKeySequence keys, auto action) {
    auto* key = new QShortcut(keys, this, action);
    key->setContext(Qt::WindowShortcut);
  };
  shortcut(QKeySequence::Find, [this] { OpenFind(); });
  shortcut(QKeySequence(Qt::Key_F3), [this] { FController.FindNext(true); });
  shortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { FController.FindNext(false); });
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
  FController.Model().SetThousandsSeparator(separator.isEmpty() ? std::string("\u202F")
                                                                : separator.toStdString());
}

void TLogView::PlaceBars() {
  const int find = Model().FindOpen() ? FFindBar->sizeHint().height() : 0;
  const int strip = Saving() ? FSaveStrip->sizeHint().height() : 0;
  setViewportMargins(0, 0, 0, find + strip);
  const QRect area = viewport()->geometry();
  FSaveStrip->setGeometry(area.left(), area.bottom() + 1, area.width(), strip);
  FFindBar->setGeometry(area.left(), area.bottom() + 1 + strip, area.width(), find);
  FSaveStrip->setVisible(strip > 0);
}

void TLogView::ShowFindBar(bool shown) {
  FFindBar->setVisible(shown);
  PlaceBars();
}

void TLogView::ShowSaveStrip(const std::string& text) {
  FSaveStrip->setText(QString::fromStdString(text));
  PlaceBars();
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

std::filesystem::path TLogView::AskSavePath() {
  const QString path = FAskSavePath(ProposedSavePath());
  return path.isEmpty() ? std::filesystem::path()
                        : std::filesystem::path(QFile::encodeName(path).toStdString());
}

void TLogView::ShowError(const std::exception& error) {
  TApplication::HandleException(error);
}

void TLogView::StartWork(TLogWork work) {
  QTimer* timer = work == TLogWork::Find ? FFindWork : FSaveWork;
  if (!timer->isActive()) timer->start(0);
}

void TLogView::StopWork(TLogWork work) {
  (work == TLogWork::Find ? FFindWork : FSaveWork)->stop();
}

void TLogView::PutOnClipboard(std::u16string_view text) {
  QGuiApplication::clipboard()->setText(FromUtf16(text));
}

bool TLogView::HasSelectionBuffer() const {
  return QGuiApplication::clipboard()->supportsSelection();
}

void TLogView::PutOnSelectionBuffer(std::u16string_view text) {
  QGuiApplication::clipboard()->setText(FromUtf16(text), QClipboard::Selection);
}

void TLogView::UpdateMetrics() {
  QFont unshaped = font();
  unshaped.setStyleStrategy(QFont::PreferNoShaping);
  unshaped.setKerning(false);
  if (unshaped != font()) setFont(unshaped);
  const QFontMetricsF metrics(font());
  FAscent = static_cast<int>(std::ceil(metrics.ascent()));
  // Tab stops every half inch, as in a rich-text control.
  FController.Model().SetMetrics(
      [metrics](char32_t shown) {
        return static_cast<float>(metrics.horizontalAdvance(QString::fromUcs4(&shown, 1)));
      },
      static_cast<float>(logicalDpiX()) / 2, static_cast<int>(std::ceil(metrics.lineSpacing())));
  FController.Sync();
}

void TLogView::AppendLine(std::string_view line) {
  const std::string copy(line);
  AppendLines(std::span(&copy, 1));
}

QString TLogView::LineText(std::uint64_t line) const {
  return QString::fromStdU16String(Model().CodePage().Characters(Model().Line(line)));
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

QString TLogView::SelectedText() const {
  return QString::fromStdU16String(FController.SelectedText());
}

void TLogView::SyncScrollBars() {
  const TLogModel& model = Model();
  FSyncing = true;
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, static_cast<int>(std::min<std::uint64_t>(model.MaxTop(), INT32_MAX)));
  vertical->setPageStep(model.Rows());
  vertical->setSingleStep(1);
  vertical->setValue(static_cast<int>(std::min<std::uint64_t>(model.Top(), INT32_MAX)));
  QScrollBar* horizontal = horizontalScrollBar();
  horizontal->setRange(0, model.MaxLeft());
  horizontal->setPageStep(std::max(1, model.ViewportWidth()));
  horizontal->setSingleStep(TLogModel::kHorizontalStep);
  horizontal->setValue(model.Left());
  FSyncing = false;
  viewport()->update();
}

void TLogView::scrollContentsBy(int, int) {
  if (FSyncing) return;
  FController.Model().ScrollTo(static_cast<std::uint64_t>(verticalScrollBar()->value()));
  FController.Model().ScrollLeftTo(horizontalScrollBar()->value());
  viewport()->update();
}

void TLogView::Fill(TLogRole role, const TLogRect& rect) {
  const QColor color = role == TLogRole::Background ? BackgroundColor()
                       : role == TLogRole::Match    ? QColor(255, 190, 0, 120)
                                                    : palette().color(QPalette::Highlight);
  FPainter->fillRect(QRectF(rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top),
                     color);
}

// A match's text stays as it is: its band is see-through.
void TLogView::DrawRun(const TLogRun& run) {
  if (run.Role == TLogRole::MatchText) return;
  FPainter->setPen(run.Role == TLogRole::Text ? TextColor()
                                              : palette().color(QPalette::HighlightedText));
  if (run.Clip) {
    FPainter->save();
    FPainter->setClipRect(QRectF(run.Clip->Left, run.Clip->Top, run.Clip->Right - run.Clip->Left,
                                 run.Clip->Bottom - run.Clip->Top));
  }
  FPainter->drawText(QPointF(run.X, run.Top + FAscent), FromUtf16(run.Text));
  if (run.Clip) FPainter->restore();
}

TLogRect TLogView::DrawMarker(const std::string& text) {
  const QString note = QString::fromStdString(text);
  const QFontMetrics metrics(font());
  QRect marker(0, 0, metrics.horizontalAdvance(note) + 12, metrics.height() + 4);
  marker.moveBottomRight(viewport()->rect().bottomRight() - QPoint(4, 4));
  FPainter->fillRect(marker, palette().color(QPalette::Highlight));
  FPainter->setPen(palette().color(QPalette::HighlightedText));
  FPainter->drawText(marker, Qt::AlignCenter, note);
  return {static_cast<float>(marker.left()), static_cast<float>(marker.top()),
          static_cast<float>(marker.right() + 1), static_cast<float>(marker.bottom() + 1)};
}

void TLogView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.setFont(font());
  FPainter = &painter;
  FController.Paint(viewport()->width(), viewport()->height());
  FPainter = nullptr;
}

void TLogView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  PlaceBars();
  FController.Model().SetViewport(viewport()->width(), viewport()->height());
  FController.Sync();
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

void TLogView::keyPressEvent(QKeyEvent* event) {
  using K = TLogKeyPress;
  static constexpr std::pair<int, K::TCode> kKeys[] = {
      {Qt::Key_C, K::C},           {Qt::Key_Insert, K::Insert}, {Qt::Key_A, K::A},
      {Qt::Key_F, K::F},           {Qt::Key_S, K::S},           {Qt::Key_L, K::L},
      {Qt::Key_Escape, K::Escape}, {Qt::Key_F3, K::F3},         {Qt::Key_Up, K::Up},
      {Qt::Key_Down, K::Down},     {Qt::Key_PageUp, K::PageUp}, {Qt::Key_PageDown, K::PageDown},
      {Qt::Key_Left, K::Left},     {Qt::Key_Right, K::Right},   {Qt::Key_Home, K::Home},
      {Qt::Key_End, K::End}};
  const auto key = std::find_if(std::begin(kKeys), std::end(kKeys),
                                [event](const auto& pair) { return pair.first == event->key(); });
  const K press{key == std::end(kKeys) ? K::Other : key->second,
                (event->modifiers() & Qt::ControlModifier) != 0,
                (event->modifiers() & Qt::ShiftModifier) != 0};
  if (!FController.Key(press)) return QAbstractScrollArea::keyPressEvent(event);
  event->accept();
}

void TLogView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  const QPoint point = event->position().toPoint();
  FController.MousePress(point.x(), point.y(), event->modifiers() & Qt::ShiftModifier);
  event->accept();
}

void TLogView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  if (!FController.MouseMove(point.x(), point.y()))
    return QAbstractScrollArea::mouseMoveEvent(event);
  event->accept();
}

void TLogView::timerEvent(QTimerEvent* event) {
  if (event->timerId() != FAutoScroll.timerId()) return QAbstractScrollArea::timerEvent(event);
  FController.AutoScrollTick();
}

void TLogView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mouseReleaseEvent(event);
  FController.MouseRelease();
  event->accept();
}

void TLogView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint point = event->position().toPoint();
  FController.DoubleClick(point.x(), point.y());
}

std::unique_ptr<QMenu> TLogView::ContextMenu() {
  auto menu = std::make_unique<QMenu>(this);
  for (const TLogMenuEntry& entry : FController.MenuEntries()) {
    if (entry.SeparatorBefore) menu->addSeparator();
    QAction* action =
        menu->addAction(QString::fromUtf8(entry.Text), this,
                        [this, command = entry.Command] { FController.Execute(command); });
    action->setShortcut(QKeySequence(QString::fromUtf8(entry.Shortcut)));
    action->setEnabled(entry.Enabled);
  }
  return menu;
}

void TLogView::contextMenuEvent(QContextMenuEvent* event) {
  ContextMenu()->exec(event->globalPos());
}
