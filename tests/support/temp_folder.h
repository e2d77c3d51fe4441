#pragma once

#include <filesystem>
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

// A UTF-8 path as std::filesystem takes it on this system.
std::filesystem::path Native(const std::string& path);

// Marks `path` hidden, and returns it: on Linux its name says so (a dot), on
// Windows this sets its attribute.
std::string Hide(const std::string& path);

// Makes a folder; read-only, it may be listed but not written.
void MakeFolder(const std::string& path, bool readOnly = false);
// Makes `path` read-only (mode 0444; on Windows its attribute).
void MakeReadOnly(const std::string& path);
// Makes a FIFO at `path`, or a link there to `target`, where the system has
// them (not Windows: then nothing is made, the name stays free, and false).
bool MakeFifo(const std::string& path);
bool MakeLink(const std::string& target, const std::string& path);

// An empty file whose full path has 10 characters (/tmp/XX.ps; on Windows
// C:\XXXX.ps), removed at the end.
class ShortPathFile {
public:
    ShortPathFile();
    ~ShortPathFile();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string ReadBytes(const std::string& path);

// What the system says of a path that names nothing.
std::string NotFoundReason();

// Sets `name` in this process's environment to `value` (null: unsets it).
void SetEnvironment(const char* name, const char* value);
// This process's id, as text.
std::string ProcessId();
// `path` as a PostScript string may hold it: forward slashes (a backslash
// there escapes the next character; Windows takes either).
std::string PsPath(std::string path);

#ifndef _WIN32
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
#endif

}  // namespace a5merge::testing
