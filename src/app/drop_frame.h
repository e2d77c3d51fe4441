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

// A captioned frame that takes drops of local files (also over its child
// labels) and hands their paths to its handler. Drags that hold no local
// file are refused as they enter.
class DropFrame : public QGroupBox {
public:
    using Handler = std::function<void(const std::vector<std::string>&)>;

    DropFrame(const QString& title, QWidget* parent);
    void SetDropHandler(Handler handler) { handler_ = std::move(handler); }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    Handler handler_;
};

}  // namespace a5merge
