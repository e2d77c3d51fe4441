#include "merge/startup.h"

#include <string>

#include "platform/desktop.h"
#include "platform/single_instance.h"

namespace a5merge {

void Form_Load(MergeState& state, Desktop& desktop, InstanceTest& instances,
               const std::string& lastError) {
    if (instances.AnotherRunning()) {
        // The text ends with CR and the last run-time error (usually none yet).
        desktop.MsgBox(std::string(kAlreadyRunning) + "\r" + lastError,
                       kMbSystemModal | kMbIconStop, kErrorTitle);
        desktop.End(1);
    }
    state.lineBreak = "\r\n";
    state.topOK = 0;
    state.bottomOK = 0;
}

}  // namespace a5merge
