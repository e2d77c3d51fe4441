#pragma once

#include <QGroupBox>

#include <functional>
#include <string>
#include <vector>

class QMimeData;

namespace a5merge {

// The local files among the URLs of dragged data, as paths: the bytes of
// each name exactly, also where they are not UTF-8.
std::vector<std::string> LocalFiles(const QMimeData* data);

// The files pasted from `data`: its local files, as for a drop, or else one
// absolute path (or file: URI) given as plain text.
std::vector<std::string> PastedFiles(const QMimeData* data);

// A captioned frame that takes drops of local files (also over its child
// labels) and hands their paths to its drop handler. Drags that hold no local
// file are refused as they enter. It takes the keyboard focus (by click or
// Tab) and shows it with a focus frame; a click, Space or Enter calls its
// choose handler, and Ctrl+V or Shift+Insert hands the files on the
// clipboard to the drop handler, as a drop would.
class DropFrame : public QGroupBox {
public:
    using Handler = std::function<void(const std::vector<std::string>&)>;

    DropFrame(const QString& title, QWidget* parent);
    void SetDropHandler(Handler handler) { handler_ = std::move(handler); }
    void SetChooseHandler(std::function<void()> handler) { choose_ = std::move(handler); }
    // What a click, Space or Enter does: the choose handler. Assistive
    // technology reaches it as the zone's press action.
    void Choose();

protected:
    bool event(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    Handler handler_;
    std::function<void()> choose_;
};

}  // namespace a5merge
