// File-system queries and input files, on Linux.

#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "platform/runtime_error.h"

namespace a5merge {

namespace {

bool IsHiddenName(std::string_view name) {
    return !name.empty() && name.front() == '.' && name != "." && name != "..";
}

// * matches any run of characters, ? any one character; everything else is literal.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

char PlatformSeparator() { return '/'; }

std::string Dir(const std::string& pattern) {
    const auto slash = pattern.rfind('/');
    const std::string prefix = slash == std::string::npos ? "" : pattern.substr(0, slash + 1);
    const std::string namePattern =
        slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (namePattern.empty()) return {};

    // The exact name first: a folder that may be entered but not listed still
    // answers for a name that holds * or ?.
    if (!IsHiddenName(namePattern) && IsRegularFile(pattern)) return namePattern;
    if (namePattern.find_first_of("*?") == std::string::npos) return {};

    DIR* dir = ::opendir(prefix.empty() ? "." : prefix.c_str());
    if (dir == nullptr) return {};
    std::string found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.front() == '.' || !WildcardMatch(namePattern, name)) continue;
        if (IsRegularFile(prefix + std::string(name))) {
            found = name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

int GetAttr(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw RuntimeError::FromSystem(path, errno);

    std::string_view name = path;
    while (name.size() > 1 && name.back() == '/') name.remove_suffix(1);
    if (const auto slash = name.rfind('/'); slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    }

    int attr = 0;
    if (S_ISDIR(st.st_mode)) attr |= kAttrDirectory;
    if (IsHiddenName(name)) attr |= kAttrHidden;
    if (::access(path.c_str(), W_OK) != 0) attr |= kAttrReadOnly;
    return attr;
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path.front() == '/') return path;
    char* cwd = ::getcwd(nullptr, 0);  // fails once the current folder is deleted
    if (cwd == nullptr) throw RuntimeError::FromSystem(path, errno);
    std::string absolute = cwd;
    std::free(cwd);
    if (absolute.back() != '/') absolute += '/';
    return absolute + path;
}

std::optional<FileStamp> StampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileStamp{static_cast<std::uint64_t>(st.st_size),
                     std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec};
}

bool NamesSomething(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsStandardOutput(const std::string& path) {
    struct stat out {};
    struct stat file {};
    return ::fstat(STDOUT_FILENO, &out) == 0 && ::stat(path.c_str(), &file) == 0 &&
           out.st_dev == file.st_dev && out.st_ino == file.st_ino;
}

std::string TemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    struct stat st {};
    if (tmp != nullptr && tmp[0] == '/' && ::stat(tmp, &st) == 0 && S_ISDIR(st.st_mode) &&
        ::access(tmp, W_OK | X_OK) == 0) {
        return tmp;
    }
    return "/tmp";
}

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (folder.empty() || folder.front() != '/') continue;  // only absolute folders
        const std::string candidate = std::string(folder) + "/" + name;
        if (IsRegularFile(candidate) && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

PrivateFolder::PrivateFolder() {
    const std::string folder = TemporaryFolder();
    std::string pattern = folder + "/a5merge-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw RuntimeError::FromSystem(folder, errno);
    path_ = pattern;
}

PrivateFolder::~PrivateFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

struct InputFile::Handle {
    int fd = -1;
};

InputFile::InputFile(const std::string& path) : path_(path), handle_(std::make_unique<Handle>()) {
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw RuntimeError::FromSystem(path, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        throw RuntimeError::FromSystem(path, err);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        if (S_ISDIR(st.st_mode)) throw RuntimeError::FromSystem(path, EISDIR);
        throw RuntimeError(path, "Not a regular file");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    handle_->fd = fd;
}

InputFile::~InputFile() { ::close(handle_->fd); }

std::size_t InputFile::Read(char* buf, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(handle_->fd, buf, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) throw RuntimeError::FromSystem(path_, errno);
    }
}

void InputFile::Seek(std::uint64_t offset) {
    if (::lseek(handle_->fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        throw RuntimeError::FromSystem(path_, errno);
    }
}

}  // namespace a5merge
