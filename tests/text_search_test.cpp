#include "platform/text_search.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#undef SearchPath  // windows.h's macro, not ours
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <random>
#include <string>
#include <vector>

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

// Every occurrence of every needle, and every CR without an LF after it.
std::vector<MultiSearch::Event> Reference(std::string_view block,
                                          const std::vector<const Needle*>& needles) {
    std::vector<MultiSearch::Event> events;
    for (std::size_t at = 0; at < block.size(); ++at) {
        if (block[at] == '\r' && (at + 1 == block.size() || block[at + 1] != '\n')) {
            events.push_back({at, MultiSearch::kLoneCr});
        }
        for (std::size_t i = 0; i < needles.size(); ++i) {
            if (block.substr(at).starts_with(needles[i]->text())) {
                events.push_back({at, static_cast<int>(i)});
            }
        }
    }
    return events;
}

TEST(MultiSearchTest, BothPathsFindWhatAByteByByteSearchFinds) {
    const Needle eot("\x04"), showpage("showpage"), box("%%BoundingBox"), marker("%%TEXT723DUMMY"),
        merged(" 2e A5 ");
    const std::vector<const Needle*> needles{&eot, &showpage, &box, &marker, &merged};
    const MultiSearch search(needles);
    std::vector<std::string> blocks = {
        "",
        "showpage",
        "\r",
        "x\r\n\r\ny\r",
        "%%BoundingBox%%TEXT723DUMMY 2e A5 \x04showpageshowpage\r\n",
        "%%%%BoundingBox: 0 0 1 1 % 2e A5  2e A5 \r\r\n\n\r",
        std::string(15, 'x') + "showpage" + std::string(16, 'y') + "\r" + std::string(17, 'z'),
    };
    // Tokens, line ends and noise at random places, across the 16-byte steps.
    std::mt19937 random(7);
    const std::vector<std::string> pieces = {"showpage",
                                             "%%BoundingBox",
                                             "%%TEXT723DUMMY",
                                             " 2e A5 ",
                                             "\x04",
                                             "\r\n",
                                             "\r",
                                             "\n",
                                             "sh",
                                             "%",
                                             "A5",
                                             "wp"};
    for (int n = 0; n < 300; ++n) {
        std::string block;
        while (block.size() < random() % 200) {
            block += random() % 3 == 0 ? pieces[random() % pieces.size()]
                                       : std::string(random() % 9, "ab 5%%Aw\x04"[random() % 8]);
        }
        blocks.push_back(block);
    }
    std::vector<MultiSearch::Event> events;
    for (const SearchPath path : {SearchPath::Vector, SearchPath::BaseVector, SearchPath::Plain}) {
        SetSearchPath(path);
        for (const std::string& block : blocks) {
            search.Scan(block, events);
            std::vector<MultiSearch::Event> expected = Reference(block, needles);
            EXPECT_EQ(events, expected)
                << "path " << static_cast<int>(path) << ": " << ::testing::PrintToString(block);
        }
    }
    SetSearchPath(SearchPath::Vector);
}

// A block that ends where memory ends (at a page that may not be read):
// no path reads a byte past it.
TEST(MultiSearchTest, NoPathReadsPastTheBlock) {
#ifdef _WIN32
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    const long page = static_cast<long>(info.dwPageSize);
    char* memory = static_cast<char*>(
        ::VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(memory, nullptr);
    DWORD before = 0;
    ASSERT_TRUE(::VirtualProtect(memory + page, page, PAGE_NOACCESS, &before));
#else
    const long page = ::sysconf(_SC_PAGESIZE);
    char* memory = static_cast<char*>(
        ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(memory, MAP_FAILED);
    ASSERT_EQ(::mprotect(memory + page, page, PROT_NONE), 0);
#endif
    const Needle showpage("showpage"), box("%%BoundingBox"), eot("\x04");
    const MultiSearch search({&eot, &showpage, &box});
    std::vector<MultiSearch::Event> events;
    const std::string text = "x showpage\r %%BoundingBox\rshowpag";
    for (const SearchPath path : {SearchPath::Vector, SearchPath::BaseVector, SearchPath::Plain}) {
        SetSearchPath(path);
        for (std::size_t size = 1; size <= 100; ++size) {
            char* block = memory + page - size;
            for (std::size_t i = 0; i < size; ++i) block[i] = text[i % text.size()];
            search.Scan(std::string_view(block, size), events);
            EXPECT_EQ(events, Reference(std::string(block, size), {&eot, &showpage, &box}))
                << "size " << size;
        }
    }
    SetSearchPath(SearchPath::Vector);
#ifdef _WIN32
    ::VirtualFree(memory, 0, MEM_RELEASE);
#else
    ::munmap(memory, 2 * page);
#endif
}

}  // namespace
}  // namespace a5merge
