// The window on Windows, driven in-process under wine: drops, clicks, keys
// and hand-overs arrive as the messages the system sends; dialogs and boxes
// are answered by the fake desktop.

#include <winsock2.h>  // before windows.h

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>  // DROPFILES

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ghostscript/ghostscript.h"
#include "ghostscript/sheet_commands.h"
#include "handlers/sheet_preview.h"
#include "merge/merge_command.h"
#include "platform/single_instance.h"
#include "platform/text_files.h"
#include "platform/windows_support.h"
#include "support/fake_desktop.h"
#include "support/fake_form.h"
#include "support/ps_samples.h"
#include "support/temp_folder.h"
#include "win32/form1_win32.h"
#include "win32/win32_desktop.h"

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

    // Runs the window's messages until `done`, for at most a minute.
    static bool PumpUntil(const std::function<bool()>& done) {
        const ULONGLONG end = ::GetTickCount64() + 60'000;
        while (!done()) {
            if (::GetTickCount64() > end) return false;
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            Pump();
        }
        return true;
    }

    // Presses a shortcut of the window with `held` down.
    bool Press(WPARAM key, std::initializer_list<int> held, HWND at = nullptr) {
        BYTE keys[256] = {};
        for (const int k : held) keys[k] = 0x80;
        ::SetKeyboardState(keys);
        MSG message{at != nullptr ? at : Control(Win32Form1::cmdMerge), WM_KEYDOWN, key, 0, 0, {}};
        const bool taken = form->Shortcut(message);
        BYTE none[256] = {};
        ::SetKeyboardState(none);
        return taken;
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

// Each zone draws itself (it is owner-drawn): its ground, its frame and
// its caption, into the device context the system gives it.
TEST_F(Win32WindowTest, EachZoneDrawsItself) {
    for (const Win32Form1::Control zone : {Win32Form1::frmTop, Win32Form1::frmBottom}) {
        RECT room{};
        ::GetClientRect(Control(zone), &room);
        const HDC screen = ::GetDC(nullptr);
        const HDC dc = ::CreateCompatibleDC(screen);
        const HBITMAP bitmap = ::CreateCompatibleBitmap(screen, room.right, room.bottom);
        ::ReleaseDC(nullptr, screen);
        const HGDIOBJ before = ::SelectObject(dc, bitmap);
        const HBRUSH magenta = ::CreateSolidBrush(RGB(255, 0, 255));
        ::FillRect(dc, &room, magenta);
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.CtlID = static_cast<UINT>(Win32Form1::IdOf(zone));
        item.itemAction = ODA_DRAWENTIRE;
        item.hwndItem = Control(zone);
        item.hDC = dc;
        item.rcItem = room;
        ::SendMessageW(form->window(), WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
        int ground = 0, other = 0;
        for (int y = 0; y < room.bottom; y += 2) {
            for (int x = 0; x < room.right; x += 2) {
                const COLORREF pixel = ::GetPixel(dc, x, y);
                EXPECT_NE(pixel, RGB(255, 0, 255)) << x << "," << y;
                (pixel == ::GetSysColor(COLOR_BTNFACE) ? ground : other) += 1;
                if (pixel == RGB(255, 0, 255)) break;
            }
        }
        EXPECT_GT(ground, 0);
        EXPECT_GT(other, 0) << "no frame or caption";
        ::SelectObject(dc, before);
        ::DeleteObject(magenta);
        ::DeleteObject(bitmap);
        ::DeleteDC(dc);
    }
}

// The design's window: its caption, client area, controls, captions, fonts
// and places, in twips at its monitor's DPI, and again at another when it
// moves to a monitor of another scale; MERGE + SAVE has the focus.
TEST_F(Win32WindowTest, TheWindowIsAsDesigned) {
    const HWND window = form->window();
    EXPECT_EQ(Text(window), "PS merge");
    const int startDpi = form->Pixels(1440);
    EXPECT_EQ(startDpi, DpiOf(window));
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
    const auto laidOut = [&] {
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
    };
    laidOut();
    EXPECT_EQ(::GetFocus(), Control(Win32Form1::cmdMerge));

    // Moved to a monitor at 150 % and back, as Windows tells it: the
    // rectangle it suggests taken, everything laid out at the new DPI,
    // the tooltip along.
    for (const int dpi : {144, startDpi}) {
        SCOPED_TRACE(dpi);
        RECT suggested{40, 30, 40 + ::MulDiv(2415, dpi, 1440) + 16,
                       30 + ::MulDiv(5025, dpi, 1440) + 39};
        ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                       reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(form->Pixels(1440), dpi);
        RECT now{};
        ::GetWindowRect(window, &now);
        EXPECT_TRUE(::EqualRect(&now, &suggested));
        laidOut();
        EXPECT_EQ(form->tip().dpi(), dpi);
    }

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
    // Shift+Insert pastes as well (on TOP now); Insert alone does nothing.
    ::SendMessageW(Control(Win32Form1::frmTop), WM_KEYDOWN, VK_INSERT, 0);
    EXPECT_EQ(form->state().topFile, chosen);
    keys[VK_SHIFT] = 0x80;
    ::SetKeyboardState(keys);
    ::SendMessageW(Control(Win32Form1::frmTop), WM_KEYDOWN, VK_INSERT, 0);
    keys[VK_SHIFT] = 0;
    ::SetKeyboardState(keys);
    EXPECT_EQ(form->state().topFile, pasted);

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
    const auto sendTo = [](HWND window, const std::string& block, ULONG_PTR tag) {
        COPYDATASTRUCT data{};
        data.dwData = tag;
        data.cbData = static_cast<DWORD>(block.size());
        data.lpData = const_cast<char*>(block.data());
        const LRESULT taken =
            ::SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
        Pump();
        return taken;
    };
    const auto send = [&](const std::string& block, ULONG_PTR tag) {
        return sendTo(form->window(), block, tag);
    };
    const ULONG_PTR tag = Win32Form1::kHandOverTag;
    {
        // A window not shown yet takes none: the copy that sent them keeps them.
        Win32Form1 hidden(desktop, files, instances);
        hidden.Load();
        EXPECT_EQ(sendTo(hidden.window(), Win32Form1::HandOverBlock({top}), tag), FALSE);
        EXPECT_EQ(hidden.state().topFile, "");
    }
    EXPECT_EQ(send(Win32Form1::HandOverBlock({top, bottom, top}), tag), FALSE);
    EXPECT_EQ(send(Win32Form1::HandOverBlock({"left.ps"}), tag), FALSE);
    EXPECT_EQ(send(Win32Form1::HandOverBlock({top}), tag + 1), FALSE);
    // Names of files only: no device, whatever the prefix.
    for (const char* device : {"\\\\.\\PhysicalDrive0", "\\\\.\\C:\\x.ps",
                               "\\\\?\\GLOBALROOT\\Device\\Null",
                               "\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\x.ps",
                               "\\??\\C:\\x.ps", "\\\\server", "C:x.ps"}) {
        EXPECT_EQ(send(Win32Form1::HandOverBlock({top, device}), tag), FALSE) << device;
    }
    // A length that says there are bytes, and none.
    COPYDATASTRUCT empty{tag, 4, nullptr};
    EXPECT_EQ(::SendMessageW(form->window(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&empty)),
              FALSE);
    EXPECT_EQ(form->state().topOK, 0);
    EXPECT_EQ(send(Win32Form1::HandOverBlock({}), tag), TRUE);  // to the front only
    EXPECT_EQ(send(Win32Form1::HandOverBlock({top, bottom}), tag), TRUE);
    EXPECT_EQ(form->state().topFile, top);
    EXPECT_EQ(form->state().bottomFile, bottom);
    EXPECT_TRUE(desktop.boxes.empty());
    // The long-path form of a drive's path and a UNC path are names of files.
    EXPECT_EQ(send(Win32Form1::HandOverBlock({"\\\\?\\" + top}), tag), TRUE);
    EXPECT_EQ(form->state().topFile, "\\\\?\\" + top);
    EXPECT_EQ(form->state().topOK, 1);

}

// Holds a key down for the shortcuts that follow (0: lets go of all).
void HoldKeys(std::initializer_list<int> held) {
    BYTE keys[256] = {};
    for (const int key : held) keys[key] = 0x80;
    ::SetKeyboardState(keys);
}

// The dark pixels of rows [top, bottom) of `page`.
int Ink(const Raster& page, int top, int bottom) {
    int ink = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = 0; x < page.width; ++x) ink += page.At(x, y) < 128 ? 1 : 0;
    }
    return ink;
}

// The text of each item of the context menu, once it shows (a separator:
// empty), read from inside its loop; then `keys` are pressed there.
struct MenuReader {
    static inline std::vector<std::string> items;
    static inline std::vector<WPARAM> keys;
    static inline std::function<void()> whileOpen;  // runs while it shows

    static void CALLBACK Read(HWND, UINT, UINT_PTR timer, DWORD) {
        const HWND menuWindow = ::FindWindowW(L"#32768", nullptr);
        if (menuWindow == nullptr || !::IsWindowVisible(menuWindow)) return;
        ::KillTimer(nullptr, timer);
        const auto menu = reinterpret_cast<HMENU>(::SendMessageW(menuWindow, 0x01E1, 0, 0));
        items.clear();
        for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
            wchar_t text[128] = {};
            ::GetMenuStringW(menu, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
            items.push_back(windows::Narrow(text));
        }
        if (whileOpen) whileOpen();
        for (const WPARAM key : keys) ::PostMessageW(menuWindow, WM_KEYDOWN, key, 0);
    }
    // Reads the next menu and presses `pressed` in it.
    static void Next(std::vector<WPARAM> pressed) {
        items.clear();
        keys = std::move(pressed);
        ::SetTimer(nullptr, 0, 50, Read);
    }
};

// The context menu and its shortcuts: each command is refused as MERGE +
// SAVE refuses until both zones hold a file (Preview: until one does);
// right click, the Menu key and Shift+F10 open the menu, whose commands run.
TEST_F(Win32WindowTest, ContextMenuAndShortcuts) {
    const HWND zone = Control(Win32Form1::frmTop);
    const struct {
        int key;
        bool shift;
        const char* what;
    } shortcuts[] = {
        {'P', true, "Preview"},
        {'P', false, "Print"},
        {'S', true, "Save as PDF"},
        {'X', true, "Swap"},
    };
    for (const auto& shortcut : shortcuts) {
        SCOPED_TRACE(shortcut.what);
        desktop.boxes.clear();
        MSG key{zone, WM_KEYDOWN, static_cast<WPARAM>(shortcut.key), 0, 0, {}};
        EXPECT_FALSE(form->Shortcut(key)) << "without Ctrl";
        HoldKeys({VK_CONTROL, VK_SHIFT});
        if (!shortcut.shift) HoldKeys({VK_CONTROL});
        EXPECT_TRUE(form->Shortcut(key));
        HoldKeys({VK_CONTROL, VK_MENU});
        EXPECT_FALSE(form->Shortcut(key)) << "Ctrl+Alt (AltGr) is no shortcut";
        HoldKeys({});
        EXPECT_EQ(desktop.Texts(), Texts{kInputsNotCorrect});
    }
    EXPECT_EQ(form->preview(), nullptr);
    // Ctrl+P is Print, not Preview, which has the same key: with TOP alone,
    // Print refuses and no preview opens.
    Drop(zone, {dir.Write("alone.ps", AcceptedInput())});
    desktop.boxes.clear();
    ASSERT_TRUE(Press('P', {VK_CONTROL}, zone));
    EXPECT_EQ(desktop.Texts(), Texts{kInputsNotCorrect});
    EXPECT_EQ(form->preview(), nullptr);

    // Right click on a zone: the menu, its items and their keys.
    const std::string top = dir.Write("left.ps", AcceptedInput());
    const std::string bottom = dir.Write("right.ps", AcceptedInput());
    Drop(zone, {top});
    Drop(Control(Win32Form1::frmBottom), {bottom});
    desktop.boxes.clear();
    MenuReader::Next({VK_UP, VK_RETURN});  // the last item: Swap
    bool tipOverMenu = true;
    MenuReader::whileOpen = [&] {
        ::SendMessageW(zone, WM_MOUSEHOVER, 0, MAKELPARAM(10, 10));
        tipOverMenu = form->tip().visible();
    };
    ::SendMessageW(zone, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(zone), MAKELPARAM(300, 300));
    MenuReader::whileOpen = nullptr;
    EXPECT_FALSE(tipOverMenu) << "no tooltip over the menu";
    EXPECT_EQ(MenuReader::items,
              (Texts{"Preview...\tCtrl+Shift+P", "Print...\tCtrl+P", "Save as PDF...\tCtrl+Shift+S",
                     "", "Swap TOP and BOTTOM\tCtrl+Shift+X"}));
    EXPECT_EQ(form->state().topFile, bottom);
    EXPECT_EQ(form->state().bottomFile, top);

    // The Menu key and Shift+F10 open it where the focus is; their key-up
    // is taken too (it would open it again). Escape closes it.
    for (const bool menuKey : {true, false}) {
        SCOPED_TRACE(menuKey ? "Menu key" : "Shift+F10");
        if (!menuKey) HoldKeys({VK_SHIFT});
        const WPARAM pressed = menuKey ? VK_APPS : VK_F10;
        MSG down{zone, static_cast<UINT>(menuKey ? WM_KEYDOWN : WM_SYSKEYDOWN), pressed, 0, 0, {}};
        MSG up{zone, static_cast<UINT>(menuKey ? WM_KEYUP : WM_SYSKEYUP), pressed, 0, 0, {}};
        MenuReader::Next({VK_ESCAPE});
        EXPECT_TRUE(form->Shortcut(down));
        EXPECT_EQ(MenuReader::items.size(), 5u);
        EXPECT_TRUE(form->Shortcut(up));
        HoldKeys({});
    }
    MSG f10{zone, WM_SYSKEYDOWN, VK_F10, 0, 0, {}};
    EXPECT_FALSE(form->Shortcut(f10)) << "F10 alone is the system's";
    EXPECT_EQ(form->state().topFile, bottom);
    EXPECT_TRUE(desktop.boxes.empty());
}

// The preview: beside the window, the sheet as Ghostscript renders it (TOP's
// drawing high, BOTTOM's low), following drops and swaps, Ghostscript's
// error in place of the picture, Print and Save as PDF, closed by Escape.
TEST_F(Win32WindowTest, PreviewShowsTheSheetAndFollowsTheZones) {
    const std::string top = dir.Write("top.ps", ReadBytes(testing::TestData("top.ps")));
    const std::string bottom = dir.Write("bottom.ps", ReadBytes(testing::TestData("bottom.ps")));
    Drop(Control(Win32Form1::frmBottom), {bottom});
    ASSERT_TRUE(Press('P', {VK_CONTROL, VK_SHIFT}));
    Win32PreviewWindow* preview = form->preview();
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(preview->visible());
    EXPECT_EQ(Text(preview->window()), "Preview of the A4 sheet - PS merge");
    RECT main{}, beside{};
    ::GetWindowRect(form->window(), &main);
    ::GetWindowRect(preview->window(), &beside);
    EXPECT_GE(beside.left, main.right) << "beside the window, not over it";
    int done = preview->rendersDone();
    ASSERT_TRUE(PumpUntil([&] { return preview->rendersDone() > done && !preview->rendering(); }));
    EXPECT_EQ(preview->StatusText(), "BOTTOM only: TOP has no file yet");

    const auto rendered = [&] {
        done = preview->rendersDone();
        EXPECT_TRUE(
            PumpUntil([&] { return preview->rendersDone() > done && !preview->rendering(); }));
    };
    Drop(Control(Win32Form1::frmTop), {top});
    rendered();
    ASSERT_NE(preview->picture(), nullptr) << preview->message();
    const Raster sheet = *preview->picture();
    const RECT page = preview->PageRect();
    EXPECT_NEAR(sheet.height, page.bottom - page.top, 2) << "a pixel for each pixel shown";
    EXPECT_NEAR(sheet.width, page.right - page.left, 2);
    const int high = Ink(sheet, 0, sheet.height / 2), low = Ink(sheet, sheet.height / 2, sheet.height);
    EXPECT_GT(high, 0);
    EXPECT_GT(low, 0);
    EXPECT_EQ(preview->StatusText(), "");

    // Swapped (the shortcut pressed in the preview): each half shows the
    // other drawing.
    ASSERT_TRUE(Press('X', {VK_CONTROL, VK_SHIFT}, preview->window()));
    rendered();
    ASSERT_NE(preview->picture(), nullptr);
    const Raster swapped = *preview->picture();
    EXPECT_NEAR(Ink(swapped, 0, swapped.height / 2), low, low / 5);
    EXPECT_NEAR(Ink(swapped, swapped.height / 2, swapped.height), high, high / 5);
    EXPECT_NE(high, low) << "the two drawings must differ for this test";

    // On a monitor at 150 %: the rectangle suggested, its buttons and the
    // picture made at the new DPI.
    RECT before{};
    ::GetWindowRect(preview->window(), &before);
    // (Within the 1024 x 768 screen of the tests.)
    RECT suggested{0, 0, std::min(1000, static_cast<int>(before.right - before.left) * 3 / 2),
                   std::min(740, static_cast<int>(before.bottom - before.top) * 3 / 2)};
    done = preview->rendersDone();
    ::SendMessageW(preview->window(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                   reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(preview->dpi(), 144);
    RECT now{};
    ::GetWindowRect(preview->window(), &now);
    EXPECT_TRUE(::EqualRect(&now, &suggested));
    RECT button{};
    ::GetWindowRect(::GetDlgItem(preview->window(), Win32PreviewWindow::previewPrint), &button);
    EXPECT_EQ(button.bottom - button.top, 39);
    EXPECT_TRUE(PumpUntil([&] {
        const RECT page = preview->PageRect();
        return preview->rendersDone() > done && !preview->rendering() &&
               preview->picture() != nullptr &&
               // (Ghostscript takes whole dots per inch: within one of them.)
               std::abs(preview->picture()->height - (page.bottom - page.top)) <= 12;
    }));
    ASSERT_NE(preview->picture(), nullptr);
    EXPECT_NE(preview->picture()->height, swapped.height);

    // A drawing Ghostscript fails on: its error in place of the picture.
    Drop(Control(Win32Form1::frmTop),
         {dir.Write("broken.ps", AcceptedInput("no_such_operator\r\nshowpage\r\n"))});
    rendered();
    EXPECT_EQ(preview->picture(), nullptr);
    EXPECT_EQ(preview->message().rfind("TOP, broken.ps: Ghostscript: Error: /undefined", 0), 0u)
        << preview->message();

    // Its buttons: Save as PDF and Print, as the main window's.
    ::SendMessageW(preview->window(), WM_COMMAND,
                   MAKEWPARAM(Win32PreviewWindow::previewSavePdf, BN_CLICKED), 0);
    ::SendMessageW(preview->window(), WM_COMMAND,
                   MAKEWPARAM(Win32PreviewWindow::previewPrint, BN_CLICKED), 0);
    EXPECT_EQ(desktop.dialogs.size(), 1u);
    EXPECT_TRUE(desktop.printDialogs.size() == 1u || desktop.Texts() == Texts{kNoPrinter})
        << "without a printer Print says so";

    // Escape closes it; Preview shows it again.
    MSG escape{::GetDlgItem(preview->window(), Win32PreviewWindow::previewPrint), WM_KEYDOWN,
               VK_ESCAPE, 0, 0, {}};
    EXPECT_TRUE(form->Shortcut(escape));
    EXPECT_FALSE(preview->visible());
    ASSERT_TRUE(Press('P', {VK_CONTROL, VK_SHIFT}));
    EXPECT_TRUE(preview->visible());
    EXPECT_EQ(form->preview(), preview);
    // Ctrl+W closes it too; W alone does not.
    Press('W', {}, preview->window());
    EXPECT_TRUE(preview->visible());
    EXPECT_TRUE(Press('W', {VK_CONTROL}, preview->window()));
    EXPECT_FALSE(preview->visible());
}

// A file on another machine is reached off the window's thread first: the
// busy box says so (and the window answers meanwhile); Cancel there leaves
// the zone as it was. A file of this machine needs no such wait.
TEST_F(Win32WindowTest, FilesOnAnotherMachineAreReachedOffTheWindowsThread) {
    const std::string remote = "\\\\nosuchserver\\share\\left.ps";
    desktop.cancelBusy = true;
    Drop(Control(Win32Form1::frmTop), {remote});
    EXPECT_EQ(desktop.busy, Texts{"Reaching " + remote + "..."});
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(form->state().topFile, "");
    desktop.cancelBusy = false;
    Drop(Control(Win32Form1::frmTop), {remote});
    EXPECT_EQ(desktop.busy.size(), 2u);
    EXPECT_EQ(desktop.Texts(), Texts{"TOP.PS file check NOT OK"});  // then checked as any drop
    Drop(Control(Win32Form1::frmTop), {dir.Write("left.ps", AcceptedInput())});
    EXPECT_EQ(desktop.busy.size(), 2u);
    EXPECT_EQ(form->state().topOK, 1);
}

// Save as PDF: NAME_Combi.pdf proposed beside TOP; the PDF written where
// the dialog says.
TEST_F(Win32WindowTest, SaveAsPdfWritesThePdf) {
    Drop(Control(Win32Form1::frmTop), {dir.Write("left.ps", AcceptedInput())});
    Drop(Control(Win32Form1::frmBottom), {dir.Write("right.ps", AcceptedInput())});
    desktop.saveAnswers = {dir.Path("sheet.pdf")};
    ASSERT_TRUE(Press('S', {VK_CONTROL, VK_SHIFT}));
    ASSERT_EQ(desktop.dialogs.size(), 1u);
    EXPECT_EQ(desktop.dialogs[0].fileName, dir.Path("left_Combi.pdf"));
    EXPECT_EQ(desktop.Texts(), Texts{"All looks OK!  "});
    EXPECT_EQ(ReadBytes(dir.Path("sheet.pdf")).rfind("%PDF-", 0), 0u);
}

// The system's own Save As and Open dialogs (the common item dialogs),
// answered as a user does: the proposal comes back whole, Cancel is
// nothing. A folder past MAX_PATH goes to the shell by its short name and
// comes back by its long one. (Wine's shell parses no short name: there
// the dialogs themselves are shown a short folder only.)
TEST_F(Win32WindowTest, TheSystemsDialogsTakeLongPaths) {
    std::string folder = dir.Path("");
    while (folder.size() < 300) {
        folder += std::string(60, 'a' + static_cast<char>(folder.size() % 26)) + "\\";
        testing::MakeFolder(folder.substr(0, folder.size() - 1));
    }
    folder.pop_back();
    const std::string shortName = ShellFolderName(folder);
    EXPECT_LT(shortName.size(), static_cast<std::size_t>(MAX_PATH));
    EXPECT_EQ(ChosenPath(shortName + "\\left_Combi.PS"), folder + "\\left_Combi.PS");
    EXPECT_EQ(ChosenPath("\\\\?\\" + shortName + "\\x.PS"), folder + "\\x.PS");
    EXPECT_EQ(ShellFolderName(dir.Path("")), dir.Path(""));
    folder = dir.Path("short");
    testing::MakeFolder(folder);
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Win32Desktop real;
    real.SetOwner(form->window());
    // Answers the next dialog titled `title` with `command` (IDOK, IDCANCEL).
    const auto answer = [](const wchar_t* title, WPARAM command) {
        return std::thread([title, command] {
            for (int i = 0; i < 300; ++i) {
                const HWND dialog = ::FindWindowW(nullptr, title);
                if (dialog != nullptr && ::IsWindowVisible(dialog)) {
                    ::Sleep(300);
                    ::PostMessageW(dialog, WM_COMMAND, command, 0);
                    return;
                }
                ::Sleep(100);
            }
        });
    };
    const std::string proposed = folder + "\\left_Combi.PS";
    std::thread ok = answer(L"Save the long one", IDOK);
    const std::optional<std::string> saved =
        real.SaveAs({"Save the long one", "Postscript (*.PS)|*.PS|PDF (*.pdf)|*.pdf", "PS", folder,
                     proposed, SaveDialog::kOverwritePrompt});
    ok.join();
    EXPECT_EQ(saved, proposed);

    std::thread cancel = answer(L"Open the long one", IDCANCEL);
    EXPECT_EQ(real.OpenFile({"Open the long one", "PostScript (*.ps)|*.ps", folder}), std::nullopt);
    cancel.join();
}

// A zone's tooltip, while the pointer rests there: what to do without a
// file; with one, its name and a small render of its drawing. Every tip
// tells of the menu. It goes when the pointer leaves.
TEST_F(Win32WindowTest, TooltipsShowTheDrawings) {
    const HWND zone = Control(Win32Form1::frmTop);
    DrawingTip& tip = form->tip();
    ::SetCursorPos(0, 0);  // the real pointer away from where the tip shows
    ::SendMessageW(zone, WM_MOUSEHOVER, 0, MAKELPARAM(10, 10));
    EXPECT_TRUE(tip.visible());
    EXPECT_EQ(tip.text(), std::string("TOP: drop, paste or click to choose a PostScript file\n") +
                              kMenuHint);
    ::SendMessageW(zone, WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(tip.visible());
    // A file refused: why, as --check says it, until the zone takes one.
    Drop(zone, {dir.Write("notes.txt", "x")});
    ::SendMessageW(zone, WM_MOUSEHOVER, 0, MAKELPARAM(10, 10));
    EXPECT_EQ(tip.text(), std::string("TOP: drop, paste or click to choose a PostScript file\n"
                                      "Refused notes.txt: Sorry only *.PS files\n") +
                              kMenuHint);
    desktop.boxes.clear();

    // Taken while its tip shows: the tip follows.
    const std::string top = dir.Write("top.ps", ReadBytes(testing::TestData("top.ps")));
    Drop(zone, {top});
    EXPECT_TRUE(tip.visible());
    EXPECT_EQ(tip.text(), "TOP: " + top + "\n(drawing...)\n" + kMenuHint);
    ASSERT_TRUE(PumpUntil([&] { return tip.pictureSize().cx > 0; })) << tip.text();
    EXPECT_EQ(tip.text(), "TOP: " + top + "\n" + kMenuHint);
    EXPECT_NEAR(tip.pictureSize().cx, ::MulDiv(DrawingTip::kWidth, form->Pixels(1440), 96), 3);
    EXPECT_NEAR(tip.pictureSize().cy, tip.pictureSize().cx * 421 / 595, 3) << "the half page";
    EXPECT_TRUE(tip.visible());
    ::SendMessageW(zone, WM_MOUSEHOVER, 0, MAKELPARAM(10, 10));
    EXPECT_EQ(tip.renders(), 1) << "from the cache";

    // On a monitor at 150 %, its picture is made again at that size.
    const int startDpi = form->Pixels(1440);
    for (const int dpi : {144, startDpi}) {
        RECT now{};
        ::GetWindowRect(form->window(), &now);
        ::SendMessageW(form->window(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                       reinterpret_cast<LPARAM>(&now));
        ::SendMessageW(zone, WM_MOUSEHOVER, 0, MAKELPARAM(10, 10));
        const int wide = ::MulDiv(DrawingTip::kWidth, dpi, 96);
        EXPECT_TRUE(PumpUntil([&] { return std::abs(tip.pictureSize().cx - wide) <= 3; }))
            << dpi << ": " << tip.pictureSize().cx;
    }
    ::SendMessageW(zone, WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(tip.visible());
}

// Without Ghostscript, Preview, Print and Save as PDF each say where to get
// it; MERGE + SAVE works as before.
TEST_F(Win32WindowTest, WithoutGhostscriptEachSaysWhereToGetIt) {
    form.reset();
    ::SetEnvironmentVariableW(L"A5MERGE_GHOSTSCRIPT", L"Z:\\nonexistent\\gswin64c.exe");
    form = std::make_unique<Win32Form1>(desktop, files, instances);
    ::SetEnvironmentVariableW(L"A5MERGE_GHOSTSCRIPT", nullptr);
    form->Show(SW_SHOWNOACTIVATE);
    const std::string top = dir.Write("left.ps", AcceptedInput());
    Drop(Control(Win32Form1::frmTop), {top});
    Drop(Control(Win32Form1::frmBottom), {dir.Write("right.ps", AcceptedInput())});
    ASSERT_TRUE(Press('P', {VK_CONTROL}));
    ASSERT_TRUE(Press('S', {VK_CONTROL, VK_SHIFT}));
    EXPECT_EQ(desktop.Texts(), (Texts{kGhostscriptMissing, kGhostscriptMissing}));
    ASSERT_TRUE(Press('P', {VK_CONTROL, VK_SHIFT}));
    EXPECT_EQ(form->preview()->message(), kGhostscriptMissing);
    ::SendMessageW(Control(Win32Form1::frmTop), WM_MOUSEHOVER, 0, MAKELPARAM(10, 10));
    EXPECT_EQ(form->tip().text(),
              "TOP: " + top + "\n(" + kGhostscriptMissing + ")\n" + kMenuHint);

    desktop.saveAnswers = {dir.Path("sheet.PS")};
    ::SendMessageW(Control(Win32Form1::cmdMerge), BM_CLICK, 0, 0);
    EXPECT_NE(ReadBytes(dir.Path("sheet.PS")).find("405 translate"), std::string::npos);
}

// While work runs the windows take no input; after a short while a box says
// what goes on, and its Cancel stops the work. What the work throws comes
// back.
TEST_F(Win32WindowTest, BusyWorkHoldsInputAndCanBeCancelled) {
    Win32Desktop real;
    real.SetOwner(form->window());
    std::string said;
    std::thread pressCancel([&said] {
        for (int i = 0; i < 200; ++i) {
            const HWND box = ::FindWindowW(L"a5merge.Busy", nullptr);
            if (box != nullptr && ::IsWindowVisible(box)) {
                said = Text(::GetWindow(box, GW_CHILD));
                ::PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
                return;
            }
            ::Sleep(50);
        }
    });
    bool inputTaken = true, cancelled = false;
    real.WhileBusy(kMakingThePdf, [&](const std::atomic<bool>& cancel) {
        inputTaken = ::IsWindowEnabled(form->window()) != FALSE;
        for (int i = 0; i < 1000 && !cancel; ++i) ::Sleep(20);
        cancelled = cancel;
    });
    pressCancel.join();
    EXPECT_FALSE(inputTaken);
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(said, kMakingThePdf);
    EXPECT_TRUE(::IsWindowEnabled(form->window()));
    EXPECT_EQ(::FindWindowW(L"a5merge.Busy", nullptr), nullptr);
    EXPECT_THROW(real.WhileBusy("", [](const std::atomic<bool>&) { throw std::runtime_error("x"); }),
                 std::runtime_error);
}

// A4 replaces any other paper settings name, by size or by a form's name.
TEST(PreferA4Test, ReplacesAnyOtherPaper) {
    DEVMODEW settings{};
    settings.dmSize = sizeof settings;
    settings.dmFields = DM_PAPERLENGTH | DM_PAPERWIDTH | DM_FORMNAME | DM_COPIES;
    settings.dmPaperSize = DMPAPER_LETTER;
    PreferA4(settings);
    EXPECT_EQ(settings.dmPaperSize, DMPAPER_A4);
    EXPECT_EQ(settings.dmFields, static_cast<DWORD>(DM_PAPERSIZE | DM_COPIES));
}

// The sheet's place on a printer's page: fitted in inches, so that pixels
// that are not square do not squash it; centred, never cut, counted from
// the printable area's corner.
TEST(PreferA4Test, TheSheetIsPlacedInInches) {
    const struct {
        PrinterPage page;
        double aspect;  // width over height, in inches; 0: no place
        const char* what;
    } cases[] = {
        {{300, 300, 2480, 3508, 0, 0, 2480, 3508}, 595.0 / 842.0, "A4 at 300 dpi, no margin"},
        {{200, 100, 1654, 1169, 0, 0, 1654, 1169}, 595.0 / 842.0, "200 x 100 dpi"},
        {{100, 200, 827, 2339, 20, 40, 787, 2259}, 595.0 / 842.0, "100 x 200 dpi, margins"},
        {{0, 300, 2480, 3508, 0, 0, 2480, 3508}, 0, "no resolution"},
        {{300, 300, 2480, 3508, 0, 0, 0, 0}, 0, "no printable area"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const RECT place = SheetPlace(c.page);
        if (c.aspect == 0) {
            EXPECT_TRUE(::IsRectEmpty(&place));
            continue;
        }
        const double wide = (place.right - place.left) / static_cast<double>(c.page.dotsX);
        const double high = (place.bottom - place.top) / static_cast<double>(c.page.dotsY);
        EXPECT_NEAR(wide / high, c.aspect, 0.01);
        EXPECT_GE(place.left, 0);
        EXPECT_GE(place.top, 0);
        EXPECT_LE(place.right, c.page.printableWidth);
        EXPECT_LE(place.bottom, c.page.printableHeight);
        // Centred across the paper (from its own edge, not the printable area's).
        const int paperLeft = place.left + c.page.offsetX;
        const int paperRight = c.page.paperWidth - (place.right + c.page.offsetX);
        EXPECT_NEAR(paperLeft, paperRight, 2);
    }
}

// A printer of the tests' own (tools/private-cups.sh): a socket on loopback
// that keeps what the print server sends it.
class LoopbackPrinter {
public:
    explicit LoopbackPrinter(int port) {
        WSADATA data{};
        ::WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = ::htons(static_cast<u_short>(port));
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        listening_ = listener_ != INVALID_SOCKET &&
                     ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::listen(listener_, 4) == 0;
    }
    ~LoopbackPrinter() {
        if (listener_ != INVALID_SOCKET) ::closesocket(listener_);
        ::WSACleanup();
    }
    bool listening() const { return listening_; }

    // The bytes of the next job, once its sender is done; nothing after a
    // minute without one.
    std::optional<std::string> NextJob() {
        if (!Readable(listener_, 60)) return std::nullopt;
        const SOCKET client = ::accept(listener_, nullptr, nullptr);
        std::string job;
        char buffer[65536];
        int got = 0;
        while (Readable(client, 15) && (got = ::recv(client, buffer, sizeof buffer, 0)) > 0) {
            job.append(buffer, static_cast<std::size_t>(got));
        }
        ::closesocket(client);
        return job;
    }

private:
    static bool Readable(SOCKET socket, long seconds) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(socket, &ready);
        timeval wait{seconds, 0};
        return ::select(0, &ready, nullptr, nullptr, &wait) == 1;
    }

    SOCKET listener_ = INVALID_SOCKET;
    bool listening_ = false;
};

// Printing end to end: the system's print dialog chooses the printer, with
// A4 where the user chose no paper; the sheet, drawn with GDI, reaches the
// print server's printer as one A4 page with both drawings, one job named
// after TOP.
TEST_F(Win32WindowTest, PrintsTheSheetThroughTheSystem) {
    const char* port = std::getenv("A5MERGE_TEST_CUPS_PORT");
    if (port == nullptr) {
        const char* why = std::getenv("A5MERGE_TEST_CUPS_WHY");
        GTEST_SKIP() << (why != nullptr ? why : "no private cupsd");
    }
    LoopbackPrinter printer(std::atoi(port));
    ASSERT_TRUE(printer.listening());
    GdiPrinter system(form->handlers().ghostscript());
    const Texts printers = system.Printers();
    ASSERT_NE(std::find(printers.begin(), printers.end(), "a5test"), printers.end());

    // No paper chosen: A4 (not the printer's Letter). Printed first: wine's
    // print dialog leaves the paper it chose to what the process prints next.
    const std::string top = dir.Write("top.ps", ReadBytes(testing::TestData("top.ps")));
    Drop(Control(Win32Form1::frmTop), {top});
    Drop(Control(Win32Form1::frmBottom),
         {dir.Write("bottom.ps", ReadBytes(testing::TestData("bottom.ps")))});
    desktop.printAnswers = {PrintChoice{"a5test", "", {}}};
    ASSERT_TRUE(Press('P', {VK_CONTROL}));
    EXPECT_EQ(desktop.Texts(), Texts{"Sent to a5test"});
    const std::optional<std::string> job = printer.NextJob();
    ASSERT_TRUE(job.has_value()) << "no job reached the printer";
    EXPECT_NE(job->find("%%Title: top_Combi"), std::string::npos);
    EXPECT_EQ(job->find("top_Combi.pdf"), std::string::npos) << "no file type in its name";
    EXPECT_NE(job->find("/PageSize[595 842]"), std::string::npos) << "A4";

    // The real dialog, answered OK: A4 where the user chose no paper.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Win32Desktop real;
    real.SetOwner(form->window());
    std::thread pressOk([] {
        for (int i = 0; i < 300; ++i) {
            const HWND dialog = ::FindWindowW(L"#32770", L"Print");
            if (dialog != nullptr && ::IsWindowVisible(dialog)) {
                ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
                return;
            }
            ::Sleep(100);
        }
    });
    const std::optional<PrintChoice> choice = real.ChoosePrinter("Print the sheet");
    pressOk.join();
    ASSERT_TRUE(choice.has_value());
    EXPECT_EQ(choice->printer, "a5test");
    ASSERT_EQ(choice->options.size(), 1u);
    EXPECT_EQ(choice->options[0].first, kDevModeOption);
    ASSERT_GE(choice->options[0].second.size(), sizeof(DEVMODEW));
    const auto* settings = reinterpret_cast<const DEVMODEW*>(choice->options[0].second.data());
    EXPECT_EQ(settings->dmPaperSize, DMPAPER_A4);
    EXPECT_NE(settings->dmFields & DM_PAPERSIZE, 0u);

    // The paper the dialog chose is the paper printed on (Letter here).
    PrintChoice letter = *choice;
    reinterpret_cast<DEVMODEW*>(letter.options[0].second.data())->dmPaperSize = DMPAPER_LETTER;
    desktop.printAnswers = {letter};
    ASSERT_TRUE(Press('P', {VK_CONTROL}));
    const std::optional<std::string> onLetter = printer.NextJob();
    ASSERT_TRUE(onLetter.has_value()) << "no job reached the printer";
    EXPECT_NE(onLetter->find("/PageSize[612 792]"), std::string::npos) << "the paper chosen";

    // The job is made on the window's thread, from the busy box's work
    // (where a driver's own dialog belongs to the window); that dialog's
    // Cancel is a cancel.
    const DWORD windowThread = ::GetCurrentThreadId();
    DWORD startedOn = 0;
    GdiPrinter cancelling(form->handlers().ghostscript(), [&](const std::function<void()>& work) {
        form->RunOnWindowThread(work);
    });
    cancelling.startDoc = [&](HDC, const DOCINFOW&) {
        startedOn = ::GetCurrentThreadId();
        ::SetLastError(ERROR_CANCELLED);
        return 0;
    };
    const std::string pdf = dir.Path("sheet.pdf");
    ASSERT_TRUE(form->handlers().ghostscript().Run(PdfDevice(), top, pdf).ok);
    PrintJob cancelled;
    real.WhileBusy("", [&](const std::atomic<bool>&) {
        cancelled = cancelling.Send("a5test", pdf, "sheet.pdf", {});
    });
    EXPECT_EQ(startedOn, windowThread);
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_FALSE(cancelled.sent);
    EXPECT_EQ(cancelled.reason, "");

    // As Ghostscript renders it: one page, both drawings.
    const std::string received = dir.Write("job.ps", *job);
    const GhostscriptResult rendered =
        form->handlers().ghostscript().Run(GrayRasterDevice(20), received);
    ASSERT_TRUE(rendered.ok) << rendered.failure;
    std::vector<Raster> pages;
    ASSERT_TRUE(ReadRasters(rendered.output, pages));
    EXPECT_EQ(SheetProblems(pages), Texts{});
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

// One copy per session. Two started a moment apart with one file each, as
// Explorer opens two selected files: the second gives its file to the
// first, to BOTTOM, and ends. One started without files says the first
// runs and ends when told; files handed over meanwhile reach the window on
// the screen, not that copy's hidden one.
TEST(Win32SecondCopyTest, FilesGoToTheWindowThatRuns) {
    TempFolder dir;
    const std::string top = dir.Write("left.ps", AcceptedInput());
    const std::string bottom = dir.Write("right.ps", AcceptedInput());
    const std::string later = dir.Write("later.ps", AcceptedInput());
    const windows::Handle first = StartWindow({top});
    ASSERT_TRUE(first.valid());
    ::Sleep(300);
    const windows::Handle second = StartWindow({bottom});
    ASSERT_EQ(::WaitForSingleObject(second.get(), 20000), WAIT_OBJECT_0);
    DWORD status = 1;
    ::GetExitCodeProcess(second.get(), &status);
    EXPECT_EQ(status, 0u);
    const HWND window = WaitForWindow(Win32Form1::kClassName, L"PS merge");
    ASSERT_NE(window, nullptr);
    const auto zoneText = [window](Win32Form1::Control zone) {
        wchar_t text[256] = {};
        ::GetWindowTextW(::GetDlgItem(window, Win32Form1::IdOf(zone)), text, 256);
        return windows::Narrow(text);
    };
    const auto waitFor = [&](Win32Form1::Control zone, const std::string& name) {
        for (int i = 0; i < 200 && zoneText(zone).find(name) == std::string::npos; ++i) {
            ::Sleep(50);
        }
        return zoneText(zone);
    };
    EXPECT_EQ(waitFor(Win32Form1::frmBottom, "right.ps"), "BOTTOM drop zone, right.ps");
    EXPECT_EQ(zoneText(Win32Form1::frmTop), "TOP drop zone, left.ps");

    const windows::Handle third = StartWindow({});
    const HWND box = WaitForWindow(L"#32770", L"Error !");
    ASSERT_NE(box, nullptr) << "no box said the first copy runs";
    wchar_t said[256] = {};
    ::GetDlgItemTextW(box, 0xFFFF, said, 256);
    EXPECT_EQ(std::wstring(said).rfind(L"The application is already running!!! ", 0), 0u);
    const windows::Handle fourth = StartWindow({later});
    ASSERT_EQ(::WaitForSingleObject(fourth.get(), 20000), WAIT_OBJECT_0);
    EXPECT_EQ(waitFor(Win32Form1::frmTop, "later.ps"), "TOP drop zone, later.ps");
    // Answered as a user does: Enter, on its OK button.
    const HWND ok = ::GetDlgItem(box, IDOK);
    ::PostMessageW(ok, WM_KEYDOWN, VK_RETURN, 0);
    ::PostMessageW(ok, WM_KEYUP, VK_RETURN, 0);
    EXPECT_EQ(::WaitForSingleObject(third.get(), 20000), WAIT_OBJECT_0);

    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(::WaitForSingleObject(first.get(), 20000), WAIT_OBJECT_0);
}


// A window of PS merge's class that another program shows gets no file: a
// second copy hands its files only to a window whose process is this
// program, run by this user. Where the copy that runs takes no files (its
// window never comes), the second copy says so, naming them, and ends.
TEST(Win32SecondCopyTest, FilesGoOnlyToACopyOfThisProgram) {
    TempFolder dir;
    const std::string top = dir.Write("left.ps", AcceptedInput());
    const std::string log = dir.Path("squat.log");
    std::wstring line = windows::CommandLine({A5MERGE_STAND_IN, "squat", log});
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(windows::Wide(A5MERGE_STAND_IN).c_str(), line.data(), nullptr,
                                 nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    ::CloseHandle(process.hThread);
    const windows::Handle squatter(process.hProcess);
    ASSERT_NE(WaitForWindow(Win32Form1::kClassName, L"PS merge"), nullptr);

    // The copy that runs (its mutex held here), and no window of its own.
    SingleInstance running;
    ASSERT_EQ(running.Acquire(), SingleInstance::Outcome::First);
    const windows::Handle second = StartWindow({top});
    const HWND box = WaitForWindow(L"#32770", L"Error !");
    ASSERT_NE(box, nullptr) << "nothing said why the file went nowhere";
    wchar_t said[1024] = {};
    ::GetDlgItemTextW(box, 0xFFFF, said, 1024);
    // (The box shows the CR as a line break.)
    EXPECT_EQ(windows::Narrow(said), "The application is already running!!! \r\nIts window did "
                                     "not take " + top + ": open it in its window.");
    ::PostMessageW(::GetDlgItem(box, IDOK), WM_KEYDOWN, VK_RETURN, 0);
    ::PostMessageW(::GetDlgItem(box, IDOK), WM_KEYUP, VK_RETURN, 0);
    EXPECT_EQ(::WaitForSingleObject(second.get(), 20000), WAIT_OBJECT_0);
    running.Release();

    // The real window beside the other's: the files reach it alone.
    const windows::Handle first = StartWindow({});
    HWND window = nullptr;
    for (int i = 0; i < 400 && window == nullptr; ++i, ::Sleep(50)) {
        for (HWND w = ::FindWindowExW(nullptr, nullptr, Win32Form1::kClassName, nullptr); w;
             w = ::FindWindowExW(nullptr, w, Win32Form1::kClassName, nullptr)) {
            DWORD id = 0;
            ::GetWindowThreadProcessId(w, &id);
            if (id == ::GetProcessId(first.get())) window = w;
        }
    }
    ASSERT_NE(window, nullptr);
    const windows::Handle third = StartWindow({top});
    ASSERT_EQ(::WaitForSingleObject(third.get(), 20000), WAIT_OBJECT_0);
    DWORD status = 1;
    ::GetExitCodeProcess(third.get(), &status);
    EXPECT_EQ(status, 0u);
    wchar_t zone[256] = {};
    for (int i = 0; i < 100; ++i, ::Sleep(50)) {
        ::GetWindowTextW(::GetDlgItem(window, Win32Form1::IdOf(Win32Form1::frmTop)), zone, 256);
        if (std::wstring(zone).find(L"left.ps") != std::wstring::npos) break;
    }
    EXPECT_EQ(windows::Narrow(zone), "TOP drop zone, left.ps");
    EXPECT_FALSE(std::filesystem::exists(testing::Native(log))) << "the other's window got files";
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(::WaitForSingleObject(first.get(), 20000), WAIT_OBJECT_0);
    ::TerminateProcess(squatter.get(), 0);
}

}  // namespace
}  // namespace a5merge
