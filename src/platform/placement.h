#pragma once

// What a run leaves beside a target while it puts a new content in place,
// written down in a private folder of the run (a PrivateFolder): which
// files are ours, by their identity and not by their names alone, so that
// the next run tells them from a user's files and settles what a run that
// was killed left; and the one rule that settles it, for a run that meets a
// failure and for the next run alike.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace a5merge {

// Which file a path names, as the system tells it apart from every other.
struct FileIdentity {
    std::uint64_t device = 0;  // the volume
    std::uint64_t number = 0;  // the file there
    bool operator==(const FileIdentity&) const = default;
};

struct Placement {
    std::string target;            // full path the new content goes to
    std::string fresh;             // the new content, under a temporary name of ours
    FileIdentity freshId;
    bool whole = false;            // `fresh` holds all of the new content, on the disk
    std::string aside;             // where the old content goes while it is replaced; may be empty
    std::optional<FileIdentity> oldId;  // the old content's identity, when there was one
};

// The record's text, and back; nothing when `text` is not a whole record.
std::string RecordText(const Placement& placement);
std::optional<Placement> ParseRecord(std::string_view text);

// The file name of the record in its private folder.
inline constexpr const char* kPlacementRecord = "placing";

// What the files of a placement say once settled.
enum class Settled {
    Placed,    // the target holds the new content; the old one is gone
    Kept,      // the target holds what it held (or something else): nothing of ours is left
    Restored,  // the target was missing: the old content is back under its name
    Stranded,  // the target is missing, and what is ours could not be moved there
};
struct Settlement {
    Settled how = Settled::Kept;
    bool leftovers = false;  // a file of ours could not be removed (held for good)
    bool oldAside = false;   // the old content is still under our name beside the target
};

// Sets the files of `placement` right, whatever step put them where they
// are: the target holds the new content (the old one aside is removed), or
// holds the old one (the new one is removed), or, when nothing is at the
// target, gets the old one back, else the new one when it is whole. Only a
// file whose identity is the one recorded is touched; nothing of ours is
// removed while the target holds no whole sheet.
Settlement Settle(const Placement& placement);

// What Settle asks of the system; each system has its own.
// The identity of what `path` names itself (a link, not what it points to).
std::optional<FileIdentity> IdentityOf(const std::string& path);
// Removes the file `path` if it is still `id`; false when it is there still.
bool RemoveIfIdentity(const std::string& path, const FileIdentity& id);
// Gives the file `from` the name `to` while `to` names nothing.
bool MoveToFreeName(const std::string& from, const std::string& to);

}  // namespace a5merge
