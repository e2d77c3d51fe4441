#include "merge/writer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "platform/runtime_error.h"
#include "platform/text_files.h"
#include "platform/text_search.h"
#include "support/ps_samples.h"
#include "support/temp_folder.h"

namespace a5merge {
namespace {

using testing::AcceptedInput;
using testing::ReadBytes;
using testing::TempFolder;

const std::string& kInserted = testing::kInsertedLines;

// Every case runs with tiny buffers too, so that lines, line ends and the
// searched texts fall across buffer boundaries.
class WriterTest : public ::testing::TestWithParam<std::tuple<std::size_t, SearchPath>> {
protected:
    // Merges the two contents and returns the output's bytes.
    std::string Merge(const std::string& bottom, const std::string& top) {
        state.bottomFile = dir.Write("bottom.ps", bottom);
        state.topFile = dir.Write("top.ps", top);
        state.outFile = dir.Path("out.PS");
        WriteMerged(state, files);
        return ReadBytes(state.outFile);
    }

    void SetUp() override { SetSearchPath(std::get<SearchPath>(GetParam())); }
    void TearDown() override { SetSearchPath(SearchPath::Vector); }
    std::size_t BufferSize() const { return std::get<std::size_t>(GetParam()); }

    TempFolder dir;
    TextFiles files{BufferSize()};
    MergeState state;
};

// Every way of searching (widest vector, base vector, plain) at every buffer size.
INSTANTIATE_TEST_SUITE_P(
    BufferSizes, WriterTest,
    ::testing::Combine(::testing::Values(1, 2, 3, 5, 8, 13, 21, 64, TextFiles::kDefaultBufferSize),
                       ::testing::Values(SearchPath::Vector, SearchPath::BaseVector,
                                         SearchPath::Plain)));

TEST_P(WriterTest, WorkedExample) {
    const std::string bottom =
        "%!PS-Adobe-3.0\r\n"
        "%%BoundingBox: 0 0 595 420\r\n"
        "statusdict begin 0 setduplexmode end\r\n"
        "newpath 10 10 moveto (A) show\r\n"
        "showpage\r\n"
        "\x04\r\n";
    const std::string top =
        "%!PS-Adobe-3.0\r\n"
        "%%BoundingBox: 0 0 595 420\r\n"
        "statusdict begin 0 setduplexmode end\r\n"
        "newpath 10 10 moveto (B) show\r\n"
        "showpage\r\n";
    EXPECT_EQ(Merge(bottom, top),
              "%!PS-Adobe-3.0\r\n"
              "%%BoundingBox: 0 0 595 841\r\n"
              "statusdict begin 0 setduplexmode end\r\n"
              "newpath 10 10 moveto (A) show\r\n" +
                  kInserted +
                  "%!PS-Adobe-3.0\r\n"
                  "%%BoundingBox: 0 0 595 420\r\n"
                  "newpath 10 10 moveto (B) show\r\n"
                  "showpage\r\n");
    // Output first, then BOTTOM, and TOP only once BOTTOM is closed.
    EXPECT_EQ(state.bottomFileNo, 2);
    EXPECT_EQ(state.topFileNo, 2);
    if (BufferSize() > 10) {
        EXPECT_EQ(state.lineBuf, "showpage");  // the last line, when it fits the buffer
    }
    for (int no = 1; no <= TextFiles::kMaxFileNo; ++no) EXPECT_FALSE(files.IsOpen(no)) << no;
}

TEST_P(WriterTest, EachPassKeepsItsOwnFilters) {
    const std::string bottom =
        "%%BoundingBox: (atend)\r\n"
        "% see %%BoundingBox below\r\n"
        "%%HiResBoundingBox: 0 0 595.3 420.1\r\n"
        "%%PageBoundingBox: 0 0 595 420\r\n"
        "%%BoundingBox: 0 0 1 1 showpage\r\n"
        "/showpage {} def\r\n"
        "a \x04 b\r\n"
        "1 dup mul exch\r\n"
        "statusdict begin\r\n";
    const std::string top =
        "%%BoundingBox: 0 0 595 420\r\n"
        "a \x04 b\r\n"
        "showpage\r\n"
        "StatusDict begin\r\n"
        "x statusdict y\r\n"
        "1 dup mul exch pop\r\n"
        "dup  mul exch\r\n";
    EXPECT_EQ(Merge(bottom, top),
              "%%BoundingBox: 0 0 595 841\r\n"
              "%%BoundingBox: 0 0 595 841\r\n"
              "%%HiResBoundingBox: 0 0 595.3 420.1\r\n"
              "%%PageBoundingBox: 0 0 595 420\r\n"
              "1 dup mul exch\r\n"
              "statusdict begin\r\n" +
                  kInserted +
                  "%%BoundingBox: 0 0 595 420\r\n"
                  "a \x04 b\r\n"
                  "showpage\r\n"
                  "StatusDict begin\r\n"
                  "dup  mul exch\r\n");
}

TEST_P(WriterTest, LineEndsOfTheInputs) {
    struct Case {
        const char* name;
        std::string bottom, top, out;
    };
    const Case cases[] = {
        {"LF only: one line, dropped for a showpage anywhere", "%!PS\nshowpage\n", "%!PS\nB\n",
         kInserted + "%!PS\nB\n\r\n"},
        {"LF only: one line, kept whole", "%!PS\nA\n", "", "%!PS\nA\n\r\n" + kInserted},
        {"CR only", "A1\rA2\r", "B1\rB2", "A1\r\nA2\r\n" + kInserted + "B1\r\nB2\r\n"},
        {"last lines without terminator", "A", "B", "A\r\n" + kInserted + "B\r\n"},
        {"empty BOTTOM", "", "B\r\n", kInserted + "B\r\n"},
        {"both empty", "", "", kInserted},
        {"empty lines kept", "\r\n\r\n", "\r\n", "\r\n\r\n" + kInserted + "\r\n"},
        {"other bytes copied as they are", std::string("\0\xe9\xff\r\n", 5), "\x80",
         std::string("\0\xe9\xff\r\n", 5) + kInserted + "\x80\r\n"},
        {"mixed line ends", "A\r\nB\rC\r\n", "D\rE\r\nF",
         "A\r\nB\r\nC\r\n" + kInserted + "D\r\nE\r\nF\r\n"},
        {"a lone LF keeps a token in its line", "x\nshowpage\r\nkeep\r\n", "y\nstatusdict\rz",
         "keep\r\n" + kInserted + "z\r\n"},
        {"several tokens in one line",
         "showpage %%BoundingBox showpage\r\n%%BoundingBox %%BoundingBox\r\n",
         "statusdict dup mul exch\r\nok", "%%BoundingBox: 0 0 595 841\r\n" + kInserted + "ok\r\n"},
        {"lines in a row with tokens", "showpage\r\nshowpage\r\n%%BoundingBox\r\n\x04\r\na\r\n",
         "statusdict\r\nstatusdict\r\nb",
         "%%BoundingBox: 0 0 595 841\r\na\r\n" + kInserted + "b\r\n"},
        {"token in a last line without line end", "a\r\nx showpage", "b\r\nx statusdict",
         "a\r\n" + kInserted + "b\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Merge(c.bottom, c.top), c.out) << c.name;
    }
}

TEST_P(WriterTest, EmptyTopLeavesTheLastBottomLineInTheBuffer) {
    Merge("%%BoundingBox: 1 2 3 4", "");
    EXPECT_EQ(state.lineBuf, kA4BoundingBox);
}

// Checking while writing gives the input check's flags for each input read,
// and writes only when both are accepted.
TEST_P(WriterTest, ChecksEachInputAsItReadsIt) {
    const std::string head = "%!PS-Adobe-3.0\r\n%%Creator: Quobl ZQ9XKV\r\n";
    const std::string accepted = AcceptedInput("(x) show\r\n");
    const struct {
        const char* name;
        std::string bottom, top;
        std::optional<CheckFlags> bottomFlags, topFlags;
    } cases[] = {
        {"both accepted", accepted, accepted, CheckFlags{1, 0, 0}, CheckFlags{1, 0, 0}},
        {"merged BOTTOM: TOP not read", accepted + "%%  invoegbestand  2e A5  aan top\r\n",
         accepted, CheckFlags{1, 1, 0}, std::nullopt},
        {"TOP without marker", accepted, head + "x\r\n", CheckFlags{1, 0, 0}, CheckFlags{0, 0, 0}},
        {"markers on line 2 do not count",
         head.substr(0, 16) + "%%Creator: Quobl ZQ9XKV %%TEXT723DUMMY\r\nx", accepted,
         CheckFlags{0, 0, 0}, std::nullopt},
        {"merged marker on line 2 does not count",
         head.substr(0, 16) + "%%Creator: Quobl ZQ9XKV 2e A5 \r\n%%TEXT723DUMMY\r", accepted,
         CheckFlags{1, 0, 0}, CheckFlags{1, 0, 0}},
        {"header failed", "%!ps\r\n" + accepted, accepted, kUnreadable, std::nullopt},
        {"no second line", "%!PS-Adobe-3.0\r\n", accepted, kUnreadable, std::nullopt},
        {"marker in a dropped line, CR-only ends",
         "%!PS-Adobe\r%%Creator: Quobl ZQ9XKV\rshowpage %%TEXT723DUMMY\r",
         "%!PS-Adobe\r\nZQ9XKV %%Creator: Quobl\r\n" + std::string(300, 'y') + " %%TEXT723DUMMY",
         CheckFlags{1, 0, 0}, CheckFlags{1, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder here;
        state.bottomFile = here.Write("bottom.ps", c.bottom);
        state.topFile = here.Write("top.ps", c.top);
        state.outFile = here.Path("out.PS");
        ReadChecks checks;
        WriteMerged(state, files, IfExists::Fail, &checks);
        EXPECT_EQ(checks.bottom, c.bottomFlags);
        EXPECT_EQ(checks.top, c.topFlags);
        const bool written =
            c.topFlags == CheckFlags{1, 0, 0} && c.bottomFlags == CheckFlags{1, 0, 0};
        EXPECT_EQ(here.Entries().size(), written ? 3u : 2u);
        for (int no = 1; no <= TextFiles::kMaxFileNo; ++no) EXPECT_FALSE(files.IsOpen(no)) << no;
    }
}

TEST_P(WriterTest, AnInputMayBeTheOutput) {
    state.bottomFile = dir.Write("bottom.ps", "A\r\n");
    state.topFile = dir.Write("top.ps", "B\r\n");
    state.outFile = state.topFile;
    WriteMerged(state, files);
    EXPECT_EQ(ReadBytes(state.topFile), "A\r\n" + kInserted + "B\r\n");

    state.outFile = state.bottomFile;
    WriteMerged(state, files);
    EXPECT_EQ(ReadBytes(state.bottomFile), "A\r\n" + kInserted + "A\r\n" + kInserted + "B\r\n");
}

TEST_P(WriterTest, FailureLeavesTheTargetAndClosesEverything) {
    struct Case {
        const char* name;
        bool bottomMissing, topMissing;
    };
    for (const Case c : {Case{"BOTTOM missing", true, false}, Case{"TOP missing", false, true}}) {
        TempFolder here;
        state.bottomFile = c.bottomMissing ? here.Path("gone.ps") : here.Write("bottom.ps", "A");
        state.topFile = c.topMissing ? here.Path("gone.ps") : here.Write("top.ps", "B");
        state.outFile = here.Write("out.PS", "precious");
        try {
            WriteMerged(state, files);
            FAIL() << c.name << ": no failure";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.path(), here.Path("gone.ps")) << c.name;
            EXPECT_EQ(e.reason(), testing::NotFoundReason()) << c.name;
        }
        EXPECT_EQ(ReadBytes(state.outFile), "precious") << c.name;
        EXPECT_EQ(here.Entries().size(), 2u) << c.name << ": a temporary file was left behind";
        for (int no = 1; no <= TextFiles::kMaxFileNo; ++no) {
            EXPECT_FALSE(files.IsOpen(no)) << c.name << ": file " << no << " still open";
        }
    }
}

TEST_P(WriterTest, OutputFolderMissingFailsWithItsPath) {
    state.bottomFile = dir.Write("bottom.ps", "A");
    state.topFile = dir.Write("top.ps", "B");
    state.outFile = dir.Path("gone/out.PS");
    try {
        WriteMerged(state, files);
        FAIL() << "wrote into a missing folder";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.path(), state.outFile);
        EXPECT_FALSE(e.reason().empty());
    }
    EXPECT_FALSE(files.IsOpen(1));
}

}  // namespace
}  // namespace a5merge
