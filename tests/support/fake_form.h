#pragma once

#include "platform/single_instance.h"
#include "platform/text_files.h"
#include "state/form_context.h"
#include "support/fake_captions.h"
#include "support/fake_desktop.h"

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
