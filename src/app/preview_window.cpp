#include "app/preview_window.h"

#include <QAction>
#include <QBoxLayout>
#include <QScreen>

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <algorithm>

#include "ghostscript/ghostscript.h"

namespace a5merge {

namespace {

constexpr int kMargin = 14;     // grey around the page
constexpr int kButtonRow = 44;  // the buttons and the status line below the page

}  // namespace

QImage ImageOf(const Raster& raster) {
    const QImage::Format format =
        raster.channels == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    const QImage view(reinterpret_cast<const uchar*>(raster.pixels.data()), raster.width,
                      raster.height, raster.width * raster.channels, format);
    return view.copy();  // owns its pixels
}

PreviewWindow::PreviewWindow(const Ghostscript& ghostscript, QWidget* owner)
    : QWidget(owner, Qt::Window), render_(ghostscript, PostTo(this)) {
    setObjectName(QStringLiteral("previewWindow"));
    setWindowTitle(QString::fromLatin1(kPreviewTitle));
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(440, 660);
    setMinimumSize(220, 320);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("previewStatus"));
    status_->setWordWrap(true);
    print_ = new QPushButton(QStringLiteral("Print..."), this);
    print_->setObjectName(QStringLiteral("previewPrint"));
    savePdf_ = new QPushButton(QStringLiteral("Save as PDF..."), this);
    savePdf_->setObjectName(QStringLiteral("previewSavePdf"));
    auto* row = new QHBoxLayout;
    row->addWidget(status_, 1);
    row->addWidget(print_);
    row->addWidget(savePdf_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, 0, kMargin, 8);
    layout->addStretch(1);
    layout->addLayout(row);
    connect(print_, &QPushButton::clicked, this, &PreviewWindow::printRequested);
    connect(savePdf_, &QPushButton::clicked, this, &PreviewWindow::saveAsPdfRequested);

    // Escape and Ctrl+W close it, as they close a document window.
    auto* close = new QAction(this);
    close->setShortcuts({QKeySequence(Qt::Key_Escape), QKeySequence(QStringLiteral("Ctrl+W"))});
    close->setShortcutContext(Qt::WindowShortcut);
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);

    // A resize renders again once it has come to rest.
    resized_.setSingleShot(true);
    resized_.setInterval(150);
    connect(&resized_, &QTimer::timeout, this, &PreviewWindow::Render);
}

void PreviewWindow::Show(const SheetSources& sources) {
    render_.SetSources(sources);
    if (!placed_) PlaceBesideOwner();
    show();
    raise();
    activateWindow();
    Render();
}

void PreviewWindow::SetSources(const SheetSources& sources) {
    render_.SetSources(sources);
    if (isVisible()) Render();
}

// Beside the main window, on the side where the screen has more room, made
// narrower to fit there when it must (down to its smallest size); where
// neither side has that much room, the window manager places it.
void PreviewWindow::PlaceBesideOwner() {
    placed_ = true;
    const QWidget* owner = parentWidget();
    if (owner == nullptr || !owner->isVisible()) return;
    const QScreen* screen = owner->screen();
    if (screen == nullptr) return;
    const QRect room = screen->availableGeometry();
    const QRect beside = owner->frameGeometry();
    // The window manager's frame around the preview, as around its owner.
    const QSize frame = beside.size() - owner->size();
    constexpr int kGap = 8;
    const int right = room.right() - (beside.right() + kGap) - frame.width();
    const int left = beside.left() - kGap - room.left() - frame.width();
    const int wide = std::min(width(), std::max(right, left));
    if (wide < minimumWidth()) return;
    const int high = std::clamp(height(), minimumHeight(), room.height() - frame.height());
    resize(wide, high);
    const int top = std::clamp(beside.top(), room.top(),
                               std::max(room.top(), room.bottom() - high - frame.height()));
    move(right >= left ? beside.right() + kGap : beside.left() - kGap - wide - frame.width(), top);
}

QRectF PreviewWindow::PageRect() const {
    const SheetBox page = FitSheet(
        {kMargin, kMargin, double(width() - 2 * kMargin), double(height() - kMargin - kButtonRow)});
    return {page.left, page.top, page.width, page.height};
}

void PreviewWindow::Render() {
    // At the screen's own density: a pixel of the picture for each of the page's.
    render_.Start(DotsPerInchFor(PageRect().height() * devicePixelRatioF()),
                  [this](RenderedPage* rendered) {
                      picture_ = rendered ? ImageOf(rendered->page) : QImage();
                      if (rendered) picture_.setDevicePixelRatio(devicePixelRatioF());
                      ShowStatus();
                      update();
                      emit renderDone();
                  });
    ShowStatus();
}

QString PreviewWindow::statusText() const { return status_->text(); }

void PreviewWindow::ShowStatus() { status_->setText(QString::fromStdString(render_.Status())); }

void PreviewWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (isVisible()) resized_.start();
}

void PreviewWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Mid));
    const QRectF page = PageRect();
    painter.fillRect(page.translated(3, 3), QColor(0, 0, 0, 70));  // a shadow under the edge
    painter.fillRect(page, Qt::white);
    if (!picture_.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(page, picture_);
    } else if (const QString message = this->message(); !message.isEmpty()) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(page.adjusted(16, 16, -16, -16), Qt::AlignCenter | Qt::TextWordWrap,
                         message);
    }
    painter.setPen(QColor(60, 60, 60));
    painter.drawRect(page.adjusted(-0.5, -0.5, 0.5, 0.5));
}

}  // namespace a5merge
