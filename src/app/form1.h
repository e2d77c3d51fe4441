#pragma once

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "input/drop_zones.h"
#include "platform/desktop.h"
#include "state/captions.h"
#include "state/form_context.h"
#include "state/merge_state.h"

class QLabel;
class QPushButton;

namespace a5merge {

class DropFrame;
class InstanceTest;
class TextFiles;

// The program's one window: two drop zones, MERGE + SAVE and EXIT. It owns
// the MergeState for the life of the program.
class Form1 : public QWidget, private Captions {
    Q_OBJECT

public:
    Form1(Desktop& desktop, TextFiles& files, InstanceTest& instances, QWidget* parent = nullptr);

    // Runs start-up; call once before the window is first shown.
    void Load();

    void frmTop_OLEDragDrop(const std::vector<std::string>& paths);
    void frmBottom_OLEDragDrop(const std::vector<std::string>& paths);
    // A click, Space or Enter on a zone: its Open dialog.
    void frmTop_Click();
    void frmBottom_Click();
    // Files named on the command line: the first goes to TOP and the second to
    // BOTTOM, each as a drop, once the window has been shown.
    void TakeFilesOnceShown(std::vector<std::string> files);
    void cmdMerge_Click();
    void cmdExit_Click();

    const MergeState& state() const { return state_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void SetCaption(Label label, const std::string& text) override;
    void FitCaptions();
    void Guarded(const std::function<void()>& handler);
    void TakeFiles(Zone zone, const std::vector<std::string>& paths);
    void ChooseFile(Zone zone);
    void Remember(Zone zone, DropVerdict verdict);
    void Describe();
    FormContext Context() { return {state_, files_, desktop_, *this}; }

    Desktop& desktop_;
    TextFiles& files_;
    InstanceTest& instances_;
    MergeState state_;
    bool iconGiven_ = false;
    std::string lastFolder_;  // of the last file accepted, where the Open dialog starts

    QLabel* lblKorva_;
    QLabel* lblA5_;
    DropFrame* frmTop_;
    QLabel* lblTop_;
    DropFrame* frmBottom_;
    QLabel* lblBottom_;
    QPushButton* cmdMerge_;
    QPushButton* cmdExit_;
};

}  // namespace a5merge
