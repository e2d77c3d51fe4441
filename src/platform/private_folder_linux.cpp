// Private folders on Linux: held by an flock on the folder itself, removed
// on a signal through the exit clean-up.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/cleanup_linux.h"
#include "platform/descriptor_linux.h"
#include "platform/private_folder_system.h"
#include "platform/runtime_error.h"

namespace a5merge {

using posix::Fd;

struct PrivateFolder::Held::System {
    Fd parent;
    Fd own;
    std::string name;  // in parent
    exit_cleanup::Slot slot = -1;
};

const char* const PrivateFolder::Held::kLineEnd = "\n";

namespace {

FileIdentity IdentityOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace

std::unique_ptr<PrivateFolder::Held> PrivateFolder::Held::MakeNew(const std::string& parent,
                                                                  const std::string& name) {
    auto system = std::make_unique<System>();
    system->parent.reset(::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!system->parent.valid()) throw RuntimeError::FromSystem(parent, errno);
    const int parentFd = system->parent.get();
    if (::mkdirat(parentFd, name.c_str(), 0700) != 0) {
        if (errno == EEXIST) return nullptr;
        throw RuntimeError::FromSystem(parent, errno);
    }
    // Removed on a signal from now on, also before it is open.
    system->slot = exit_cleanup::AddFolder(parentFd, name.c_str(), -1);
    Fd own(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    // Held, and still under its name: another process's clean-up may have
    // taken it between the two.
    struct stat mine {
    }, named{};
    if (!own.valid() || ::flock(own.get(), LOCK_EX | LOCK_NB) != 0 ||
        ::fstat(own.get(), &mine) != 0 ||
        ::fstatat(parentFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        IdentityOf(mine) != IdentityOf(named)) {
        exit_cleanup::Remove(system->slot);
        return nullptr;
    }
    exit_cleanup::SetFolderFd(system->slot, own.get());
    system->own = std::move(own);
    system->name = name;
    return std::make_unique<Held>(parent + "/" + name, IdentityOf(mine), std::move(system));
}

std::unique_ptr<PrivateFolder::Held> PrivateFolder::Held::Claim(const std::string& parent,
                                                                const std::string& name) {
    auto system = std::make_unique<System>();
    system->parent.reset(::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!system->parent.valid()) return nullptr;
    system->own.reset(::openat(system->parent.get(), name.c_str(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!system->own.valid() || ::fstat(system->own.get(), &st) != 0 ||
        st.st_uid != ::geteuid() || ::flock(system->own.get(), LOCK_EX | LOCK_NB) != 0) {
        return nullptr;
    }
    system->name = name;
    return std::make_unique<Held>(parent + "/" + name, IdentityOf(st), std::move(system));
}

std::vector<std::string> PrivateFolder::Held::NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
    ::closedir(dir);
    return names;
}

PrivateFolder::Held::Held(std::string at, FileIdentity id, std::unique_ptr<System> held)
    : path(std::move(at)), identity(id), system(std::move(held)) {}

PrivateFolder::Held::~Held() { exit_cleanup::Remove(system->slot); }

std::optional<std::string> PrivateFolder::Held::ReadSmallFile(const std::string& name,
                                                              std::size_t most) const {
    const Fd file(
        ::openat(system->own.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) return std::nullopt;
    struct stat st {};
    std::string text(most + 1, '\0');
    ssize_t got = -1;
    if (::fstat(file.get(), &st) == 0 && S_ISREG(st.st_mode)) {
        got = ::read(file.get(), text.data(), text.size());
    }
    if (got < 0 || static_cast<std::size_t>(got) > most) return std::nullopt;
    text.resize(static_cast<std::size_t>(got));
    return text;
}

void PrivateFolder::Held::WriteWhole(const std::string& name, std::string_view bytes, bool synced,
                                     const std::string& where) const {
    const int folder = system->own.get();
    const std::string fresh = name + ".new";
    Fd file(::openat(folder, fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                     0600));
    if (!file.valid()) throw RuntimeError::FromSystem(where, errno);
    while (!bytes.empty()) {
        const ssize_t n = ::write(file.get(), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw RuntimeError::FromSystem(where, n < 0 ? errno : EIO);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    if (synced && ::fsync(file.get()) != 0) throw RuntimeError::FromSystem(where, errno);
    file.reset();
    if (::renameat(folder, fresh.c_str(), folder, name.c_str()) != 0) {
        throw RuntimeError::FromSystem(where, errno);
    }
    if (synced) ::fsync(folder);
}

void PrivateFolder::Held::RemoveFile(const std::string& name, const std::string& where) const {
    if (::unlinkat(system->own.get(), name.c_str(), 0) != 0 && errno != ENOENT) {
        throw RuntimeError::FromSystem(where, errno);
    }
}

void PrivateFolder::Held::RemoveAll() {
    exit_cleanup::Remove(system->slot);
    exit_cleanup::EmptyFolder(system->own.get());
    ::unlinkat(system->parent.get(), system->name.c_str(), AT_REMOVEDIR);
}

}  // namespace a5merge
