#pragma once

#include <QLockFile>
#include <QString>

namespace a5merge {

// Tells whether another copy of the program runs.
class InstanceTest {
public:
    virtual ~InstanceTest() = default;
    virtual bool AnotherRunning() = 0;
};

// One running copy per user: a lock file in the user's runtime folder, held
// for the life of the process. A lock left by a killed copy is taken over.
class SingleInstance : public InstanceTest {
public:
    enum class Outcome {
        First,           // this copy holds the lock
        AlreadyRunning,  // a live copy holds it
        Unavailable,     // the lock file cannot be made; nothing is known
    };

    explicit SingleInstance(const QString& lockPath = DefaultLockPath());

    // Takes the lock on the first call; later calls repeat the outcome.
    Outcome Acquire();
    void Release();

    // Only a live copy counts: when the lock cannot be made at all the
    // program runs rather than refusing to start.
    bool AnotherRunning() override { return Acquire() == Outcome::AlreadyRunning; }

    static QString DefaultLockPath();

private:
    QLockFile lock_;
    bool tried_ = false;
    Outcome outcome_ = Outcome::Unavailable;
};

}  // namespace a5merge
