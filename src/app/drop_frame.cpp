#include "app/drop_frame.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QUrl>

#include <optional>
#include <string_view>

#include "handlers/hand_overs.h"

namespace a5merge {

std::vector<std::string> LocalFiles(const QMimeData* data) {
    std::vector<std::string> paths;
    if (data == nullptr) return paths;
    const QString uriList = QStringLiteral("text/uri-list");
    if (data->hasFormat(uriList)) {
        // The list as the source wrote it: its escapes give each name's bytes
        // exactly, where QUrl would decode them as UTF-8.
        const QByteArray list = data->data(uriList);
        for (QByteArray line : list.split('\n')) {
            line = line.trimmed();
            if (line.isEmpty() || line.startsWith('#')) continue;
            if (auto path = PathOfFileUri(std::string_view(line.constData(), line.size()))) {
                paths.push_back(std::move(*path));
            }
        }
        return paths;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    }
    return paths;
}

std::vector<std::string> PastedFiles(const QMimeData* data) {
    std::vector<std::string> paths = LocalFiles(data);
    if (!paths.empty() || data == nullptr || !data->hasText()) return paths;
    const QByteArray text = data->text().toUtf8();
    if (auto path = PathOfPastedText({text.constData(), static_cast<std::size_t>(text.size())},
                                     PastedText::AbsolutePathOrUri)) {
        paths.push_back(std::move(*path));
    }
    return paths;
}

namespace {

// A zone as assistive technology sees it: a button whose press chooses a
// file, named and described by the window.
class ZoneAccessible : public QAccessibleWidget {
public:
    explicit ZoneAccessible(DropFrame* zone) : QAccessibleWidget(zone, QAccessible::Button) {}

    QStringList actionNames() const override { return {pressAction()}; }
    QString localizedActionDescription(const QString& name) const override {
        return name == pressAction() ? QStringLiteral("Chooses a file") : QString();
    }
    void doAction(const QString& name) override {
        if (name == pressAction()) static_cast<DropFrame*>(widget())->Choose();
    }
    QStringList keyBindingsForAction(const QString& name) const override {
        return name == pressAction()
                   ? QStringList{QStringLiteral("Space"), QStringLiteral("Return")}
                   : QStringList();
    }
};

QAccessibleInterface* ZoneInterface(const QString&, QObject* object) {
    if (auto* zone = dynamic_cast<DropFrame*>(object)) return new ZoneAccessible(zone);
    return nullptr;
}

}  // namespace

DropFrame::DropFrame(const QString& title, QWidget* parent) : QGroupBox(parent) {
    static const bool installed = (QAccessible::installFactory(ZoneInterface), true);
    (void)installed;
    // The title only now: with a screen reader running, setting it makes Qt
    // ask for (and keep) the interface, which must be a zone's.
    setTitle(title);
    if (QAccessible::isActive()) {
        if (QAccessibleInterface* early = QAccessible::queryAccessibleInterface(this);
            early != nullptr && dynamic_cast<ZoneAccessible*>(early) == nullptr) {
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(early));
        }
    }
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
}

void DropFrame::Choose() {
    if (choose_) choose_();
}

void DropFrame::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        Choose();
        return;
    }
    QGroupBox::mouseReleaseEvent(event);
}

// QGroupBox takes Space for its check box, checkable or not: it is ours first.
bool DropFrame::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space) {
            if (event->type() == QEvent::KeyPress && !key->isAutoRepeat()) Choose();
            return true;
        }
    }
    return QGroupBox::event(event);
}

void DropFrame::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        Choose();
        return;
    }
    if (event->matches(QKeySequence::Paste)) {  // Ctrl+V, Shift+Insert
        const auto paths = PastedFiles(QGuiApplication::clipboard()->mimeData());
        if (!paths.empty() && handler_) handler_(paths);
        return;
    }
    QGroupBox::keyPressEvent(event);
}

void DropFrame::focusInEvent(QFocusEvent* event) {
    QGroupBox::focusInEvent(event);
    update();
}

void DropFrame::focusOutEvent(QFocusEvent* event) {
    QGroupBox::focusOutEvent(event);
    update();
}

// A thin border with the caption in its top line, 10 pixels from the left.
void DropFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int line = qRound(metrics.height() * 0.65);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRoundedRect(QRectF(0.5, line + 0.5, width() - 1.0, height() - line - 1.0), 2, 2);
    const QRect caption(8, 0, metrics.horizontalAdvance(title()) + 4, metrics.height());
    painter.fillRect(caption, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(caption, Qt::AlignCenter, title());
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(3, line + 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void DropFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalFiles(event->mimeData()).empty()) event->acceptProposedAction();
}

void DropFrame::dragMoveEvent(QDragMoveEvent* event) {
    if (!LocalFiles(event->mimeData()).empty()) event->acceptProposedAction();
}

void DropFrame::dropEvent(QDropEvent* event) {
    const auto paths = LocalFiles(event->mimeData());
    if (paths.empty()) return;
    event->acceptProposedAction();
    if (handler_) handler_(paths);
}

}  // namespace a5merge
