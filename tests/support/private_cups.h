#pragma once

#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace a5merge::testing {

// A CUPS server of the test's own: its own configuration, spool and unix
// socket (CUPS_SERVER points there while it lives), and one queue, "a5test",
// a Generic PostScript printer whose device is a loopback socket this object
// listens on. Each job the "printer" receives is kept. Stopped by its process
// id when dropped. Needs root (cupsd runs its filters as lp).
class PrivateCups {
public:
    static constexpr const char* kQueue = "a5test";

    PrivateCups();
    ~PrivateCups();
    PrivateCups(const PrivateCups&) = delete;
    PrivateCups& operator=(const PrivateCups&) = delete;

    // Empty when it runs; else why it cannot.
    const std::string& why() const { return why_; }
    // Whether it cannot run on this machine at all (not root, no CUPS), as
    // opposed to failing to start.
    bool unavailable() const { return unavailable_; }

    // The bytes of the first job that reached the printer, once complete.
    std::optional<std::string> WaitForJob(std::chrono::seconds limit);

private:
    void Listen();
    void Fail(std::string why) { why_ = std::move(why); }
    void Unavailable(std::string why) {
        unavailable_ = true;
        why_ = std::move(why);
    }
    bool Accepts() const;

    std::string why_;
    bool unavailable_ = false;
    std::string folder_;
    pid_t cupsd_ = -1;
    int listener_ = -1;
    int port_ = 0;
    bool stop_ = false;
    std::thread listening_;
    std::mutex mutex_;
    std::vector<std::string> jobs_;
};

}  // namespace a5merge::testing
