#include "app/drop_frame.h"

#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace a5merge {
namespace {

TEST(DropFrameTest, LocalFilesKeepsOnlyLocalUrlsWithTheirBytes) {
    QMimeData mixed;
    mixed.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a b.ps")),
                   QUrl(QStringLiteral("https://example.org/c.ps")),
                   QUrl::fromLocalFile(QStringLiteral("/tmp/\u00e9.ps"))});
    EXPECT_EQ(LocalFiles(&mixed), (std::vector<std::string>{"/tmp/a b.ps", "/tmp/\xc3\xa9.ps"}));
    // As a file manager writes the list: names in any bytes, this machine
    // named or not, comments, and a file on another host.
    QMimeData list;
    list.setData(QStringLiteral("text/uri-list"),
                 "# copied\r\nfile:///tmp/top%FE.ps\r\nfile://localhost/tmp/Gr%F6%DFe/b.ps\r\n"
                 "file://elsewhere/c.ps\r\nfile:/tmp/100%25.ps\n");
    EXPECT_EQ(LocalFiles(&list), (std::vector<std::string>{"/tmp/top\xfe.ps",
                                                           "/tmp/Gr\xf6\xdf"
                                                           "e/b.ps",
                                                           "/tmp/100%.ps"}));
    QMimeData none;
    none.setText(QStringLiteral("file:///tmp/a.ps"));
    EXPECT_TRUE(LocalFiles(&none).empty());
}

// The list exactly as a file manager's bytes, never re-encoded by Qt.
class RawMimeData : public QMimeData {
public:
    RawMimeData(QString format, QByteArray bytes)
        : format_(std::move(format)), bytes_(std::move(bytes)) {}
    QStringList formats() const override { return {format_}; }
    bool hasFormat(const QString& format) const override { return format == format_; }

protected:
    QVariant retrieveData(const QString& format, QMetaType) const override {
        return format == format_ ? QVariant(bytes_) : QVariant();
    }

private:
    QString format_;
    QByteArray bytes_;
};

TEST(DropFrameTest, EscapesDecodeToTheirBytesExactly) {
    const struct {
        QByteArray list;
        std::vector<std::string> paths;
    } cases[] = {
        {"file:///tmp/low%fe%e9.ps\r\n", {"/tmp/low\xfe\xe9.ps"}},
        {"file:///tmp/end.p%73", {"/tmp/end.ps"}},
        {"file:///tmp/cut%7", {"/tmp/cut%7"}},
        {"file:///tmp/cut%", {"/tmp/cut%"}},
        {"file:///tmp/bad%zz.ps", {"/tmp/bad%zz.ps"}},
        {"file:///tmp/one.ps\r\nfile:///tmp/two.ps\r\n", {"/tmp/one.ps", "/tmp/two.ps"}},
        {"file:///tmp/top_small.ps%00evil.ps\r\n", {std::string("/tmp/top_small.ps\0evil.ps", 25)}},
    };
    for (const auto& c : cases) {
        const RawMimeData data(QStringLiteral("text/uri-list"), c.list);
        EXPECT_EQ(LocalFiles(&data), c.paths) << c.list.toStdString();
    }
    // Pasted as text: one line only, escapes decoded the same way.
    const RawMimeData one(QStringLiteral("text/plain"), "file:///tmp/p%fe.ps\n");
    EXPECT_EQ(PastedFiles(&one), std::vector<std::string>{"/tmp/p\xfe.ps"});
    const RawMimeData two(QStringLiteral("text/plain"), "/tmp/a.ps\n/tmp/b.ps\n");
    EXPECT_TRUE(PastedFiles(&two).empty()) << "two lines of text are not one name";
}

}  // namespace
}  // namespace a5merge
