#include "support/temp_folder.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>

#include "platform/windows_support.h"
#else
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace a5merge::testing {

#ifdef _WIN32
std::filesystem::path Native(const std::string& path) {
    return std::filesystem::path(windows::Wide(path));
}
#else
std::filesystem::path Native(const std::string& path) { return path; }
#endif

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
std::string Utf8(const std::filesystem::path& path) { return windows::Narrow(path.wstring()); }
#else
constexpr char kSeparator = '/';
std::string Utf8(const std::filesystem::path& path) { return path.string(); }
#endif

}  // namespace

TempFolder::TempFolder() {
    static std::mt19937 random{std::random_device{}()};
    const std::string base = Utf8(std::filesystem::temp_directory_path());
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        std::string name = "a5merge-test-";
        for (int i = 0; i < 6; ++i) name += "abcdefghijklmnopqrstuvwxyz0123456789"[random() % 36];
        std::string candidate = base;
        if (candidate.back() != '/' && candidate.back() != '\\') candidate += kSeparator;
        candidate += name;
        std::error_code error;
        if (std::filesystem::create_directory(Native(candidate), error)) {
#ifndef _WIN32
            ::chmod(candidate.c_str(), 0700);
#endif
            path_ = candidate;
        }
    }
    if (path_.empty()) throw std::runtime_error("cannot make a temporary folder");
}

TempFolder::~TempFolder() {
    std::error_code ignored;
#ifndef _WIN32
    // Folders a test closed to its own user are opened again first.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            ::chmod(it->path().c_str(), 0700);
        }
    }
    ::chmod(path_.c_str(), 0700);
#else
    // Read-only files are made writable again, or they could not be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(Native(path_), ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        ::SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
#endif
    std::filesystem::remove_all(Native(path_), ignored);
}

std::string TempFolder::Path(std::string_view name) const {
    std::string path = path_ + kSeparator + std::string(name);
#ifdef _WIN32
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}

std::string TempFolder::Write(std::string_view name, std::string_view bytes) const {
    const std::string path = Path(name);
    std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

std::vector<std::string> TempFolder::Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Native(path_))) {
        names.push_back(Utf8(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

void TempFolder::OpenToAll() const {
#ifndef _WIN32
    ::chmod(path_.c_str(), 0755);
#endif
}

std::string Hide(const std::string& path) {
#ifdef _WIN32
    ::SetFileAttributesW(windows::Wide(path).c_str(), FILE_ATTRIBUTE_HIDDEN);
#endif  // on Linux its name starts with a dot
    return path;
}

void MakeFolder(const std::string& path, bool readOnly) {
    std::filesystem::create_directory(Native(path));
#ifdef _WIN32
    if (readOnly) ::SetFileAttributesW(windows::Wide(path).c_str(), FILE_ATTRIBUTE_READONLY);
#else
    ::chmod(path.c_str(), readOnly ? 0555 : 0700);
#endif
}

void MakeReadOnly(const std::string& path) {
#ifdef _WIN32
    ::SetFileAttributesW(windows::Wide(path).c_str(), FILE_ATTRIBUTE_READONLY);
#else
    ::chmod(path.c_str(), 0444);
#endif
}

bool MakeFifo(const std::string& path) {
#ifdef _WIN32
    (void)path;
    return false;
#else
    return ::mkfifo(path.c_str(), 0600) == 0;
#endif
}

bool MakeLink(const std::string& target, const std::string& path) {
#ifdef _WIN32
    (void)target;
    (void)path;
    return false;
#else
    return ::symlink(target.c_str(), path.c_str()) == 0;
#endif
}

ShortPathFile::ShortPathFile() {
    for (int attempt = 0; attempt < 1000 && path_.empty(); ++attempt) {
        const std::string letters = std::string(1, 'a' + std::rand() % 26) +
                                    std::string(1, 'a' + std::rand() % 26);
#ifdef _WIN32
        const std::string candidate = "C:\\" + letters + "xx.ps";
        const HANDLE made = ::CreateFileW(windows::Wide(candidate).c_str(), GENERIC_WRITE, 0,
                                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (made != INVALID_HANDLE_VALUE) {
            ::CloseHandle(made);
            path_ = candidate;
        }
#else
        const std::string candidate = "/tmp/" + letters + ".ps";
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            ::close(fd);
            path_ = candidate;
        }
#endif
    }
    if (path_.empty()) throw std::runtime_error("no free short path");
}

ShortPathFile::~ShortPathFile() {
    std::error_code ignored;
    std::filesystem::remove(Native(path_), ignored);
}

void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
    ::_putenv_s(name, value != nullptr ? value : "");
#else
    if (value != nullptr) {
        ::setenv(name, value, 1);
    } else {
        ::unsetenv(name);
    }
#endif
}

std::string ProcessId() {
#ifdef _WIN32
    return std::to_string(::GetCurrentProcessId());
#else
    return std::to_string(::getpid());
#endif
}

std::string PsPath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string NotFoundReason() {
#ifdef _WIN32
    return windows::SystemReason(ERROR_FILE_NOT_FOUND);
#else
    return std::strerror(ENOENT);
#endif
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(Native(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

#ifndef _WIN32
FifoReader::FifoReader(const std::string& path, int seconds)
    : thread_([this, path, seconds] {
          const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
          char buf[65536];
          for (;;) {
              pollfd in{fd, POLLIN, 0};
              if (::poll(&in, 1, seconds * 1000) <= 0) break;
              const ssize_t n = ::read(fd, buf, sizeof buf);
              if (n <= 0) {
                  ended_ = n == 0;
                  break;
              }
              received_.append(buf, static_cast<std::size_t>(n));
          }
          ::close(fd);
      }) {}

FifoReader::~FifoReader() {
    if (thread_.joinable()) thread_.join();
}

bool FifoReader::Finish() {
    if (thread_.joinable()) thread_.join();
    return ended_;
}

int AsUnprivileged(const std::function<int()>& work) {
    if (::geteuid() != 0) return work();
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            std::_Exit(255);
        }
        std::_Exit(work());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}
#endif

}  // namespace a5merge::testing
