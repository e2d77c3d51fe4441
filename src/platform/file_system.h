#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace a5merge {

// Attribute bits as the attribute query reports them.
inline constexpr int kAttrReadOnly = 1;  // the user may not write it
inline constexpr int kAttrHidden = 2;    // the name starts with "."
inline constexpr int kAttrDirectory = 16;

// The folder separator of this platform.
char PlatformSeparator();

// First ordinary file matching `pattern`, or empty text. The last component
// may hold the wildcards * (any run of characters) and ? (one character).
// Ordinary: a regular file once links are followed, and not hidden. Nothing
// else is opened, so FIFOs and devices are never read.
std::string Dir(const std::string& pattern);

// Attribute bits of `path` (links followed). Throws RuntimeError when the
// path cannot be queried, for instance because it does not exist.
int GetAttr(const std::string& path);

// A regular file open for reading. Opening anything else (a folder, a FIFO, a
// device, also through a link) fails at once, without blocking.
class InputFile {
public:
    explicit InputFile(const std::string& path);  // throws RuntimeError
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Reads up to `size` bytes; 0 at the end. Throws RuntimeError.
    std::size_t Read(char* buf, std::size_t size);
    // Goes back or on to byte `offset` of the file. Throws RuntimeError.
    void Seek(std::uint64_t offset);

    const std::string& path() const { return path_; }

private:
    struct Handle;
    std::string path_;
    std::unique_ptr<Handle> handle_;
};

}  // namespace a5merge
