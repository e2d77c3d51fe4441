// Takes the single-instance lock at argv[1] once its standard input closes
// (so that many copies can start at the same moment), prints "first" or
// "running", and as the first copy holds the lock until it is killed.

#include <unistd.h>

#include <cstdio>

#include "platform/single_instance.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    a5merge::SingleInstance instance(argv[1]);
    const auto outcome = instance.Acquire();
    using Outcome = a5merge::SingleInstance::Outcome;
    std::puts(outcome == Outcome::First            ? "first"
              : outcome == Outcome::AlreadyRunning ? "running"
                                                   : "unknown");
    std::fflush(stdout);
    if (outcome == Outcome::First) {
        for (;;) ::pause();
    }
    return outcome == Outcome::AlreadyRunning ? 3 : 4;
}
