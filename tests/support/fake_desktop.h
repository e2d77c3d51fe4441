#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop.h"

namespace a5merge::testing {

// Thrown by FakeDesktop::End in place of ending the process.
struct ProgramEnded {
    int status;
};

// A desktop that records every box and dialog and answers from a script (OK
// for boxes and Cancel for dialogs when the script is empty).
class FakeDesktop : public Desktop {
public:
    struct Box {
        std::string text;
        int style;
        std::optional<std::string> title;
    };

    int MsgBox(const std::string& text, int style,
               const std::optional<std::string>& title = std::nullopt) override {
        boxes.push_back({text, style, title});
        if (answers.empty()) return kIdOk;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::optional<std::string> SaveAs(const SaveDialog& dialog) override {
        dialogs.push_back(dialog);
        return Next(saveAnswers);
    }

    std::optional<std::string> OpenFile(const OpenDialog& dialog) override {
        openDialogs.push_back(dialog);
        return Next(openAnswers);
    }

    std::optional<PrintChoice> ChoosePrinter(const std::string& title) override {
        printDialogs.push_back(title);
        if (printAnswers.empty()) return std::nullopt;
        const auto answer = printAnswers.front();
        printAnswers.pop_front();
        return answer;
    }

    // Runs the work at once, as a window that is quick about it would.
    void WhileBusy(const std::string& what,
                   const std::function<void(const std::atomic<bool>&)>& work) override {
        busy.push_back(what);
        const std::atomic<bool> cancel{cancelBusy};
        work(cancel);
    }

    void EndProgram(int status) override {
        ended = status;
        throw ProgramEnded{status};
    }

    // The texts shown, in order.
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& box : boxes) texts.push_back(box.text);
        return texts;
    }

    std::vector<Box> boxes;
    std::deque<int> answers;
    std::vector<SaveDialog> dialogs;
    std::deque<std::optional<std::string>> saveAnswers;  // empty: Cancel
    std::vector<OpenDialog> openDialogs;
    std::deque<std::optional<std::string>> openAnswers;  // empty: Cancel
    std::vector<std::string> printDialogs;
    std::deque<std::optional<PrintChoice>> printAnswers;  // empty: Cancel
    std::vector<std::string> busy;                        // what each WhileBusy said
    bool cancelBusy = false;                              // the user asks every busy work to stop
    std::optional<int> ended;

private:
    // The next scripted answer of a dialog; Cancel when there is none.
    static std::optional<std::string> Next(std::deque<std::optional<std::string>>& answers) {
        if (answers.empty()) return std::nullopt;
        const auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

}  // namespace a5merge::testing
