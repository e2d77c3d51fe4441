#include "support/temp_folder.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace a5merge::testing {

TempFolder::TempFolder() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/a5merge-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    // Folders a test closed to its own user are opened again first.
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            ::chmod(it->path().c_str(), 0700);
        }
    }
    ::chmod(path_.c_str(), 0700);
    std::filesystem::remove_all(path_, ignored);
}

std::string TempFolder::Path(std::string_view name) const {
    return path_ + "/" + std::string(name);
}

std::string TempFolder::Write(std::string_view name, std::string_view bytes) const {
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

std::vector<std::string> TempFolder::Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void TempFolder::OpenToAll() const { ::chmod(path_.c_str(), 0755); }

ShortPathFile::ShortPathFile() {
    for (int attempt = 0; attempt < 1000 && path_.empty(); ++attempt) {
        const std::string candidate = "/tmp/" + std::string(1, 'a' + std::rand() % 26) +
                                      std::string(1, 'a' + std::rand() % 26) + ".ps";
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            ::close(fd);
            path_ = candidate;
        }
    }
    if (path_.empty()) throw std::runtime_error("no free short path in /tmp");
}

ShortPathFile::~ShortPathFile() { ::unlink(path_.c_str()); }

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

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

}  // namespace a5merge::testing
