// The path helpers on any text: no crash, and the parts fit together.

#include <string>

#include "fuzz/fuzz_support.h"
#include "input/path_helpers.h"
#include "support/fake_desktop.h"

using namespace a5merge;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path(reinterpret_cast<const char*>(data), size);
    MergeState state;
    state.lineBreak = "\r\n";
    for (const char sep : {'\\', '/'}) {
        const std::string folder = PathOnly(path, sep);
        const std::string file = FileOnly(path, sep);
        if (path.find(sep) == std::string::npos) {
            FUZZ_CHECK(folder.empty() && file == path);
        } else {
            FUZZ_CHECK(folder + sep + file == path);
            FUZZ_CHECK(file.find(sep) == std::string::npos);
        }
        testing::FakeDesktop desktop;
        try {
            const std::string name = NameOnly(path, state, desktop, sep);
            FUZZ_CHECK(!TooShortForNameOnly(path));
            FUZZ_CHECK(file.compare(0, name.size(), name) == 0);
            FUZZ_CHECK(name.size() == file.size() || file[name.size()] == '.');
        } catch (const testing::ProgramEnded&) {
            FUZZ_CHECK(TooShortForNameOnly(path));
            FUZZ_CHECK(desktop.boxes.size() == 1);
        }
    }
    const std::string ext = ExtOnly(path, 0);
    FUZZ_CHECK(ExtOnly(path, -1) == "." + ext);
    FUZZ_CHECK(ext.find('.') == std::string::npos);
    std::string newext = ext;
    const std::string changed = ChangeExt(path, newext);
    FUZZ_CHECK(newext == (ext.empty() ? "" : "." + ext));
    const auto dot = path.rfind('.');
    FUZZ_CHECK(changed == (dot == std::string::npos ? path : path.substr(0, dot)) + newext);
    return 0;
}
