#pragma once

#include "state/merge_state.h"

namespace a5merge {

class Desktop;
class InstanceTest;

inline constexpr const char* kAlreadyRunning = "The application is already running!!! ";
inline constexpr const char* kErrorTitle = "Error !";

// Runs once before the window is first shown. A second copy shows its box and
// ends the program; otherwise sets lineBreak and clears both zone flags.
void Form_Load(MergeState& state, Desktop& desktop, InstanceTest& instances);

}  // namespace a5merge
