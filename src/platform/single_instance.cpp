#include "platform/single_instance.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace a5merge {

SingleInstance::SingleInstance(const QString& lockPath)
    : path_(QFile::encodeName(lockPath).toStdString()) {}

SingleInstance::~SingleInstance() { Release(); }

SingleInstance::Outcome SingleInstance::Acquire() {
    if (tried_) return outcome_;
    tried_ = true;
    // Close-on-exec: a child (Ghostscript) must not hold the lock after us.
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) return outcome_ = Outcome::Unavailable;
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return outcome_ = Outcome::First;
    outcome_ = errno == EWOULDBLOCK ? Outcome::AlreadyRunning : Outcome::Unavailable;
    ::close(fd_);
    fd_ = -1;
    return outcome_;
}

void SingleInstance::Release() {
    if (fd_ >= 0) ::close(fd_);  // and with it the lock
    fd_ = -1;
}

QString SingleInstance::DefaultLockPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    return folder + QStringLiteral("/a5merge.lock");
}

}  // namespace a5merge
