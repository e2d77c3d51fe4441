#pragma once

#include <string>

namespace a5merge {

// The two status labels of the window: lblTop and lblBottom show whether
// their zone holds an accepted file.
enum class Label { lblTop, lblBottom };

// Sets the captions the logic changes; the window implements it.
class Captions {
public:
    virtual ~Captions() = default;
    virtual void SetCaption(Label label, const std::string& text) = 0;
};

}  // namespace a5merge
