// Private folders of a run, their marks and the sweep of those that killed
// runs left; the temporary names of new files. The same on every system,
// over the calls of private_folder_system.h.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <random>

#include "platform/placement.h"
#include "platform/private_folder_system.h"
#include "platform/runtime_error.h"

namespace a5merge {

namespace {

constexpr std::string_view kPrivatePrefix = "a5merge-";  // then six letters or digits
constexpr std::size_t kSuffixLength = 6;
constexpr const char* kMarkName = ".a5merge-folder";

std::mt19937& Random() {
    static std::mt19937 random{std::random_device{}()};
    return random;
}
std::mutex randomLock;

bool IsPrivateFolderName(std::string_view name) {
    if (name.size() != kPrivatePrefix.size() + kSuffixLength || !name.starts_with(kPrivatePrefix)) {
        return false;
    }
    return std::all_of(name.begin() + kPrivatePrefix.size(), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// The mark a private folder carries: its own identity, so that no folder of
// another's (nor a copy of ours) passes for it.
std::string MarkText(const FileIdentity& folder) {
    return "a5merge private folder " + std::to_string(folder.device) + " " +
           std::to_string(folder.number) + PrivateFolder::Held::kLineEnd;
}

// Settles and removes the private folders in `folder` that carry our mark
// and that no live run holds (each run holds its own).
void RemoveStalePrivateFolders(const std::string& folder) {
    for (const std::string& name : PrivateFolder::Held::NamesIn(folder)) {
        if (!IsPrivateFolderName(name)) continue;
        const std::unique_ptr<PrivateFolder::Held> claim = PrivateFolder::Held::Claim(folder, name);
        if (!claim || claim->ReadSmallFile(kMarkName, 256) != MarkText(claim->identity)) continue;
        // Settled first; its record goes before the rest, so that a run
        // killed meanwhile leaves the record only with the mark.
        if (const auto record = claim->ReadSmallFile(kPlacementRecord, 1 << 20)) {
            if (const std::optional<Placement> placement = ParseRecord(*record)) {
                const Settlement done = Settle(*placement);
                if (done.how == Settled::Stranded || done.leftovers) continue;
            }
            try {
                claim->RemoveFile(kPlacementRecord, claim->path);
            } catch (const RuntimeError&) {
                // goes with the rest
            }
        }
        claim->RemoveAll();
    }
}

}  // namespace

std::string RandomTempName() {
    const std::lock_guard lock(randomLock);
    char name[32];
    std::snprintf(name, sizeof name, ".a5merge-%08x", static_cast<unsigned>(Random()()));
    return name;
}

std::string RandomLettersAndDigits(std::size_t length) {
    static constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const std::lock_guard lock(randomLock);
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += kAlphabet[Random()() % kAlphabet.size()];
    return text;
}

void SettleLeftovers() {
    static std::once_flag swept;
    std::call_once(swept, [] { RemoveStalePrivateFolders(TemporaryFolder()); });
}

PrivateFolder::PrivateFolder() {
    const std::string folder = TemporaryFolder();
    SettleLeftovers();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::unique_ptr<Held> made = Held::MakeNew(
            folder, std::string(kPrivatePrefix) + RandomLettersAndDigits(kSuffixLength));
        if (!made) continue;
        try {
            made->WriteWhole(kMarkName, MarkText(made->identity), true, folder);
        } catch (...) {
            made->RemoveAll();
            throw;
        }
        path_ = made->path;
        held_ = std::move(made);
        return;
    }
    throw RuntimeError::FromSystem(folder, EEXIST);
}

PrivateFolder::~PrivateFolder() {
    if (held_ && !leave_) held_->RemoveAll();
}

void PrivateFolder::SetFile(const std::string& name, std::string_view bytes, bool synced) const {
    if (bytes.empty()) return held_->RemoveFile(name, path_);
    held_->WriteWhole(name, bytes, synced, path_);
}

}  // namespace a5merge
