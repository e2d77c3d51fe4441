#pragma once

#include "fake_captions.h"
#include "fake_desktop.h"
#include "form_context.h"
#include "single_instance.h"
#include "text_files.h"

namespace a5merge::testing {

// What a window's handlers work on, with a fake desktop and fake captions,
// as right after start-up.
struct FakeForm {
    FakeForm() { state.lineBreak = "\r\n"; }

    MergeState state;
    TextFiles files;
    FakeDesktop desktop;
    FakeCaptions captions;
    FormContext form{state, files, desktop, captions};
};

// An instance test that answers as it is told.
class ScriptedInstances : public InstanceTest {
public:
    explicit ScriptedInstances(bool running) : running_(running) {}
    bool AnotherRunning() override { return running_; }

private:
    bool running_;
};

}  // namespace a5merge::testing
