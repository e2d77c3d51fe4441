#pragma once

#include <map>
#include <string>

#include "desktop.h"

namespace psmerge::testing {

// Captions kept in a map, starting as the window shows them.
class FakeCaptions : public Captions {
public:
    void SetCaption(Label label, const std::string& text) override { captions[label] = text; }
    std::map<Label, std::string> captions{{Label::lblTop, "TOP"}, {Label::lblBottom, "BOTTOM"}};
};

}  // namespace psmerge::testing
