#pragma once

// Helpers shared by the fuzz targets: a scratch file per process, the
// reference rules the targets compare the program with, and a check that
// aborts (so that the fuzzer, or the replay test, reports it).

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace a5merge::fuzz {

// Scratch files of this process, in memory when possible; gone at its end.
class Scratch {
public:
    static Scratch& Files() {
        static Scratch files;
        return files;
    }
    std::string Path(const char* name) {
        const std::string path = prefix_ + name;
        if (std::find(paths_.begin(), paths_.end(), path) == paths_.end()) paths_.push_back(path);
        return path;
    }
    ~Scratch() {
        for (const std::string& path : paths_) std::remove(path.c_str());
    }

private:
    Scratch()
        : prefix_(std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                  "/a5merge-fuzz-" + std::to_string(::getpid()) + "-") {}
    std::string prefix_;
    std::vector<std::string> paths_;
};

inline std::string ScratchPath(const char* name) { return Scratch::Files().Path(name); }

inline std::string WriteScratch(const char* name, std::string_view bytes) {
    const std::string path = ScratchPath(name);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

inline std::string ReadScratch(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A read buffer size chosen by one input byte: tiny ones put lines and
// tokens across buffer boundaries.
inline std::size_t BufferSize(std::uint8_t choice) {
    return choice < 200 ? choice % 64 + 1 : 256 * 1024;
}

// Lines as the reader must see them: ended by CR or CR LF, a lone LF inside.
inline std::vector<std::string> SplitLines(std::string_view data) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '\r') {
            lines.push_back(line);
            line.clear();
            if (i + 1 < data.size() && data[i + 1] == '\n') ++i;
        } else {
            line += data[i];
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

inline bool Holds(std::string_view line, std::string_view token) {
    return line.find(token) != std::string_view::npos;
}

}  // namespace a5merge::fuzz
