// File-system queries and input files, on Windows: the wide API throughout,
// paths as UTF-8 inside.

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <string_view>

#include "platform/cleanup_windows.h"
#include "platform/file_system.h"
#include "platform/runtime_error.h"
#include "platform/wildcard.h"
#include "platform/windows_support.h"

namespace a5merge {

using windows::Error;
using windows::Handle;
using windows::Narrow;
using windows::Wide;

namespace {

bool HasNul(const std::string& path) { return path.find('\0') != std::string::npos; }

// Attributes of `path`, links followed; nothing when it cannot be queried.
std::optional<DWORD> AttributesOf(const std::string& path) {
    if (HasNul(path)) return std::nullopt;
    const Handle file(::CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (file.valid() && ::GetFileInformationByHandle(file.get(), &info)) {
        return info.dwFileAttributes;
    }
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return attributes;
}

// An ordinary entry: a file, neither a folder nor hidden nor a system file.
bool Ordinary(DWORD attributes) {
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN |
                          FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DEVICE)) == 0;
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

char PlatformSeparator() { return '\\'; }

std::string Dir(const std::string& pattern) {
    if (HasNul(pattern)) return {};
    const std::size_t slash = LastSeparator(pattern);
    const std::string prefix = slash == std::string::npos ? "" : pattern.substr(0, slash + 1);
    const std::string namePattern =
        slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (namePattern.empty() || !windows::DeviceName(namePattern).empty()) return {};

    // The exact name first: a name may hold * or ? only where the system
    // lets it (never on Windows), but a folder listing may be refused.
    if (namePattern.find_first_of("*?") == std::string::npos) {
        const std::optional<DWORD> attributes = AttributesOf(pattern);
        if (!attributes || !Ordinary(*attributes)) return {};
        return namePattern;
    }
    WIN32_FIND_DATAW entry{};
    const HANDLE found = ::FindFirstFileExW(Wide(prefix + "*").c_str(), FindExInfoBasic, &entry,
                                            FindExSearchNameMatch, nullptr, 0);
    if (found == INVALID_HANDLE_VALUE) return {};
    std::string name;
    do {
        const std::string candidate = Narrow(entry.cFileName);
        if (Ordinary(entry.dwFileAttributes) && WildcardMatch(namePattern, candidate, true)) {
            name = candidate;
            break;
        }
    } while (::FindNextFileW(found, &entry));
    ::FindClose(found);
    return name;
}

int GetAttr(const std::string& path) {
    if (HasNul(path)) throw RuntimeError::FromSystem(path, ENOENT);
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) throw Error(path);
    // Windows' own bits are the ones the callers know: read-only 1, hidden
    // 2, system 4, folder 16, archive 32.
    return static_cast<int>(attributes & 0x37);
}

bool IsRegularFile(const std::string& path) {
    const std::optional<DWORD> attributes = AttributesOf(path);
    return attributes && (*attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0 &&
           windows::DeviceName(path).empty();
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
    const std::size_t cut = wide.find_last_of(L"\\/:");
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
    if (HasNul(path) || !::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    // 100 ns since 1601, as nanoseconds since 1970.
    const std::int64_t ticks = (std::int64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                               data.ftLastWriteTime.dwLowDateTime;
    return FileStamp{(std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow,
                     (ticks - 116444736000000000LL) * 100};
}

bool NamesSomething(const std::string& path) {
    return !HasNul(path) && ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsStandardOutput(const std::string& path) {
    BY_HANDLE_FILE_INFORMATION out{}, file{};
    const HANDLE standard = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (HasNul(path) || standard == nullptr || standard == INVALID_HANDLE_VALUE ||
        ::GetFileType(standard) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(standard, &out)) {
        return false;
    }
    const Handle named(::CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return named.valid() && ::GetFileInformationByHandle(named.get(), &file) &&
           out.dwVolumeSerialNumber == file.dwVolumeSerialNumber &&
           out.nFileIndexHigh == file.nFileIndexHigh && out.nFileIndexLow == file.nFileIndexLow;
}

std::string TemporaryFolder() {
    wchar_t folder[MAX_PATH + 2] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    std::string path = length > 0 ? Narrow(std::wstring_view(folder, length)) : "C:\\Windows\\Temp";
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
        rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
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

// Held by an open handle that lets no one delete it: a private folder of a
// live run is never removed by another's clean-up.
struct PrivateFolder::Held {
    Handle folder;
    windows::CleanupEntry entry;
};

namespace {

constexpr std::string_view kPrivatePrefix = "a5merge-";  // then six letters or digits

// Removes the private folders in `folder` that no live process holds.
void RemoveStalePrivateFolders(const std::string& folder) {
    WIN32_FIND_DATAW entry{};
    const HANDLE found = ::FindFirstFileExW(Wide(folder + "\\a5merge-??????").c_str(),
                                            FindExInfoBasic, &entry, FindExSearchNameMatch,
                                            nullptr, 0);
    if (found == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = Narrow(entry.cFileName);
        if (name.size() != kPrivatePrefix.size() + 6 ||
            (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            continue;
        }
        // Opened for deletion only where no one holds it.
        const std::string path = folder + "\\" + name;
        Handle probe(::CreateFileW(Wide(path).c_str(), DELETE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!probe.valid()) continue;
        probe.reset();
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(Wide(path)), ignored);
    } while (::FindNextFileW(found, &entry));
    ::FindClose(found);
}

}  // namespace

PrivateFolder::PrivateFolder() : held_(std::make_unique<Held>()) {
    const std::string folder = TemporaryFolder();
    static std::once_flag swept;
    std::call_once(swept, [&folder] { RemoveStalePrivateFolders(folder); });
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = folder + "\\" + std::string(kPrivatePrefix) + RandomSuffix(6);
        if (!::CreateDirectoryW(Wide(path).c_str(), nullptr)) {
            if (::GetLastError() == ERROR_ALREADY_EXISTS) continue;
            throw Error(folder);
        }
        held_->folder.reset(::CreateFileW(Wide(path).c_str(), FILE_LIST_DIRECTORY,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        held_->entry = windows::CleanupEntry(path, true, held_->folder.get());
        path_ = path;
        return;
    }
    throw RuntimeError::FromSystem(folder, EEXIST);
}

PrivateFolder::~PrivateFolder() {
    if (path_.empty()) return;
    held_->folder.reset();
    held_->entry = {};
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(Wide(path_)), ignored);
}

struct Spool::File {
    Handle handle;
};

Spool::Spool(std::size_t memoryLimit) : memoryLimit_(memoryLimit) {}

Spool::~Spool() = default;

void Spool::Append(std::string_view bytes) {
    if (!file_ && memory_.size() + bytes.size() <= memoryLimit_) {
        memory_.append(bytes);
        return;
    }
    if (!file_) {
        folder_ = TemporaryFolder();
        auto file = std::make_unique<File>();
        for (int attempt = 0; attempt < 100 && !file->handle.valid(); ++attempt) {
            const std::string name = folder_ + "\\a5merge-spool-" + RandomSuffix(8);
            // Gone when closed, also when this process is killed.
            file->handle.reset(::CreateFileW(
                Wide(name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
            if (!file->handle.valid() && ::GetLastError() != ERROR_FILE_EXISTS) throw Error(folder_);
        }
        if (!file->handle.valid()) throw RuntimeError::FromSystem(folder_, EEXIST);
        file_ = std::move(file);
    }
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!::WriteFile(file_->handle.get(), bytes.data(), size, &written, nullptr) ||
            written == 0) {
            throw Error(folder_);
        }
        bytes.remove_prefix(written);
    }
}

void Spool::ForEach(const std::function<void(std::string_view)>& sink) const {
    if (!memory_.empty()) sink(memory_);
    if (!file_) return;
    char buf[64 * 1024];
    for (std::uint64_t at = 0;;) {
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(at);
        position.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        if (!::ReadFile(file_->handle.get(), buf, sizeof buf, &got, &position)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) return;
            throw Error(folder_);
        }
        if (got == 0) return;
        sink({buf, got});
        at += got;
    }
}

struct InputFile::Handle {
    windows::Handle file;
};

InputFile::InputFile(const std::string& path) : path_(path), handle_(std::make_unique<Handle>()) {
    if (HasNul(path)) throw RuntimeError::FromSystem(path, ENOENT);
    if (!windows::DeviceName(path).empty()) throw RuntimeError(path, "Not a regular file");
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        throw RuntimeError::FromSystem(path, EISDIR);
    }
    handle_->file.reset(::CreateFileW(Wide(path).c_str(), GENERIC_READ,
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
