// File-system queries and input files, on Windows: the wide API throughout,
// paths as UTF-8 inside.

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "platform/cleanup_windows.h"
#include "platform/file_system.h"
#include "platform/placement.h"
#include "platform/private_folder_system.h"
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

Spool::File::File(const std::string& in) : folder(in) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = folder + "\\a5merge-spool-" + RandomLettersAndDigits(8);
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
