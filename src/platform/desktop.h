#pragma once

#include <atomic>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace a5merge {

// Message-box styles in use: buttons (0 OK, 1 OK and Cancel) plus an icon
// (16 stop, 32 question) plus 4096 for a box kept above every window.
inline constexpr int kMbOkOnly = 0;
inline constexpr int kMbOkCancel = 1;
inline constexpr int kMbIconStop = 16;
inline constexpr int kMbIconQuestion = 32;
inline constexpr int kMbSystemModal = 4096;

// Answers of a message box.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// Settings of a Save As dialog.
struct SaveDialog {
    static constexpr int kOverwritePrompt = 2;

    std::string title;
    std::string filter;      // description|pattern pairs, as "Text (*.txt)|*.txt"
    std::string defaultExt;  // added to a name typed without an extension
    std::string initDir;     // empty: the root of the file system
    std::string fileName;    // proposed name
    int flags = 0;           // kOverwritePrompt: ask before replacing a file
};

// Settings of an Open dialog.
struct OpenDialog {
    std::string title;
    std::string filter;   // description|pattern pairs, as "Text (*.txt)|*.txt"
    std::string initDir;  // empty: the user's home folder
};

// What the user chose in a print dialog: a printer and the job options the
// dialog hands on, or a file to print into instead.
struct PrintChoice {
    std::string printer;  // a CUPS queue or a Windows printer; empty when `file` is set
    std::string file;     // print into this file (as PDF) instead
    // CUPS's (copies, sides, media...); on Windows the DEVMODE chosen, as bytes.
    std::vector<std::pair<std::string, std::string>> options;
};

// What the program's logic asks of the desktop. The window provides the real
// one; tests provide fakes that record and answer.
class Desktop {
public:
    virtual ~Desktop() = default;

    // Shows a modal box and waits; returns kIdOk or kIdCancel. Without a title
    // the application's title shows.
    virtual int MsgBox(const std::string& text, int style,
                       const std::optional<std::string>& title = std::nullopt) = 0;

    // Asks where to save; the full path chosen, or nothing when cancelled.
    virtual std::optional<std::string> SaveAs(const SaveDialog& dialog) = 0;
    // Asks for an existing file; its full path, or nothing when cancelled.
    virtual std::optional<std::string> OpenFile(const OpenDialog& dialog) = 0;
    // Asks where and how to print; nothing when cancelled.
    virtual std::optional<PrintChoice> ChoosePrinter(const std::string& title) = 0;

    // Runs `work` to its end while the window takes no input and, when it
    // takes a while, says `what` is going on and offers to stop it: `cancel`
    // is then set. What `work` throws comes back from here.
    virtual void WhileBusy(const std::string& what,
                           const std::function<void(const std::atomic<bool>& cancel)>& work) = 0;

    // Ends the program at once: every file closed, no further handler runs.
    [[noreturn]] void End(int status) {
        EndProgram(status);
        std::abort();  // EndProgram never returns
    }

protected:
    // Ends the process, or leaves by an exception; never returns.
    virtual void EndProgram(int status) = 0;
};

}  // namespace a5merge
