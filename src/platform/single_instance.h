#pragma once

#include <QString>

#include <string>

namespace a5merge {

// Tells whether another copy of the program runs.
class InstanceTest {
public:
    virtual ~InstanceTest() = default;
    virtual bool AnotherRunning() = 0;
};

// One running copy per user: a lock on a file in the user's runtime folder,
// held for the life of the process. The system lets go of it when the
// process ends, however it ends, so a killed copy never blocks the next.
class SingleInstance : public InstanceTest {
public:
    enum class Outcome {
        First,           // this copy holds the lock
        AlreadyRunning,  // a live copy holds it
        Unavailable,     // the lock file cannot be made; nothing is known
    };

    explicit SingleInstance(const QString& lockPath = DefaultLockPath());
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock on the first call; later calls repeat the outcome.
    Outcome Acquire();
    void Release();

    // Only a live copy counts: when the lock cannot be made at all the
    // program runs rather than refusing to start.
    bool AnotherRunning() override { return Acquire() == Outcome::AlreadyRunning; }

    static QString DefaultLockPath();

private:
    std::string path_;
    int fd_ = -1;
    bool tried_ = false;
    Outcome outcome_ = Outcome::Unavailable;
};

}  // namespace a5merge
