#include "platform/text_search.h"

#include <gtest/gtest.h>

#include <string>

namespace a5merge {
namespace {

TEST(NeedleTest, FindsTheFirstOccurrenceAnywhere) {
    const struct {
        const char* needle;
        std::string haystack;
        std::size_t at;
    } cases[] = {
        {"showpage", "showpage", 0},
        {"showpage", "gsave showpage grestore", 6},
        {"showpage", "x showpag", std::string::npos},
        {"showpage", "showpagshowpage", 7},
        {"showpage", "ShowPage", std::string::npos},
        {"%%BoundingBox", "%%HiResBoundingBox: 0 0 1 1", std::string::npos},
        {"%%BoundingBox", "% %%BoundingBox", 2},
        {" 2e A5 ", "%%  invoegbestand  2e A5  aan top", 18},
        {" 2e A5 ", "2e A5 x", std::string::npos},
        {"ab", "aab", 1},
        {"aa", "aaa", 0},
        {"x", "", std::string::npos},
        {"ab", std::string("\0ab", 3), 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Needle(c.needle).Find(c.haystack), c.at) << c.needle << " in " << c.haystack;
    }
}

TEST(StreamSearchTest, FindsOccurrencesAcrossEveryJoin) {
    const Needle needle("%%TEXT723DUMMY");
    const std::string text = "line one\r\nsome %%TEXT723DUMMY here\r\n";
    for (std::size_t cut1 = 0; cut1 <= text.size(); ++cut1) {
        for (std::size_t cut2 = cut1; cut2 <= text.size(); ++cut2) {
            StreamSearch search(needle);
            search.Feed(std::string_view(text).substr(0, cut1));
            search.Feed(std::string_view(text).substr(cut1, cut2 - cut1));
            search.Feed(std::string_view(text).substr(cut2));
            ASSERT_TRUE(search.found()) << cut1 << " " << cut2;
        }
    }
}

TEST(StreamSearchTest, ByteByByteAndNoFalseJoin) {
    const Needle needle(" 2e A5 ");
    StreamSearch hit(needle);
    for (char c : std::string("xx 2e A5 yy")) hit.Feed(std::string_view(&c, 1));
    EXPECT_TRUE(hit.found());

    StreamSearch miss(needle);
    for (const char* piece : {" 2e", " A5", "x 2e A", "5", "x"}) miss.Feed(piece);
    EXPECT_FALSE(miss.found());
}

}  // namespace
}  // namespace a5merge
