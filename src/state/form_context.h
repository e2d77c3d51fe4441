#pragma once

#include "state/merge_state.h"

namespace a5merge {

class Captions;
class Desktop;
class TextFiles;

// What an event handler of the window works on.
struct FormContext {
    MergeState& state;
    TextFiles& files;
    Desktop& desktop;
    Captions& captions;
};

}  // namespace a5merge
