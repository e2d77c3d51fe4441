#pragma once

#include <string>

namespace a5merge {

// Tells whether another copy of the program runs.
class InstanceTest {
public:
    virtual ~InstanceTest() = default;
    virtual bool AnotherRunning() = 0;
};

// A folder that belongs to this user alone (no other user may enter or
// change it, and it is no link): the user's runtime folder when it is so,
// else one this program makes and checks in the temporary folder. Empty
// when there is none: then no lock and no door for files are made. (On
// Windows, the session's own namespace of named objects stands for it.)
std::string UserOnlyFolder();

// One running copy per user: a lock on a file in UserOnlyFolder() (on
// Windows a named mutex of the session, named after the user and theirs
// alone; one of that name that another made is no copy of ours, and then
// each copy runs on its own), held for the life of the process.
// The system lets go of it when the process ends, however it ends, so a
// killed copy never blocks the next. A lock file that is a link, or that
// another user owns, is not used.
class SingleInstance : public InstanceTest {
public:
    enum class Outcome {
        First,           // this copy holds the lock
        AlreadyRunning,  // a live copy holds it
        Unavailable,     // the lock file cannot be made or used; nothing is known
    };

    // `lockPath` empty: Unavailable.
    explicit SingleInstance(std::string lockPath = DefaultLockPath());
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock on the first call; later calls repeat the outcome.
    Outcome Acquire();
    // Tries again after AlreadyRunning (the other copy may have ended).
    Outcome TryAgain();
    void Release();

    // Only a live copy counts: when the lock cannot be made at all the
    // program runs rather than refusing to start.
    bool AnotherRunning() override { return Acquire() == Outcome::AlreadyRunning; }

    const std::string& lockPath() const { return path_; }
    // What the system knows the lock by: the lock file's path (Windows: the
    // mutex's name, which holds the user's SID); empty without a lock.
    std::string LockName() const;
    // "a5merge.lock" in UserOnlyFolder(), or empty.
    static std::string DefaultLockPath();

private:
    Outcome Try();

    std::string path_;
    int fd_ = -1;               // Linux: the lock file
    void* handle_ = nullptr;    // Windows: the mutex
    bool tried_ = false;
    Outcome outcome_ = Outcome::Unavailable;
};

}  // namespace a5merge
