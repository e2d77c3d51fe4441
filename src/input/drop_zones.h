#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/input_check.h"
#include "state/form_context.h"

namespace a5merge {

enum class Zone { Top, Bottom };

// What a drop comes to, in the order the tests are made.
enum class DropVerdict {
    NothingDropped,   // no local file in the drop
    TooMany,          // more than one file
    Folder,           // a folder, whatever its other attributes
    NotPostScript,    // the extension is not ps, in any case
    ShortPath,        // 10 characters or fewer: the program ends
    CheckFailed,      // vanished, unreadable, or header or marker wrong
    ProcessedBefore,  // already a merged file
    Accepted,
};

inline constexpr const char* kOnlyOneAtATime = "Only one at a time!";
inline constexpr const char* kOnlyFiles = "Sorry only files, NO DIR's";
inline constexpr const char* kOnlyPsFiles = "Sorry only *.PS files";

// The verdict on a drop that can be given before the file is read (too many
// files, a folder, another extension, a short path, a path that vanished),
// or nothing when the file's content decides. A vanished path records the
// check flags of a file that cannot be found in `state`. With `detail`, also
// says why a vanished path failed.
std::optional<DropVerdict> JudgeBeforeReading(const std::vector<std::string>& paths,
                                              MergeState& state, CheckDetail* detail = nullptr);

// The verdict on a file the check read.
DropVerdict VerdictOf(const CheckFlags& flags);

// Judges a drop of `paths` without showing anything or changing the zone.
// Runs the input check, which sets the check flags of `state`. With
// `detail`, also says why the check refused the file.
DropVerdict JudgeDrop(const std::vector<std::string>& paths, MergeState& state, TextFiles& files,
                      CheckDetail* detail = nullptr);

// Why a file is refused, whatever the zone ("file check NOT OK"); empty for
// verdicts that refuse nothing.
std::string RefusalReason(DropVerdict verdict);

// `text` (a refusal's), then why, when the check says: what --check prints
// ("file check NOT OK: its lines end with LF only").
std::string WithDetail(const std::string& text, const CheckDetail& detail);

// The message a refusal shows on `zone` ("TOP.PS file check NOT OK"); empty
// for verdicts that show none.
std::string RefusalText(Zone zone, DropVerdict verdict);

// The caption of the zone's label while it holds an accepted file.
std::string_view AcceptedCaption(Zone zone);

// The zone's Open dialog: asks for a file for `zone`, starting in
// `startFolder` (the home folder when empty), and takes the answer as a drop
// on the zone, with the same checks, messages, captions and flags. Cancel
// changes nothing (NothingDropped). Returns the verdict; with `detail` and
// `chosen`, also why the check refused the file, and which it was.
DropVerdict ChooseForZone(Zone zone, FormContext& form, const std::string& startFolder,
                          CheckDetail* detail = nullptr, std::string* chosen = nullptr);

// A drop of `paths` on `zone`: an accepted file becomes the zone's file, sets
// its flag and shows the accepted caption; a refusal shows its message and
// leaves the zone as it was; a short path ends the program. Returns the
// verdict; with `detail`, also why the check refused the file.
DropVerdict DropOnZone(Zone zone, const std::vector<std::string>& paths, FormContext& form,
                       CheckDetail* detail = nullptr);

}  // namespace a5merge
