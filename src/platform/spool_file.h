#pragma once

// The file a Spool keeps its bytes in past its memory: each system's own.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace a5merge {

struct Spool::File {
    // A new file in `folder` that no one else sees and that goes when it
    // is closed, also when the process is killed. Failures throw
    // RuntimeError naming the folder, as do those of the calls below.
    explicit File(const std::string& folder);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    void Append(std::string_view bytes);
    // Up to `size` bytes from `at` into `into`; 0 at the end.
    std::size_t ReadAt(std::uint64_t at, char* into, std::size_t size) const;

    std::string folder;
    std::intptr_t system = -1;  // its descriptor (Linux) or HANDLE (Windows)
};

}  // namespace a5merge
