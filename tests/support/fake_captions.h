#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "state/captions.h"

namespace a5merge::testing {

// Captions kept in a map, starting as the window shows them.
class FakeCaptions : public Captions {
public:
    void SetCaption(Label label, const std::string& text) override {
        captions[label] = text;
        changes.emplace_back(label, text);
    }
    std::map<Label, std::string> captions{{Label::lblTop, "TOP"}, {Label::lblBottom, "BOTTOM"}};
    std::vector<std::pair<Label, std::string>> changes;  // in order
};

}  // namespace a5merge::testing
