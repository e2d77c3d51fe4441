#include "input/input_check.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>

#include "platform/windows_support.h"
#endif

#include <string>

#include "merge/writer.h"
#include "platform/text_files.h"
#include "support/ps_samples.h"
#include "support/temp_folder.h"

namespace a5merge {
namespace {

using testing::AcceptedInput;
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
    CheckFault fault;  // why, for a5merge-cli
};

const std::string kHead = "%!PS-Adobe-3.0\r\n%%Creator: Quobl ZQ9XKV\r\n";

TEST(InputCheckTest, HeaderMarkerAndMergedMarker) {
    using F = CheckFault;
    const CheckCase cases[] = {
        {"accepted", AcceptedInput(), kAccepted, F::None},
        {"header anywhere in line 1",
         " x %!PS-Adobe-3.0\r\n%%Creator: Quobl ZQ9XKV\r\n%%TEXT723DUMMY", kAccepted, F::None},
        {"header in lower case", "%!ps-adobe-3.0\r\n%%Creator: Quobl ZQ9XKV\r\n%%TEXT723DUMMY",
         kHeaderFailed, F::NoHeader},
        {"no space after the colon", "%!PS-Adobe\r\n%%Creator:Quobl ZQ9XKV\r\n%%TEXT723DUMMY",
         kHeaderFailed, F::NoCreator},
        {"identifier on line 3", "%!PS-Adobe\r\n%%Creator: Quobl\r\nZQ9XKV %%TEXT723DUMMY",
         kHeaderFailed, F::NoIdentifier},
        {"line 2 ends the file without the identifier", "%!PS-Adobe\r\n%%Creator: Quobl",
         kHeaderFailed, F::NoIdentifier},
        {"creator tokens in the other order",
         "%!PS-Adobe\r\nZQ9XKV %%Creator: Quobl\r\n%%TEXT723DUMMY", kAccepted, F::None},
        {"marker only on line 2", "%!PS-Adobe\r\n%%Creator: Quobl ZQ9XKV %%TEXT723DUMMY\r\nx",
         kNoMarker, F::NoMarker},
        {"just the two header lines", kHead, kNoMarker, F::NoMarker},
        {"marker as part of a longer word", kHead + "% %%TEXT723DUMMYX", kAccepted, F::None},
        {"merged marker without marker line", kHead + "%%  invoegbestand  2e A5  aan top\r\n",
         Flags{0, 0, 1}, F::NoMarker},
        {"merged file", kHead + "%%TEXT723DUMMY\r\n%%  invoegbestand  2e A5  aan top\r\n", kMerged,
         F::Merged},
        {"merged marker on the marker line", kHead + "%%TEXT723DUMMY 2e A5 \r\n", kMerged,
         F::Merged},
        {"merged marker needs both spaces",
         kHead + "%%TEXT723DUMMY\r\n2e A5 x\r\nx 2e A5\r\n 2E A5 \r\n", kAccepted, F::None},
        {"merged marker on line 2 does not count",
         "%!PS-Adobe\r\n%%Creator: Quobl ZQ9XKV 2e A5 \r\n%%TEXT723DUMMY", kAccepted, F::None},
        {"CR-only line ends", "%!PS-Adobe\r%%Creator: Quobl ZQ9XKV\r%%TEXT723DUMMY\r", kAccepted,
         F::None},
        {"LF-only line ends: one line", "%!PS-Adobe\n%%Creator: Quobl ZQ9XKV\n%%TEXT723DUMMY\n",
         kHeaderFailed, F::LfOnly},
        {"LF after line 1, CR LF after", "%!PS-Adobe\n%%Creator: Quobl ZQ9XKV\r\nx\r\n",
         kHeaderFailed, F::LfOnly},
        {"plain text with LF line ends", "hello\nworld\n", kHeaderFailed, F::NoHeader},
        {"one line without header", "hello", kHeaderFailed, F::NoHeader},
        {"one line with header", "%!PS-Adobe-3.0\r\n", kHeaderFailed, F::NoSecondLine},
        {"header without a line end", "%!PS-Adobe-3.0", kHeaderFailed, F::NoSecondLine},
        {"empty file", "", kHeaderFailed, F::Empty},
    };
    TempFolder dir;
    // Tiny buffers too: lines and tokens then fall across buffer boundaries.
    for (std::size_t size :
         {std::size_t{1}, std::size_t{3}, std::size_t{7}, TextFiles::kDefaultBufferSize}) {
        TextFiles files(size);
        for (const auto& c : cases) {
            MergeState state;
            state.TEXT723DUMMY = 1;  // what an earlier check may have left
            CheckDetail detail;
            a5merge::Test(state, files, dir.Write("in.ps", c.content), &detail);
            EXPECT_EQ(FlagsOf(state), c.flags) << c.name << ", buffer " << size;
            EXPECT_EQ(static_cast<int>(detail.fault), static_cast<int>(c.fault))
                << c.name << ", buffer " << size;
            // The merge checks as it reads, and says the same.
            MergeState merged;
            merged.bottomFile = dir.Path("in.ps");
            merged.topFile = dir.Write("top.ps", AcceptedInput());
            merged.outFile = dir.Path("out.PS");
            ReadChecks checks;
            WriteMerged(merged, files, IfExists::Replace, &checks);
            EXPECT_EQ(static_cast<int>(checks.bottomDetail.fault), static_cast<int>(c.fault))
                << c.name << " (merged), buffer " << size;
        }
    }
}

// What a5merge-cli says after the window's text, for each fault.
TEST(InputCheckTest, EachFaultIsSaidPlainly) {
    using F = CheckFault;
    const struct {
        CheckDetail detail;
        const char* said;
    } cases[] = {
        {{F::None, ""}, ""},
        {{F::NotFound, ""}, "not found"},
        {{F::NotRegular, ""}, "not a regular file"},
#ifdef _WIN32
        {{F::Hidden, ""}, "hidden: its Hidden attribute is set"},
#else
        {{F::Hidden, ""}, "hidden: its name starts with a dot"},
#endif
        {{F::System, ""}, "a file of the system: its System attribute is set"},
        {{F::Unreadable, "Permission denied"}, "cannot be read: Permission denied"},
        {{F::Empty, ""}, "it is empty"},
        {{F::LfOnly, ""},
         "its lines end with LF only; convert it with unix2dos (package dos2unix)"},
        {{F::NoHeader, ""}, "line 1 is not a PostScript header (%!PS-Adobe)"},
        {{F::NoSecondLine, ""}, "it has no line 2"},
        {{F::NoCreator, ""}, "line 2 lacks the creator %%Creator: Quobl"},
        {{F::NoIdentifier, ""}, "line 2 lacks the identifier ZQ9XKV"},
        {{F::NoMarker, ""}, "no line from line 3 on holds the marker %%TEXT723DUMMY"},
        {{F::Merged, ""}, "it is a merged sheet already (a line from line 3 on holds \" 2e A5 \")"},
    };
    for (const auto& c : cases) EXPECT_EQ(DetailText(c.detail), c.said);
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
    testing::Hide(dir.Path(".hidden.ps"));
    const bool fifo = testing::MakeFifo(dir.Path("fifo.ps"));
    const bool link = testing::MakeLink("/dev/zero", dir.Path("zero.ps"));
    testing::MakeFolder(dir.Path("folder.ps"));
    // Where the system has no FIFO or link, those names are free.
    const auto special = [](bool made) {
        return made ? CheckFault::NotRegular : CheckFault::NotFound;
    };
#ifdef _WIN32
    const std::string hidden = "hidden: its Hidden attribute is set";
    // Windows' own: a file of the system, and names of devices rather than files.
    dir.Write("system.ps", AcceptedInput());
    ::SetFileAttributesW(windows::Wide(dir.Path("system.ps")).c_str(), FILE_ATTRIBUTE_SYSTEM);
#else
    const std::string hidden = "hidden: its name starts with a dot";
#endif
    TextFiles files;
    const struct {
        std::string name;
        CheckFault fault;
        std::string text;
    } cases[] = {
        {dir.Path("missing.ps"), CheckFault::NotFound, "not found"},
        {dir.Path(".hidden.ps"), CheckFault::Hidden, hidden},
        {dir.Path("fifo.ps"), special(fifo), ""},
        {dir.Path("zero.ps"), special(link), ""},
        {dir.Path("folder.ps"), CheckFault::NotRegular, "not a regular file"},
#ifdef _WIN32
        {dir.Path("system.ps"), CheckFault::System,
         "a file of the system: its System attribute is set"},
        {"\\\\.\\C:\\good.ps", CheckFault::NotRegular, "not a regular file"},
        {"\\\\?\\GLOBALROOT\\Device\\Null", CheckFault::NotRegular, ""},
        {dir.Path("COM\xc2\xb9.ps"), CheckFault::NotRegular, ""},
        {dir.Path("conout$ .ps"), CheckFault::NotRegular, ""},
        {dir.Path("lpt0.ps:x"), CheckFault::NotRegular, ""},
#endif
    };
    for (const auto& c : cases) {
        MergeState state;
        a5merge::Test(state, files, good);
        ASSERT_EQ(FlagsOf(state), kAccepted);
        CheckDetail detail;
        a5merge::Test(state, files, c.name, &detail);
        EXPECT_EQ(FlagsOf(state), kHeaderFailed) << c.name;
        EXPECT_EQ(static_cast<int>(detail.fault), static_cast<int>(c.fault)) << c.name;
        if (!c.text.empty()) {
            EXPECT_EQ(DetailText(detail), c.text) << c.name;
        }
    }
}

#ifndef _WIN32  // a file its user may not read
TEST(InputCheckTest, UnreadableFileFails) {
    TempFolder dir;
    const std::string path = dir.Write("locked.ps", AcceptedInput());
    ::chmod(path.c_str(), 0200);
    dir.OpenToAll();
    const int said = testing::AsUnprivileged([&] {
        TextFiles files;
        MergeState state;
        CheckDetail detail;
        a5merge::Test(state, files, path, &detail);
        return state.foutefile == 1 && DetailText(detail) == "cannot be read: Permission denied";
    });
    EXPECT_EQ(said, 1);
}
#endif

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
