#include "app/drop_frame.h"

#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

namespace a5merge {
namespace {

TEST(DropFrameTest, LocalFilesKeepsOnlyLocalUrls) {
    QMimeData mixed;
    mixed.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a b.ps")),
                   QUrl(QStringLiteral("https://example.org/c.ps")),
                   QUrl::fromLocalFile(QStringLiteral("/tmp/\u00e9.ps"))});
    EXPECT_EQ(LocalFiles(&mixed), (std::vector<std::string>{"/tmp/a b.ps", "/tmp/\xc3\xa9.ps"}));
    QMimeData none;
    none.setText(QStringLiteral("file:///tmp/a.ps"));
    EXPECT_TRUE(LocalFiles(&none).empty());
}

}  // namespace
}  // namespace a5merge
