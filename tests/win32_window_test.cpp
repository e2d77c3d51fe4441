// The window on Windows, driven in-process under wine: drops, clicks, keys
// and hand-overs arrive as the messages the system sends; dialogs and boxes
// are answered by the fake desktop.

#include <windows.h>

#include <shlobj.h>  // DROPFILES

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/text_files.h"
#include "platform/windows_support.h"
#include "support/fake_desktop.h"
#include "support/fake_form.h"
#include "support/ps_samples.h"
#include "support/temp_folder.h"
#include "win32/form1_win32.h"

namespace a5merge {
namespace {

using testing::AcceptedInput;
using testing::FakeDesktop;
using testing::ReadBytes;
using testing::TempFolder;
using Texts = std::vector<std::string>;

class Win32WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<Win32Form1>(desktop, files, instances);
        form->Load();
        form->Show(SW_SHOWNOACTIVATE);
        Pump();
    }

    // Runs the messages waiting, as the window's loop does.
    static void Pump() {
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }

    // Drops `paths` on `target` as the shell does: a DROPFILES block.
    static void Drop(HWND target, const std::vector<std::string>& paths) {
        std::wstring names;
        for (const std::string& path : paths) names += windows::Wide(path) + L'\0';
        names += L'\0';
        const HGLOBAL block =
            ::GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
        auto* drop = static_cast<DROPFILES*>(::GlobalLock(block));
        drop->pFiles = sizeof(DROPFILES);
        drop->fWide = TRUE;
        std::copy(names.begin(), names.end(),
                  reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(drop) + sizeof(DROPFILES)));
        ::GlobalUnlock(block);
        ::PostMessageW(target, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
        Pump();
    }

    static std::string Text(HWND window) {
        wchar_t text[256] = {};
        ::GetWindowTextW(window, text, 256);
        return windows::Narrow(text);
    }

    HWND Control(Win32Form1::Control id) const { return form->control(id); }

    TempFolder dir;
    FakeDesktop desktop;
    TextFiles files;
    testing::ScriptedInstances instances{false};
    std::unique_ptr<Win32Form1> form;
};

// The design's window: its caption, client area, controls, captions, fonts
// and places, in twips at the screen's DPI; MERGE + SAVE has the focus.
TEST_F(Win32WindowTest, TheWindowIsAsDesigned) {
    const HWND window = form->window();
    EXPECT_EQ(Text(window), "PS merge");
    RECT client{};
    ::GetClientRect(window, &client);
    EXPECT_EQ(client.right, form->Pixels(2415));
    EXPECT_EQ(client.bottom, form->Pixels(5025));
    const struct {
        Win32Form1::Control id;
        const char* caption;
        int left, top, width, height;
        int points100, weight;  // its font; 0: not checked
    } controls[] = {
        {Win32Form1::lblKorva, "Korvalith Postscript Merge", 120, 120, 2295, 255, 0, 700},
        {Win32Form1::lblA5, "2x A5  -->  1x A4", 360, 360, 1695, 375, 0, 700},
        {Win32Form1::frmTop, "TOP drop zone, no file", 120, 840, 2175, 1335, 825, 400},
        {Win32Form1::lblTop, "TOP", 720, 1320, 1095, 495, 2025, 700},
        {Win32Form1::frmBottom, "BOTTOM drop zone, no file", 120, 2280, 2175, 1335, 825, 400},
        {Win32Form1::lblBottom, "BOTTOM", 240, 2760, 1935, 615, 2025, 700},
        {Win32Form1::cmdMerge, "MERGE + SAVE", 480, 3840, 1455, 375, 825, 400},
        {Win32Form1::cmdExit, "EXIT", 480, 4440, 1455, 375, 825, 400},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.caption);
        const HWND control = Control(c.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(Text(control), c.caption);
        RECT at{};
        ::GetWindowRect(control, &at);
        ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&at), 2);
        EXPECT_EQ(at.left, form->Pixels(c.left));
        EXPECT_EQ(at.top, form->Pixels(c.top));
        EXPECT_EQ(at.right - at.left, form->Pixels(c.width));
        EXPECT_EQ(at.bottom - at.top, form->Pixels(c.height));
        LOGFONTW font{};
        ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)),
                     sizeof font, &font);
        EXPECT_STREQ(font.lfFaceName, L"Tahoma");
        EXPECT_EQ(font.lfWeight, c.weight);
        EXPECT_EQ(font.lfCharSet, ANSI_CHARSET);
        if (c.points100 != 0) {
            EXPECT_EQ(font.lfHeight, -::MulDiv(c.points100, form->Pixels(1440), 7200));
        }
    }
    EXPECT_EQ(::GetFocus(), Control(Win32Form1::cmdMerge));

    // To a screen reader a zone is a button, named with its state: Windows
    // takes both from the control, a push button whose text is that name
    // (drawn by the window, not shown). (Wine's oleacc makes no accessible
    // object of it to ask.)
    for (const auto id : {Win32Form1::frmTop, Win32Form1::frmBottom}) {
        const HWND zone = Control(id);
        wchar_t kind[32] = {};
        ::GetClassNameW(zone, kind, 32);
        EXPECT_EQ(_wcsicmp(kind, L"Button"), 0);
        const LONG_PTR style = ::GetWindowLongPtrW(zone, GWL_STYLE);
        EXPECT_EQ(style & BS_TYPEMASK, BS_OWNERDRAW);
        EXPECT_NE(style & WS_TABSTOP, 0);
    }
}

// A drop on a zone or on its label takes the file there; several files,
// a refused file and a drop on the window elsewhere change nothing.
TEST_F(Win32WindowTest, DropsOnEachZoneAreTaken) {
    const std::string top = dir.Write("left.ps", AcceptedInput());
    const std::string bottom = dir.Write("right.ps", AcceptedInput());
    Drop(form->window(), {top});
    Drop(Control(Win32Form1::cmdMerge), {top});
    EXPECT_EQ(form->state().topOK, 0);
    EXPECT_TRUE(desktop.boxes.empty());

    Drop(Control(Win32Form1::lblTop), {top});
    EXPECT_EQ(form->state().topOK, 1);
    EXPECT_EQ(form->state().topFile, top);
    EXPECT_EQ(Text(Control(Win32Form1::lblTop)), "OK");
    EXPECT_EQ(Text(Control(Win32Form1::frmTop)), "TOP drop zone, left.ps");

    Drop(Control(Win32Form1::frmBottom), {bottom, top});
    EXPECT_EQ(desktop.Texts(), Texts{"Only one at a time!"});
    EXPECT_EQ(form->state().bottomOK, 0);
    Drop(Control(Win32Form1::frmBottom), {bottom});
    EXPECT_EQ(form->state().bottomFile, bottom);
    EXPECT_EQ(Text(Control(Win32Form1::lblBottom)), "    OK");

    // MERGE + SAVE, clicked: the sheet where the dialog says.
    desktop.saveAnswers = {dir.Path("sheet.PS")};
    ::SendMessageW(Control(Win32Form1::cmdMerge), BM_CLICK, 0, 0);
    Pump();
    ASSERT_EQ(desktop.dialogs.size(), 1u);
    EXPECT_EQ(desktop.dialogs[0].fileName, dir.Path("left_Combi.PS"));
    EXPECT_NE(ReadBytes(dir.Path("sheet.PS")).find("405 translate"), std::string::npos);
    EXPECT_EQ(Text(Control(Win32Form1::lblTop)), "TOP");
}

// A click, Space or Enter on a zone opens its dialog; a paste takes the
// path on the clipboard; Escape does nothing.
TEST_F(Win32WindowTest, ClicksKeysAndPastesOnAZone) {
    const std::string chosen = dir.Write("chosen.ps", AcceptedInput());
    const HWND zone = Control(Win32Form1::frmTop);
    desktop.openAnswers = {std::nullopt, std::nullopt, chosen};
    ::SendMessageW(zone, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 40));
    ::SendMessageW(zone, WM_LBUTTONUP, 0, MAKELPARAM(20, 40));
    EXPECT_EQ(::GetFocus(), zone);
    ::SendMessageW(zone, WM_KEYDOWN, VK_SPACE, 0);
    ::SendMessageW(zone, WM_KEYUP, VK_SPACE, 0);
    // Enter, as the dialog manager passes it on: IDOK, the zone with the focus.
    ::SendMessageW(form->window(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_EQ(desktop.openDialogs.size(), 3u);
    EXPECT_EQ(form->state().topFile, chosen);
    desktop.openAnswers = {chosen};
    ::SendMessageW(Control(Win32Form1::frmBottom), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 40));
    ::SendMessageW(Control(Win32Form1::frmBottom), WM_LBUTTONUP, 0, MAKELPARAM(20, 40));
    EXPECT_EQ(form->state().bottomFile, chosen);

    const std::string pasted = dir.Write("pasted.ps", AcceptedInput());
    ASSERT_TRUE(::OpenClipboard(form->window()));
    ::EmptyClipboard();
    const std::wstring text = L"\"" + windows::Wide(pasted) + L"\"\r\n";
    const HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    std::copy(text.c_str(), text.c_str() + text.size() + 1,
              static_cast<wchar_t*>(::GlobalLock(block)));
    ::GlobalUnlock(block);
    ::SetClipboardData(CF_UNICODETEXT, block);
    ::CloseClipboard();
    ::SendMessageW(Control(Win32Form1::frmBottom), WM_KEYDOWN, 'V', 0);  // V alone: nothing
    EXPECT_EQ(form->state().bottomFile, chosen);
    BYTE keys[256] = {};
    keys[VK_CONTROL] = 0x80;
    ::SetKeyboardState(keys);
    ::SendMessageW(Control(Win32Form1::frmBottom), WM_KEYDOWN, 'V', 0);
    keys[VK_CONTROL] = 0;
    ::SetKeyboardState(keys);
    EXPECT_EQ(form->state().bottomFile, pasted);

    const std::size_t boxes = desktop.boxes.size();
    ::SendMessageW(form->window(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ(desktop.boxes.size(), boxes);
}

// EXIT asks first; Cancel leaves everything as it was. Enter presses the
// button with the focus.
TEST_F(Win32WindowTest, ExitAsksFirst) {
    desktop.answers = {kIdCancel};
    ::SendMessageW(Control(Win32Form1::cmdExit), BM_CLICK, 0, 0);
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text, "You're sure?");
    EXPECT_EQ(desktop.boxes[0].style, 33);
    EXPECT_EQ(desktop.boxes[0].title, "Confirmation");
    EXPECT_FALSE(desktop.ended);
    EXPECT_TRUE(::IsWindow(form->window()));

    // Enter presses the button with the focus: MERGE + SAVE, or EXIT.
    desktop.answers = {kIdOk, kIdCancel};
    ::SetFocus(Control(Win32Form1::cmdMerge));
    ::SendMessageW(form->window(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_EQ(desktop.Texts(), (Texts{"You're sure?", "Sorry input *.PS files not correct"}));
    ::SendMessageW(form->window(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);  // Escape
    EXPECT_EQ(desktop.boxes.size(), 2u);
    ::SetFocus(Control(Win32Form1::cmdExit));
    ::SendMessageW(form->window(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_EQ(desktop.boxes.size(), 3u);
    EXPECT_EQ(desktop.boxes.back().text, "You're sure?");
    EXPECT_FALSE(desktop.ended);

    // The focus comes back where it was when a box or dialog has closed.
    ::SendMessageW(form->window(), WM_ACTIVATE, WA_INACTIVE, 0);
    ::SetFocus(nullptr);
    ::SendMessageW(form->window(), WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(::GetFocus(), Control(Win32Form1::cmdExit));
}

// What a second copy hands over: one or two absolute names, taken as drops
// once shown; anything else is refused whole. Then Swap.
TEST_F(Win32WindowTest, HandOversFromASecondCopy) {
    const std::string top = dir.Write("left.ps", AcceptedInput());
    const std::string bottom = dir.Write("right.ps", AcceptedInput());
    const auto send = [this](const std::string& block, ULONG_PTR tag) {
        COPYDATASTRUCT data{};
        data.dwData = tag;
        data.cbData = static_cast<DWORD>(block.size());
        data.lpData = const_cast<char*>(block.data());
        const LRESULT taken =
            ::SendMessageW(form->window(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
        Pump();
        return taken;
    };
    const ULONG_PTR tag = Win32Form1::kHandOverTag;
    EXPECT_EQ(send(Win32Form1::HandOverBlock({top, bottom, top}), tag), FALSE);
    EXPECT_EQ(send(Win32Form1::HandOverBlock({"left.ps"}), tag), FALSE);
    EXPECT_EQ(send(Win32Form1::HandOverBlock({top}), tag + 1), FALSE);
    EXPECT_EQ(form->state().topOK, 0);
    EXPECT_EQ(send(Win32Form1::HandOverBlock({}), tag), TRUE);  // to the front only
    EXPECT_EQ(send(Win32Form1::HandOverBlock({top, bottom}), tag), TRUE);
    EXPECT_EQ(form->state().topFile, top);
    EXPECT_EQ(form->state().bottomFile, bottom);
    EXPECT_TRUE(desktop.boxes.empty());

    // Ctrl+Shift+X swaps them; X alone is no shortcut.
    MSG x{Control(Win32Form1::cmdMerge), WM_KEYDOWN, 'X', 0, 0, {}};
    EXPECT_FALSE(form->Shortcut(x));
    BYTE keys[256] = {};
    keys[VK_CONTROL] = keys[VK_SHIFT] = 0x80;
    ::SetKeyboardState(keys);
    EXPECT_TRUE(form->Shortcut(x));
    keys[VK_CONTROL] = keys[VK_SHIFT] = 0;
    ::SetKeyboardState(keys);
    EXPECT_EQ(form->state().topFile, bottom);
    EXPECT_EQ(form->state().bottomFile, top);
    EXPECT_TRUE(desktop.boxes.empty());
}

// Starts the window program with `args`; its process.
windows::Handle StartWindow(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {A5MERGE_WINDOW_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    std::wstring line = windows::CommandLine(argv);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(windows::Wide(argv[0]).c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, nullptr, &startup, &process)) {
        return windows::Handle();
    }
    ::CloseHandle(process.hThread);
    return windows::Handle(process.hProcess);
}

// Waits up to 20 s for a top-level window of `kind` with `title`.
HWND WaitForWindow(const wchar_t* kind, const wchar_t* title) {
    for (int i = 0; i < 400; ++i) {
        if (const HWND found = ::FindWindowW(kind, title)) return found;
        ::Sleep(50);
    }
    return nullptr;
}

// One copy per session: a second started with files gives them to the
// first and ends; one without files says the first runs and ends when told.
TEST(Win32SecondCopyTest, FilesGoToTheWindowThatRuns) {
    TempFolder dir;
    const std::string top = dir.Write("left.ps", AcceptedInput());
    const std::string bottom = dir.Write("right.ps", AcceptedInput());
    const windows::Handle first = StartWindow({});
    ASSERT_TRUE(first.valid());
    const HWND window = WaitForWindow(Win32Form1::kClassName, L"PS merge");
    ASSERT_NE(window, nullptr);

    const windows::Handle second = StartWindow({top, bottom});
    ASSERT_EQ(::WaitForSingleObject(second.get(), 20000), WAIT_OBJECT_0);
    DWORD status = 1;
    ::GetExitCodeProcess(second.get(), &status);
    EXPECT_EQ(status, 0u);
    const auto zoneText = [window](int zone) {
        wchar_t text[256] = {};
        ::GetWindowTextW(::GetDlgItem(window, zone), text, 256);
        return windows::Narrow(text);
    };
    for (int i = 0; i < 100 && zoneText(Win32Form1::frmBottom).find("right.ps") ==
                                   std::string::npos; ++i) {
        ::Sleep(50);
    }
    EXPECT_EQ(zoneText(Win32Form1::frmTop), "TOP drop zone, left.ps");
    EXPECT_EQ(zoneText(Win32Form1::frmBottom), "BOTTOM drop zone, right.ps");

    const windows::Handle third = StartWindow({});
    const HWND box = WaitForWindow(L"#32770", L"Error !");
    ASSERT_NE(box, nullptr) << "no box said the first copy runs";
    wchar_t said[256] = {};
    ::GetDlgItemTextW(box, 0xFFFF, said, 256);
    EXPECT_EQ(std::wstring(said).rfind(L"The application is already running!!! ", 0), 0u);
    // Answered as a user does: Enter, on its OK button.
    const HWND ok = ::GetDlgItem(box, IDOK);
    ::PostMessageW(ok, WM_KEYDOWN, VK_RETURN, 0);
    ::PostMessageW(ok, WM_KEYUP, VK_RETURN, 0);
    EXPECT_EQ(::WaitForSingleObject(third.get(), 20000), WAIT_OBJECT_0);

    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(::WaitForSingleObject(first.get(), 20000), WAIT_OBJECT_0);
}

}  // namespace
}  // namespace a5merge
