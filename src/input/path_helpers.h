#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"
#include "state/merge_state.h"

namespace a5merge {

class Desktop;

inline constexpr const char* kInvalidProcessing = "Invalid file processing detected";
inline constexpr const char* kProgramWillClose = "Program will close";

// Taking paths apart. Positions are found from the end: the last separator
// splits folder from name, the last dot name from extension. Nothing checks
// that a text is a well-formed path, and no case is changed. The separator is
// the platform's unless given.

// True when `strFile` (a pattern: * and ? in its last component) names an
// ordinary file: a regular file, not hidden, links followed.
bool FileExists(const std::string& strFile);
// The same query as FileExists: true for an ordinary file, false for a folder.
bool DirExists(const std::string& strPath);

// Everything before the last separator; empty without one.
std::string PathOnly(std::string filepath, char sep = PlatformSeparator());
// Everything after the last separator; all of it without one.
std::string FileOnly(std::string filepath, char sep = PlatformSeparator());
// Everything after the last dot (all of it without one), with the dot in
// front when `dot` is -1, the one value that counts as true.
std::string ExtOnly(const std::string& filepath, const std::int16_t& dot);
// `filepath` up to its last dot, then `newext`. A non-empty `newext` gets a
// dot in front, in the caller's own variable.
std::string ChangeExt(std::string filepath, std::string& newext);

// Why a name from a dialog is not taken.
inline constexpr const char* kNameNotCarried =
    "The dialog cannot pass this name on exactly (it holds bytes that are not UTF-8); "
    "choose a name and folder without them.";

// True when `path` holds U+FFFD, the character a dialog puts where a name
// held bytes that are not UTF-8: the name handed back may then not be the
// file the user saw.
bool MayHaveLostBytes(const std::string& path);

// True for a path of 10 characters or fewer, which NameOnly refuses.
bool TooShortForNameOnly(const std::string& filename);
// Shows "Invalid file processing detected" and ends the program.
[[noreturn]] void StopForShortPath(const MergeState& state, Desktop& desktop);
// The file name without its last dot and what follows; a file name without a
// dot, or an empty one, comes back unchanged.
std::string BareName(const std::string& filename, char sep = PlatformSeparator());
// BareName, after a guard: a path of 10 characters or fewer ends the program
// (StopForShortPath).
std::string NameOnly(const std::string& filename, const MergeState& state, Desktop& desktop,
                     char sep = PlatformSeparator());

}  // namespace a5merge
