#pragma once

// What private folders, their sweep and the temporary names ask of each
// system: the calls only. What is made, kept, swept and when is
// private_folder.cpp's, the same on both.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/placement.h"

namespace a5merge {

// A new file's name of ours beside its target: ".a5merge-" and eight hex
// digits, at random.
std::string RandomTempName();
// `length` letters and digits, at random.
std::string RandomLettersAndDigits(std::size_t length);

// A folder held open by this process: one it made for itself, or one a
// killed run left, claimed to be removed. Held, no other run's clean-up
// takes it; dropped, it is let go of and stays.
struct PrivateFolder::Held {
    struct System;  // each system's handles

    // Makes `name` in `parent`, a folder only this user may enter, and holds
    // it; nothing when that name is taken (also when another process took
    // it before it was held). Other failures throw RuntimeError naming
    // `parent`.
    static std::unique_ptr<Held> MakeNew(const std::string& parent, const std::string& name);
    // Holds the folder `name` in `parent` to remove it: nothing when it is
    // no folder of this user's (a link, a file, another's) or a live run
    // holds it.
    static std::unique_ptr<Held> Claim(const std::string& parent, const std::string& name);
    // The names in `folder` that may be such folders.
    static std::vector<std::string> NamesIn(const std::string& folder);
    // How the lines of the files it keeps end.
    static const char* const kLineEnd;

    Held(std::string path, FileIdentity identity, std::unique_ptr<System> system);
    ~Held();
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    // The first `most` bytes of its regular file `name`, not through a link;
    // nothing when it is no such file or is longer.
    std::optional<std::string> ReadSmallFile(const std::string& name, std::size_t most) const;
    // Gives its file `name` the content `bytes`, whole: a new file, on the
    // disk (unless not `synced`, where the system may wait), then given the
    // name. Throws RuntimeError naming `where`.
    void WriteWhole(const std::string& name, std::string_view bytes, bool synced,
                    const std::string& where) const;
    // Removes its file `name`, if there; throws RuntimeError naming `where`.
    void RemoveFile(const std::string& name, const std::string& where) const;
    // Removes what it holds, never through a link, and then itself.
    void RemoveAll();

    const std::string path;
    const FileIdentity identity;
    std::unique_ptr<System> system;
};

}  // namespace a5merge
