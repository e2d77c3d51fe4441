#pragma once

#include <QWidget>

#include "merge_state.h"

namespace psmerge {

class Desktop;
class InstanceTest;
class TextFiles;

// The program's one window. It owns the MergeState for the life of the program.
class Form1 : public QWidget {
    Q_OBJECT

public:
    Form1(Desktop& desktop, TextFiles& files, InstanceTest& instances, QWidget* parent = nullptr);

    // Runs start-up; call once before the window is first shown.
    void Load();

    const MergeState& state() const { return state_; }

private:
    Desktop& desktop_;
    TextFiles& files_;
    InstanceTest& instances_;
    MergeState state_;
};

}  // namespace psmerge
