#include "merge/startup.h"

#include <string>

#include "platform/desktop.h"
#include "platform/single_instance.h"

namespace a5merge {

void Form_Load(MergeState& state, Desktop& desktop, InstanceTest& instances) {
    if (instances.AnotherRunning()) {
        // The text ends with CR and the last run-time error, of which there is none yet.
        desktop.MsgBox(std::string(kAlreadyRunning) + "\r", kMbSystemModal | kMbIconStop,
                       kErrorTitle);
        desktop.End(1);
    }
    state.lineBreak = "\r\n";
    state.topOK = 0;
    state.bottomOK = 0;
}

}  // namespace a5merge
