#pragma once

#include <string>

#include "state/merge_state.h"

namespace a5merge {

class Desktop;
class InstanceTest;

inline constexpr const char* kAlreadyRunning = "The application is already running!!! ";
inline constexpr const char* kErrorTitle = "Error !";

// Runs once before the window is first shown. A second copy shows its box and
// ends the program; otherwise sets lineBreak and clears both zone flags.
// `lastError` is the description of the most recent run-time error, which
// the box shows after its text (empty: there was none).
void Form_Load(MergeState& state, Desktop& desktop, InstanceTest& instances,
               const std::string& lastError = {});

}  // namespace a5merge
