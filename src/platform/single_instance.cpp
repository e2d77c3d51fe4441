// What the single-copy lock does the same on every system; taking and
// letting go of the lock itself is in single_instance_SYSTEM.cpp.

#include "platform/single_instance.h"

#include <utility>

namespace a5merge {

SingleInstance::SingleInstance(std::string lockPath) : path_(std::move(lockPath)) {}

SingleInstance::~SingleInstance() { Release(); }

SingleInstance::Outcome SingleInstance::Acquire() {
    if (tried_) return outcome_;
    tried_ = true;
    return outcome_ = Try();
}

SingleInstance::Outcome SingleInstance::TryAgain() {
    if (outcome_ == Outcome::AlreadyRunning) outcome_ = Try();
    tried_ = true;
    return outcome_;
}

}  // namespace a5merge
