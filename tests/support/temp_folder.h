#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace a5merge::testing {

// A fresh folder, removed with everything in it at the end of the test.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    // Full path of `name` inside the folder.
    std::string Path(std::string_view name) const;
    // Writes `bytes` to `name` and returns its full path.
    std::string Write(std::string_view name, std::string_view bytes) const;
    // Names of the entries, sorted.
    std::vector<std::string> Entries() const;
    // Lets every user into the folder (for work done as an unprivileged user).
    void OpenToAll() const;

private:
    std::string path_;
};

// An empty file whose full path has 10 characters (/tmp/XX.ps), removed at the end.
class ShortPathFile {
public:
    ShortPathFile();
    ~ShortPathFile();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string ReadBytes(const std::string& path);

// Reads the FIFO `path` on a thread of its own until its end, or until
// nothing comes for `seconds`.
class FifoReader {
public:
    explicit FifoReader(const std::string& path, int seconds = 20);
    ~FifoReader();
    // Waits until it stops reading; whether it reached the end.
    bool Finish();
    const std::string& received() const { return received_; }

private:
    std::string received_;
    bool ended_ = false;
    std::thread thread_;
};

// Runs `work` as an unprivileged user (in a child process when this one runs
// as root, so that permissions apply) and returns its result (0 to 255).
int AsUnprivileged(const std::function<int()>& work);

}  // namespace a5merge::testing
