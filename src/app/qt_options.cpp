#include "app/qt_options.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace a5merge {

namespace {

// The options QApplication takes (Qt 6 on X11 and Wayland), those that take a
// value first. Qt reads each with one dash or two.
constexpr const char* kQtWithValue[] = {"platform",
                                        "platformpluginpath",
                                        "platformtheme",
                                        "plugin",
                                        "qwindowgeometry",
                                        "qwindowicon",
                                        "qwindowtitle",
                                        "session",
                                        "display",
                                        "geometry",
                                        "style",
                                        "stylesheet",
                                        "name",
                                        "title",
                                        "visual",
                                        "ncols",
                                        "cmap",
                                        "im",
                                        "inputstyle"};
constexpr const char* kQtFlags[] = {"reverse", "widgetcount", "nograb",
                                    "dograb",  "sync",        "testability"};

// The Qt option `arg` is, without its dashes; empty for any other argument.
std::string_view QtOption(std::string_view arg) {
    if (arg.size() < 2 || arg[0] != '-') return {};
    arg.remove_prefix(arg[1] == '-' ? 2 : 1);
    const std::string_view word = arg.substr(0, arg.find('='));
    const auto is = [word](const char* name) { return word == name; };
    if (std::any_of(std::begin(kQtWithValue), std::end(kQtWithValue), is) ||
        std::any_of(std::begin(kQtFlags), std::end(kQtFlags), is) || word == "qmljsdebugger") {
        return arg;
    }
    return {};
}

}  // namespace

std::vector<char*> WithoutQtOptions(int argc, char** argv) {
    std::vector<char*> kept(argv, argv + std::min(argc, 1));
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {  // the end of all options
            kept.insert(kept.end(), argv + i, argv + argc);
            break;
        }
        const std::string_view option = QtOption(arg);
        if (option.empty()) {
            kept.push_back(argv[i]);
            continue;
        }
        const bool takesValue = option.find('=') == std::string_view::npos &&
                                std::any_of(std::begin(kQtWithValue), std::end(kQtWithValue),
                                            [option](const char* name) { return option == name; });
        if (takesValue) ++i;  // and its value
    }
    return kept;
}

}  // namespace a5merge
