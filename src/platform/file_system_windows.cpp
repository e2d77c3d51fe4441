// File-system queries and input files, on Windows: the wide API throughout,
// paths as UTF-8 inside.

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string_view>

#include "platform/cleanup_windows.h"
#include "platform/file_system.h"
#include "platform/placement.h"
#include "platform/runtime_error.h"
#include "platform/spool_file.h"
#include "platform/wildcard.h"
#include "platform/windows_support.h"

namespace a5merge {

using windows::Error;
using windows::Handle;
using windows::Narrow;
using windows::SystemPath;
using windows::Wide;

namespace {

bool HasNul(const std::string& path) { return path.find('\0') != std::string::npos; }

// Attributes of `path`, links followed; nothing when it cannot be queried.
std::optional<DWORD> AttributesOf(const std::string& path) {
    if (HasNul(path) || windows::IsDevicePath(path)) return std::nullopt;
    const Handle file(::CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (file.valid() && ::GetFileInformationByHandle(file.get(), &info)) {
        return info.dwFileAttributes;
    }
    const DWORD attributes = ::GetFileAttributesW(SystemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return attributes;
}

// An ordinary entry: a file, neither a folder nor hidden nor a system file.
bool Ordinary(DWORD attributes) {
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                          FILE_ATTRIBUTE_DEVICE)) == 0;
}

std::size_t LastSeparator(std::string_view path) { return path.find_last_of("\\/"); }

std::string RandomSuffix(std::size_t length) {
    static std::mt19937 random{std::random_device{}()};
    static std::mutex mutex;
    static constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::lock_guard lock(mutex);
    std::string suffix;
    for (std::size_t i = 0; i < length; ++i) suffix += kAlphabet[random() % kAlphabet.size()];
    return suffix;
}

}  // namespace

const char* const kHiddenBecause = "its Hidden attribute is set";

char PlatformSeparator() { return '\\'; }

std::string Dir(const std::string& pattern) {
    if (HasNul(pattern)) return {};
    const std::size_t slash = LastSeparator(pattern);
    const std::string prefix = slash == std::string::npos ? "" : pattern.substr(0, slash + 1);
    const std::string namePattern =
        slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (namePattern.empty() || windows::IsDevicePath(pattern)) return {};

    // The exact name first: a name may hold * or ? only where the system
    // lets it (never on Windows), but a folder listing may be refused.
    if (namePattern.find_first_of("*?") == std::string::npos) {
        const std::optional<DWORD> attributes = AttributesOf(pattern);
        if (!attributes || !Ordinary(*attributes)) return {};
        return namePattern;
    }
    WIN32_FIND_DATAW entry{};
    const windows::FindHandle found(::FindFirstFileExW(SystemPath(prefix + "*").c_str(),
                                                       FindExInfoBasic, &entry,
                                                       FindExSearchNameMatch, nullptr, 0));
    if (!found.valid()) return {};
    std::string name;
    do {
        const std::string candidate = Narrow(entry.cFileName);
        if (Ordinary(entry.dwFileAttributes) && WildcardMatch(namePattern, candidate, true)) {
            name = candidate;
            break;
        }
    } while (::FindNextFileW(found.get(), &entry));
    return name;
}

int GetAttr(const std::string& path) {
    if (HasNul(path)) throw RuntimeError::FromSystem(path, ENOENT);
    // Nothing of a device is opened to ask.
    if (windows::IsDevicePath(path)) {
        throw RuntimeError(path, "is a device of Windows, not a file", ENODEV);
    }
    const DWORD attributes = ::GetFileAttributesW(SystemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) throw Error(path);
    // Windows' own bits are the ones the callers know: read-only 1, hidden
    // 2, system 4, folder 16, archive 32.
    return static_cast<int>(attributes & 0x37);
}

bool IsRegularFile(const std::string& path) {
    const std::optional<DWORD> attributes = AttributesOf(path);
    return attributes && (*attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

namespace {

std::wstring FullPath(const std::wstring& wide, const std::string& path) {
    const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0) throw Error(path);
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) throw Error(path);
    full.resize(length);
    return full;
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
    const std::wstring wide = Wide(path);
    std::size_t cut = wide.find_last_of(L"\\/");
    if (cut == std::wstring::npos && wide.size() >= 2 && wide[1] == L':') cut = 1;  // "C:nul"
    // A device's name (nul.PS) stays a name in its folder, as it was given,
    // not the device (\\.\nul): the checks then say what it is.
    if (!windows::DeviceName(path).empty() && !path.starts_with("\\\\.\\")) {
        std::wstring folder =
            FullPath(cut == std::wstring::npos ? L".\\" : wide.substr(0, cut + 1), path);
        if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
        return Narrow(folder + (cut == std::wstring::npos ? wide : wide.substr(cut + 1)));
    }
    return Narrow(FullPath(wide, path));
}

std::optional<FileStamp> StampOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (HasNul(path) || windows::IsDevicePath(path) ||
        !::GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    // 100 ns since 1601, as nanoseconds since 1970.
    const std::int64_t ticks = (std::int64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                               data.ftLastWriteTime.dwLowDateTime;
    return FileStamp{(std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow,
                     (ticks - 116444736000000000LL) * 100};
}

bool NamesSomething(const std::string& path) {
    return !HasNul(path) &&
           ::GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool OnAnotherMachine(const std::string& path) { return windows::IsOnTheNetwork(path); }

bool IsStandardOutput(const std::string& path) {
    BY_HANDLE_FILE_INFORMATION out{}, file{};
    const HANDLE standard = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (HasNul(path) || windows::IsDevicePath(path) || standard == nullptr ||
        standard == INVALID_HANDLE_VALUE || ::GetFileType(standard) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(standard, &out)) {
        return false;
    }
    const Handle named(::CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return named.valid() && ::GetFileInformationByHandle(named.get(), &file) &&
           out.dwVolumeSerialNumber == file.dwVolumeSerialNumber &&
           out.nFileIndexHigh == file.nFileIndexHigh && out.nFileIndexLow == file.nFileIndexLow;
}

std::string TemporaryFolder() {
    // GetTempPathW answers with the room it needs when the buffer is short
    // (a TEMP longer than MAX_PATH): asked again with that room.
    std::wstring folder(MAX_PATH + 1, L'\0');
    const auto ask = windows::Calls().getTempPath;
    DWORD length = ask(static_cast<DWORD>(folder.size()), folder.data());
    for (int attempt = 0; attempt < 3 && length >= folder.size(); ++attempt) {
        folder.assign(static_cast<std::size_t>(length) + 1, L'\0');
        length = ask(static_cast<DWORD>(folder.size()), folder.data());
    }
    std::string path = length > 0 && length < folder.size()
                           ? Narrow(std::wstring_view(folder.data(), length))
                           : "C:\\Windows\\Temp";
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    return path;
}

std::string FindProgram(const std::string& name) {
    std::wstring path(32767, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(L"PATH", path.data(), 32767);
    path.resize(length);
    std::string_view rest;
    const std::string folders = Narrow(path);
    rest = folders;
    while (!rest.empty()) {
        const std::size_t semicolon = rest.find(';');
        std::string folder(rest.substr(0, semicolon));
        rest =
            semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
        folder.erase(std::remove(folder.begin(), folder.end(), '"'), folder.end());
        if (folder.empty()) continue;
        if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
        for (const char* ending : {"", ".exe"}) {
            const std::string candidate = folder + name + ending;
            if (IsRegularFile(candidate)) return candidate;
        }
    }
    return {};
}

std::optional<FileIdentity> IdentityOf(const std::string& path) { return windows::IdOf(path); }

bool RemoveIfIdentity(const std::string& path, const FileIdentity& id) {
    // Opened as itself (a link is not followed), checked, then deleted
    // through that very handle.
    bool removed = false;
    const bool done = windows::RetryWhileHeld([&] {
        const Handle file(::CreateFileW(
            SystemPath(path).c_str(), DELETE | FILE_READ_ATTRIBUTES,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file.valid()) {
            const DWORD code = ::GetLastError();
            removed = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
            ::SetLastError(code);
            return removed;
        }
        const std::optional<FileIdentity> now = windows::IdOf(file.get());
        if (now != id) {
            removed = true;  // not ours (any more): nothing to remove
            return true;
        }
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        removed = ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                               sizeof disposition) != 0;
        return removed;
    });
    return done && removed;
}

bool MoveToFreeName(const std::string& from, const std::string& to) {
    return windows::RetryWhileHeld([&] {
        return ::MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(),
                             MOVEFILE_WRITE_THROUGH) != 0;
    });
}

// Held by an open handle that lets no one delete or rename it: a private
// folder of a live run is never removed by another's clean-up.
struct PrivateFolder::Held {
    Handle folder;
    windows::CleanupEntry entry;
};

namespace {

constexpr std::string_view kPrivatePrefix = "a5merge-";  // then six letters or digits
constexpr const char* kMarkName = ".a5merge-folder";

// The mark a private folder carries: its own identity, so that no folder of
// another's (nor a copy of ours) passes for it.
std::string MarkText(const FileIdentity& folder) {
    return "a5merge private folder " + std::to_string(folder.device) + " " +
           std::to_string(folder.number) + "\r\n";
}

// The first `most` bytes of the file `path` (not through a link); nothing
// when it is no such file.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t most) {
    const Handle file(::CreateFileW(SystemPath(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.valid() || ::GetFileType(file.get()) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return std::nullopt;
    }
    std::string text(most + 1, '\0');
    DWORD got = 0;
    if (!::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr) ||
        got > most) {
        return std::nullopt;
    }
    text.resize(got);
    return text;
}

// Writes `bytes` as the file `path`, whole: a new file, on the disk, then
// given the name.
void WriteWhole(const std::string& path, std::string_view bytes, const std::string& where) {
    const std::string fresh = path + ".new";
    Handle file(::CreateFileW(SystemPath(fresh).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) throw Error(where);
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) ||
        written != bytes.size() || !::FlushFileBuffers(file.get())) {
        const DWORD code = ::GetLastError();
        file.reset();
        ::DeleteFileW(SystemPath(fresh).c_str());
        throw Error(where, code);
    }
    file.reset();
    if (!windows::RetryWhileHeld([&] {
            return ::MoveFileExW(SystemPath(fresh).c_str(), SystemPath(path).c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        })) {
        const DWORD code = ::GetLastError();
        ::DeleteFileW(SystemPath(fresh).c_str());
        throw Error(where, code);
    }
}

// Settles and removes the private folders in `folder` that carry our mark
// and that no live process holds (each run holds its own, letting no one
// delete it).
void RemoveStalePrivateFolders(const std::string& folder) {
    WIN32_FIND_DATAW entry{};
    const windows::FindHandle found(
        ::FindFirstFileExW(SystemPath(folder + "\\a5merge-??????").c_str(), FindExInfoBasic, &entry,
                           FindExSearchNameMatch, nullptr, 0));
    if (!found.valid()) return;
    do {
        const std::string name = Narrow(entry.cFileName);
        if (name.size() != kPrivatePrefix.size() + 6 ||
            (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            continue;
        }
        // Claimed: opened for deletion, where no one holds it, leaving no one
        // else room to delete it (another run's clean-up passes it by).
        const std::string path = folder + "\\" + name;
        const Handle claim(::CreateFileW(
            SystemPath(path).c_str(), DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!claim.valid()) continue;
        FILE_ATTRIBUTE_TAG_INFO tag{};
        const std::optional<FileIdentity> id = windows::IdOf(claim.get());
        if (!id ||
            !::GetFileInformationByHandleEx(claim.get(), FileAttributeTagInfo, &tag, sizeof tag) ||
            (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
            ReadSmallFile(path + "\\" + kMarkName, 256) != MarkText(*id)) {
            continue;  // not ours
        }
        // Settled first; its record goes before the rest, so that a run
        // killed meanwhile leaves the record only with the mark.
        const std::string record = path + "\\" + kPlacementRecord;
        if (const auto text = ReadSmallFile(record, 1 << 20)) {
            if (const std::optional<Placement> placement = ParseRecord(*text)) {
                const Settlement done = Settle(*placement);
                if (done.how == Settled::Stranded || done.leftovers) continue;
            }
            ::DeleteFileW(SystemPath(record).c_str());
        }
        windows::RemoveHeldFolder(path, claim.get());
    } while (::FindNextFileW(found.get(), &entry));
}

}  // namespace

void SettleLeftovers() {
    static std::once_flag swept;
    std::call_once(swept, [] { RemoveStalePrivateFolders(TemporaryFolder()); });
}

PrivateFolder::PrivateFolder() : held_(std::make_unique<Held>()) {
    const std::string folder = TemporaryFolder();
    SettleLeftovers();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = folder + "\\" + std::string(kPrivatePrefix) + RandomSuffix(6);
        if (!::CreateDirectoryW(SystemPath(path).c_str(), nullptr)) {
            if (::GetLastError() == ERROR_ALREADY_EXISTS) continue;
            throw Error(folder);
        }
        // Held from now on, without room for another to delete or rename it
        // (another run's clean-up may look at it for a moment first: it
        // leaves a folder without our mark alone).
        windows::RetryWhileHeld([&] {
            held_->folder.reset(
                ::CreateFileW(SystemPath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            return held_->folder.valid();
        });
        const std::optional<FileIdentity> id =
            held_->folder.valid() ? windows::IdOf(held_->folder.get()) : std::nullopt;
        if (!id) {
            const DWORD code = ::GetLastError();
            held_->folder.reset();
            ::RemoveDirectoryW(SystemPath(path).c_str());
            throw Error(folder, code);
        }
        held_->entry = windows::CleanupEntry(path, true, held_->folder.get());
        path_ = path;
        try {
            WriteWhole(Path(kMarkName), MarkText(*id), folder);
        } catch (...) {
            held_->entry = {};
            held_->folder.reset();
            windows::RemoveTree(path);
            path_.clear();
            throw;
        }
        return;
    }
    throw RuntimeError::FromSystem(folder, EEXIST);
}

PrivateFolder::~PrivateFolder() {
    if (path_.empty()) return;
    held_->entry = {};
    held_->folder.reset();
    if (!leave_) windows::RemoveTree(path_);
}

void PrivateFolder::SetFile(const std::string& name, std::string_view bytes, bool) const {
    if (bytes.empty()) {
        if (!::DeleteFileW(SystemPath(Path(name)).c_str()) &&
            ::GetLastError() != ERROR_FILE_NOT_FOUND) {
            throw Error(path_);
        }
        return;
    }
    WriteWhole(Path(name), bytes, path_);
}

Spool::File::File(const std::string& in) : folder(in) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = folder + "\\a5merge-spool-" + RandomSuffix(8);
        // Gone when closed, also when this process is killed.
        const HANDLE made = ::CreateFileW(
            SystemPath(name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (made != INVALID_HANDLE_VALUE) {
            system = reinterpret_cast<std::intptr_t>(made);
            return;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) throw Error(folder);
    }
    throw RuntimeError::FromSystem(folder, EEXIST);
}

Spool::File::~File() { ::CloseHandle(reinterpret_cast<HANDLE>(system)); }

void Spool::File::Append(std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!::WriteFile(reinterpret_cast<HANDLE>(system), bytes.data(), size, &written, nullptr) ||
            written == 0) {
            throw Error(folder);
        }
        bytes.remove_prefix(written);
    }
}

std::size_t Spool::File::ReadAt(std::uint64_t at, char* into, std::size_t size) const {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(at);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    if (!::ReadFile(reinterpret_cast<HANDLE>(system), into, static_cast<DWORD>(size), &got,
                    &position)) {
        if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
        throw Error(folder);
    }
    return got;
}

struct InputFile::Handle {
    windows::Handle file;
};

InputFile::InputFile(const std::string& path) : path_(path), handle_(std::make_unique<Handle>()) {
    if (HasNul(path)) throw RuntimeError::FromSystem(path, ENOENT);
    if (windows::IsDevicePath(path)) throw RuntimeError(path, "Not a regular file");
    const DWORD attributes = ::GetFileAttributesW(SystemPath(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        throw RuntimeError::FromSystem(path, EISDIR);
    }
    handle_->file.reset(::CreateFileW(SystemPath(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!handle_->file.valid()) throw Error(path);
    if (::GetFileType(handle_->file.get()) != FILE_TYPE_DISK) {
        throw RuntimeError(path, "Not a regular file");
    }
}

InputFile::~InputFile() = default;

std::size_t InputFile::Read(char* buf, std::size_t size) {
    DWORD got = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::ReadFile(handle_->file.get(), buf, wanted, &got, nullptr)) {
        if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
        throw Error(path_);
    }
    return got;
}

void InputFile::Seek(std::uint64_t offset) {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(handle_->file.get(), to, nullptr, FILE_BEGIN)) throw Error(path_);
}

}  // namespace a5merge
