#include "app/drop_frame.h"

#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace a5merge
