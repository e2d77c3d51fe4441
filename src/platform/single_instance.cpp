#include "platform/single_instance.h"

#include <QDir>
#include <QStandardPaths>

namespace a5merge {

SingleInstance::SingleInstance(const QString& lockPath) : lock_(lockPath) {
    lock_.setStaleLockTime(0);  // held for as long as the program runs
}

SingleInstance::Outcome SingleInstance::Acquire() {
    if (tried_) return outcome_;
    tried_ = true;
    if (lock_.tryLock(0)) {
        outcome_ = Outcome::First;
    } else if (lock_.error() == QLockFile::LockFailedError) {
        outcome_ = Outcome::AlreadyRunning;
    } else {
        outcome_ = Outcome::Unavailable;
    }
    return outcome_;
}

void SingleInstance::Release() {
    if (outcome_ == Outcome::First) lock_.unlock();
}

QString SingleInstance::DefaultLockPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    return folder + QStringLiteral("/a5merge.lock");
}

}  // namespace a5merge
