#include "input/input_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "merge/writer.h"
#include "platform/text_files.h"
#include "support/ps_samples.h"
#include "support/temp_folder.h"

namespace a5merge {
namespace {

using testing::AcceptedInput;
using testing::AsUnprivileged;
using testing::TempFolder;

struct Flags {
    int foutefile, marker, dubbel;
    bool operator==(const Flags&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Flags& f) {
    return out << "{foutefile " << f.foutefile << ", TEXT723DUMMY " << f.marker << ", dubbel "
               << f.dubbel << "}";
}

Flags FlagsOf(const MergeState& s) { return {s.foutefile, s.TEXT723DUMMY, s.dubbel}; }

constexpr Flags kHeaderFailed{1, 0, 0};
constexpr Flags kNoMarker{0, 0, 0};
constexpr Flags kAccepted{0, 1, 0};
constexpr Flags kMerged{0, 1, 1};

struct CheckCase {
    const char* name;
    std::string content;
    Flags flags;
};

const std::string kHead = "%!PS-Adobe-3.0\r\n%%Creator: Quobl ZQ9XKV\r\n";

TEST(InputCheckTest, HeaderMarkerAndMergedMarker) {
    const CheckCase cases[] = {
        {"accepted", AcceptedInput(), kAccepted},
        {"header anywhere in line 1",
         " x %!PS-Adobe-3.0\r\n%%Creator: Quobl ZQ9XKV\r\n%%TEXT723DUMMY", kAccepted},
        {"header in lower case", "%!ps-adobe-3.0\r\n%%Creator: Quobl ZQ9XKV\r\n%%TEXT723DUMMY",
         kHeaderFailed},
        {"no space after the colon", "%!PS-Adobe\r\n%%Creator:Quobl ZQ9XKV\r\n%%TEXT723DUMMY",
         kHeaderFailed},
        {"identifier on line 3", "%!PS-Adobe\r\n%%Creator: Quobl\r\nZQ9XKV %%TEXT723DUMMY",
         kHeaderFailed},
        {"creator tokens in the other order",
         "%!PS-Adobe\r\nZQ9XKV %%Creator: Quobl\r\n%%TEXT723DUMMY", kAccepted},
        {"marker only on line 2", "%!PS-Adobe\r\n%%Creator: Quobl ZQ9XKV %%TEXT723DUMMY\r\nx",
         kNoMarker},
        {"just the two header lines", kHead, kNoMarker},
        {"marker as part of a longer word", kHead + "% %%TEXT723DUMMYX", kAccepted},
        {"merged marker without marker line", kHead + "%%  invoegbestand  2e A5  aan top\r\n",
         Flags{0, 0, 1}},
        {"merged file", kHead + "%%TEXT723DUMMY\r\n%%  invoegbestand  2e A5  aan top\r\n", kMerged},
        {"merged marker on the marker line", kHead + "%%TEXT723DUMMY 2e A5 \r\n", kMerged},
        {"merged marker needs both spaces",
         kHead + "%%TEXT723DUMMY\r\n2e A5 x\r\nx 2e A5\r\n 2E A5 \r\n", kAccepted},
        {"merged marker on line 2 does not count",
         "%!PS-Adobe\r\n%%Creator: Quobl ZQ9XKV 2e A5 \r\n%%TEXT723DUMMY", kAccepted},
        {"CR-only line ends", "%!PS-Adobe\r%%Creator: Quobl ZQ9XKV\r%%TEXT723DUMMY\r", kAccepted},
        {"LF-only line ends: one line", "%!PS-Adobe\n%%Creator: Quobl ZQ9XKV\n%%TEXT723DUMMY\n",
         kHeaderFailed},
        {"one line without header", "hello", kHeaderFailed},
        {"one line with header", "%!PS-Adobe-3.0\r\n", kHeaderFailed},
        {"empty file", "", kHeaderFailed},
    };
    TempFolder dir;
    // Tiny buffers too: lines and tokens then fall across buffer boundaries.
    for (std::size_t size :
         {std::size_t{1}, std::size_t{3}, std::size_t{7}, TextFiles::kDefaultBufferSize}) {
        TextFiles files(size);
        for (const auto& c : cases) {
            MergeState state;
            state.TEXT723DUMMY = 1;  // what an earlier check may have left
            a5merge::Test(state, files, dir.Write("in.ps", c.content));
            EXPECT_EQ(FlagsOf(state), c.flags) << c.name << ", buffer " << size;
        }
    }
}

TEST(InputCheckTest, MarkersAcrossTheReadBuffer) {
    // Buffers of 256 KiB: put each marker across a boundary.
    constexpr std::size_t kBuffer = 256 * 1024;
    std::string content = kHead;
    content.append(kBuffer - content.size() - 5, 'x');
    content += "\r\n%%TEXT723DUMMY\r\n";
    content.append(2 * kBuffer - content.size() - 3, 'y');
    content += " 2e A5 \r\n";
    TempFolder dir;
    TextFiles files;
    MergeState state;
    a5merge::Test(state, files, dir.Write("big.ps", content));
    EXPECT_EQ(FlagsOf(state), kMerged);
}

TEST(InputCheckTest, AMergedFileIsRecognised) {
    TempFolder dir;
    TextFiles files;
    MergeState state;
    state.bottomFile = dir.Write("b.ps", AcceptedInput());
    state.topFile = dir.Write("t.ps", AcceptedInput());
    state.outFile = dir.Path("out.PS");
    WriteMerged(state, files);
    a5merge::Test(state, files, state.outFile);
    EXPECT_EQ(FlagsOf(state), kMerged);
}

TEST(InputCheckTest, WhatCannotBeFoundOrReadFailsWhateverCameBefore) {
    TempFolder dir;
    const std::string good = dir.Write("good.ps", AcceptedInput());
    dir.Write(".hidden.ps", AcceptedInput());
    ASSERT_EQ(::mkfifo(dir.Path("fifo.ps").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", dir.Path("zero.ps").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.Path("folder.ps").c_str(), 0700), 0);
    TextFiles files;
    for (const char* name : {"missing.ps", ".hidden.ps", "fifo.ps", "zero.ps", "folder.ps"}) {
        MergeState state;
        a5merge::Test(state, files, good);
        ASSERT_EQ(FlagsOf(state), kAccepted);
        a5merge::Test(state, files, dir.Path(name));
        EXPECT_EQ(FlagsOf(state), kHeaderFailed) << name;
    }
}

TEST(InputCheckTest, UnreadableFileFails) {
    TempFolder dir;
    const std::string path = dir.Write("locked.ps", AcceptedInput());
    ::chmod(path.c_str(), 0200);
    dir.OpenToAll();
    const int foutefile = AsUnprivileged([&] {
        TextFiles files;
        MergeState state;
        a5merge::Test(state, files, path);
        return static_cast<int>(state.foutefile);
    });
    EXPECT_EQ(foutefile, 1);
}

TEST(InputCheckTest, ClosesEveryOpenFile) {
    TempFolder dir;
    const std::string path = dir.Write("in.ps", AcceptedInput());
    TextFiles files;
    files.OpenInput(7, path);
    MergeState state;
    a5merge::Test(state, files, path);
    for (int no = 1; no <= TextFiles::kMaxFileNo; ++no) EXPECT_FALSE(files.IsOpen(no)) << no;
    EXPECT_EQ(state.checkFileNo, 1);
}

}  // namespace
}  // namespace a5merge
