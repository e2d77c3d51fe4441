#include "platform/windows_support.h"

#include <sddl.h>

#include <cerrno>
#include <cctype>
#include <cwctype>
#include <mutex>

namespace a5merge::windows {

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                           nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}

std::string Narrow(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size,
                          nullptr, nullptr);
    return utf8;
}

namespace {

bool IsDriveAbsolute(std::wstring_view path) {
    return path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' &&
           (path[2] == L'\\' || path[2] == L'/');
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// An absolute drive or UNC path made full as the system makes it before it
// opens one: separators as backslashes, "." and ".." taken out, a dot that
// ends a part dropped, and the spaces and dots that end the last part. What
// is not such a path: nothing.
std::optional<std::wstring> Normalized(std::wstring_view path) {
    const bool unc = path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
                     path[2] != L'?' && path[2] != L'.';
    if (!unc && !IsDriveAbsolute(path)) return std::nullopt;
    const std::size_t fixedParts = unc ? 2 : 0;  // a UNC path's server and share stay
    std::vector<std::wstring> parts;
    for (std::size_t at = unc ? 2 : 3; at <= path.size();) {
        std::size_t end = at;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        std::wstring part(path.substr(at, end - at));
        at = end + 1;
        if (part.empty() || part == L".") continue;
        if (part == L"..") {
            if (parts.size() > fixedParts) parts.pop_back();
            continue;
        }
        if (part.size() > 1 && part.back() == L'.' && part[part.size() - 2] != L'.') part.pop_back();
        parts.push_back(std::move(part));
    }
    if (parts.size() < fixedParts) return std::nullopt;
    if (!IsSeparator(path.back()) && parts.size() > fixedParts) {
        std::wstring& last = parts.back();
        while (!last.empty() && (last.back() == L'.' || last.back() == L' ')) last.pop_back();
        if (last.empty()) parts.pop_back();
    }
    std::wstring full = unc ? L"\\" : std::wstring(path.substr(0, 2));
    for (const std::wstring& part : parts) full += L"\\" + part;
    if (parts.empty()) full += L'\\';
    return full;
}

}  // namespace

std::wstring SystemPath(std::string_view path) {
    std::wstring wide = Wide(path);
    // CreateDirectoryW's limit, the shortest of them.
    constexpr std::size_t kShort = MAX_PATH - 12;
    if (wide.size() < kShort || wide.starts_with(L"\\\\?\\") ||
        wide.starts_with(L"\\\\.\\") || wide.starts_with(L"\\??\\")) {
        return wide;
    }
    std::optional<std::wstring> full = Normalized(wide);
    if (!full) {
        // A relative name: the system makes it full (its own limit is far longer).
        const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
        if (size == 0) return wide;
        std::wstring made(size, L'\0');
        const DWORD length = ::GetFullPathNameW(wide.c_str(), size, made.data(), nullptr);
        if (length == 0 || length >= size) return wide;
        made.resize(length);
        full = Normalized(made);
        if (!full) return made;
    }
    if (full->starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full->substr(2);
    return L"\\\\?\\" + *full;
}

std::string SystemReason(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason = length > 0 ? Narrow(std::wstring_view(text, length)) : std::string();
    if (text != nullptr) ::LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.')) {
        reason.pop_back();
    }
    if (reason.empty()) reason = "Windows error " + std::to_string(code);
    return reason;
}

int ErrnoOf(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return ENOENT;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_ACCESS_DENIED:
        case ERROR_PRIVILEGE_NOT_HELD:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
            return EBUSY;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
        case ERROR_NOT_ENOUGH_QUOTA:
            return ENOMEM;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_PARAMETER:
            return EINVAL;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        case ERROR_OPERATION_ABORTED:
        case ERROR_CANCELLED:
            return ECANCELED;
        default:
            return EIO;
    }
}

RuntimeError Error(const std::string& path, DWORD code) {
    return RuntimeError(path, SystemReason(code), ErrnoOf(code));
}

// A command line that CommandLineToArgvW and the C run-time read back as
// `argv`.
std::wstring CommandLine(const std::vector<std::string>& argv) {
    std::wstring line;
    for (const std::string& arg : argv) {
        if (!line.empty()) line += L' ';
        const std::wstring wide = Wide(arg);
        if (!wide.empty() && wide.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
            line += wide;
            continue;
        }
        line += L'"';
        for (std::size_t i = 0;; ++i) {
            std::size_t backslashes = 0;
            while (i < wide.size() && wide[i] == L'\\') {
                ++i;
                ++backslashes;
            }
            if (i == wide.size()) {
                line.append(backslashes * 2, L'\\');
                break;
            }
            if (wide[i] == L'"') {
                line.append(backslashes * 2 + 1, L'\\');
            } else {
                line.append(backslashes, L'\\');
            }
            line += wide[i];
        }
        line += L'"';
    }
    return line;
}

std::string DeviceName(std::string_view path) {
    const std::size_t slash = path.find_last_of("\\/");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    // "C:NUL" is the device too; so is "NUL:stream".
    if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]))) {
        name.remove_prefix(2);
    }
    name = name.substr(0, name.find_first_of(".:"));
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    std::string upper;
    for (const char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* reserved : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (upper == reserved) return upper;
    }
    const std::string_view base = std::string_view(upper).substr(0, 3);
    if (upper.size() < 4 || (base != "COM" && base != "LPT")) return {};
    const std::string_view number = std::string_view(upper).substr(3);
    // 0 to 9, and the superscript digits one to three (UTF-8 C2 B9, C2 B2, C2 B3).
    const bool digit = number.size() == 1 && number[0] >= '0' && number[0] <= '9';
    const bool superscript = number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
    return digit || superscript ? upper : std::string();
}

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view start) {
    if (text.size() < start.size()) return false;
    for (std::size_t i = 0; i < start.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) !=
            std::toupper(static_cast<unsigned char>(start[i]))) {
            return false;
        }
    }
    return true;
}

bool IsDrivePath(std::string_view path) {
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

// "\\server\share": a server's name and a share's, neither "." nor "?".
bool IsUncPath(std::string_view path) {
    if (path.size() < 5 || path[0] != '\\' || path[1] != '\\') return false;
    const std::string_view rest = path.substr(2);
    const std::size_t slash = rest.find('\\');
    if (slash == 0 || slash == std::string_view::npos || slash + 1 >= rest.size()) return false;
    const std::string_view server = rest.substr(0, slash);
    return server != "." && server != "?" && rest[slash + 1] != '\\';
}

}  // namespace

bool IsFileNamespacePath(std::string_view path) {
    if (path.starts_with("\\\\?\\")) {
        const std::string_view rest = path.substr(4);
        if (StartsWithNoCase(rest, "UNC\\")) return IsUncPath("\\\\" + std::string(rest.substr(4)));
        return IsDrivePath(rest) && rest[2] == '\\';
    }
    return IsDrivePath(path) || IsUncPath(path);
}

bool IsDevicePath(std::string_view path) {
    if (path.starts_with("\\\\.\\") || path.starts_with("\\\\?\\") || path.starts_with("\\??\\") ||
        path.starts_with("//./") || path.starts_with("//?/")) {
        return !(path.starts_with("\\\\?\\") && IsFileNamespacePath(path));
    }
    return !DeviceName(path).empty();
}

bool IsOnTheNetwork(std::string_view path) {
    if (path.starts_with("\\\\?\\")) {
        path.remove_prefix(4);
        if (StartsWithNoCase(path, "UNC\\")) return true;
    }
    if (IsUncPath(path) || (path.size() > 2 && path[0] == '/' && path[1] == '/')) return true;
    if (!IsDrivePath(path)) return false;
    const wchar_t root[] = {static_cast<wchar_t>(path[0]), L':', L'\\', L'\0'};
    return ::GetDriveTypeW(root) == DRIVE_REMOTE;
}

std::optional<FileIdentity> IdOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

std::optional<std::wstring> UserSid(HANDLE token) {
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<char> buffer(size);
    wchar_t* text = nullptr;
    if (size == 0 || !::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) ||
        !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        return std::nullopt;
    }
    std::wstring sid = text;
    ::LocalFree(text);
    return sid;
}

std::optional<FileIdentity> IdOf(const std::string& path) {
    const Handle file(::CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
    if (!file.valid()) return std::nullopt;
    return IdOf(file.get());
}

bool HeldByAnother(DWORD code) {
    switch (code) {
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
        case ERROR_UNABLE_TO_REMOVE_REPLACED:
        // What a file whose deletion is pending, or that a scanner opened
        // without leaving room to delete it, answers to a rename or delete.
        case ERROR_ACCESS_DENIED:
        case ERROR_DELETE_PENDING:
            return true;
        default:
            return false;
    }
}

const std::vector<DWORD>& RetryPauses() {
    static const std::vector<DWORD> pauses = {10, 20, 40, 80, 160, 320, 370};
    return pauses;
}

bool RetryWhileHeld(const std::function<bool()>& step) {
    const std::vector<DWORD>& pauses = RetryPauses();
    for (std::size_t attempt = 0;; ++attempt) {
        if (step()) return true;
        const DWORD code = ::GetLastError();
        if (!HeldByAnother(code) || attempt == pauses.size()) {
            ::SetLastError(code);
            return false;
        }
        ::Sleep(pauses[attempt]);
    }
}

namespace {

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// Where the system has what `handle` is open on: its volume, then its path
// there (FileNameInfo, which has no length limit); empty when not told.
std::wstring FinalName(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    std::vector<char> buffer(sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t));
    auto* name = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    if (!::GetFileInformationByHandle(handle, &info) ||
        !::GetFileInformationByHandleEx(handle, FileNameInfo, name,
                                        static_cast<DWORD>(buffer.size()))) {
        return {};
    }
    return std::to_wstring(info.dwVolumeSerialNumber) + L":" +
           std::wstring(name->FileName, name->FileNameLength / sizeof(wchar_t));
}

// Whether `inner` is a name directly inside the folder `folder` (both as
// FinalName gives them).
bool DirectlyIn(const std::wstring& inner, std::wstring_view folder) {
    if (!folder.empty() && folder.back() == L'\\') folder.remove_suffix(1);  // a drive's root
    const std::size_t cut = inner.find_last_of(L'\\');
    return !folder.empty() && cut != std::wstring::npos && cut == folder.size() &&
           ::CompareStringOrdinal(inner.c_str(), static_cast<int>(cut), folder.data(),
                                  static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL;
}

Handle OpenItself(const std::wstring& path, DWORD access) {
    return Handle(::CreateFileW(path.c_str(), access,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool EmptyFolder(const std::wstring& path, int depth);

// Removes the entry `path` of the folder whose final name is `folder`: the
// entry itself, a link as a link, and only when the system says it is
// there (a link that is followed, not seen, is left).
bool RemoveEntry(const std::wstring& path, const std::wstring& folder, int depth) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    {
        const Handle look = OpenItself(path, FILE_READ_ATTRIBUTES);
        if (!look.valid()) {
            const DWORD code = ::GetLastError();
            return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
        }
        if (!DirectlyIn(FinalName(look.get()), folder) ||
            !::GetFileInformationByHandleEx(look.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
            return false;
        }
    }
    const bool folderItself = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                              !IsLink(tag.FileAttributes);
    if (folderItself && (depth <= 0 || !EmptyFolder(path, depth - 1))) return false;
    return RetryWhileHeld([&] {
        const Handle item = OpenItself(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
        if (!item.valid()) return false;
        // The same entry still: what was looked at is what goes.
        FILE_ATTRIBUTE_TAG_INFO now{};
        if (!DirectlyIn(FinalName(item.get()), folder) ||
            !::GetFileInformationByHandleEx(item.get(), FileAttributeTagInfo, &now, sizeof now) ||
            now.FileAttributes != tag.FileAttributes) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        if ((now.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
            FILE_BASIC_INFO basic{};
            basic.FileAttributes = now.FileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
            if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            ::SetFileInformationByHandle(item.get(), FileBasicInfo, &basic, sizeof basic);
        }
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        return ::SetFileInformationByHandle(item.get(), FileDispositionInfo, &disposition,
                                            sizeof disposition) != 0;
    });
}

// Empties the folder `path`, open as `held` (which keeps anyone from
// renaming it or putting something else under its name); false when
// something is left.
bool EmptyHeldFolder(const std::wstring& path, HANDLE held, int depth) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(held, FileAttributeTagInfo, &tag, sizeof tag) ||
        IsLink(tag.FileAttributes) || (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return false;
    }
    const std::wstring folder = FinalName(held);
    if (folder.empty()) return false;
    bool emptied = false;
    // Entries removed while the folder is listed may be passed over: listed
    // again while a pass removes something.
    // Listed through the handle itself (a listing by name would have to
    // share what `held` keeps from others).
    std::vector<char> buffer(64 * 1024);
    for (int pass = 0; pass < 4 && !emptied; ++pass) {
        bool removed = false, left = false;
        for (FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;;
             kind = FileFullDirectoryInfo) {
            if (!::GetFileInformationByHandleEx(held, kind, buffer.data(),
                                                static_cast<DWORD>(buffer.size()))) {
                if (::GetLastError() != ERROR_NO_MORE_FILES) left = true;
                break;
            }
            for (std::size_t at = 0;;) {
                const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(buffer.data() + at);
                const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
                if (name != L"." && name != L"..") {
                    if (RemoveEntry(path + L"\\" + name, folder, depth)) {
                        removed = true;
                    } else {
                        left = true;
                    }
                }
                if (entry->NextEntryOffset == 0) break;
                at += entry->NextEntryOffset;
            }
        }
        emptied = !left;
        if (!removed) break;
    }
    return emptied;
}

bool EmptyFolder(const std::wstring& path, int depth) {
    const Handle held(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
    return held.valid() && EmptyHeldFolder(path, held.get(), depth);
}

}  // namespace

bool RemoveTree(const std::string& path, int depth) {
    const std::wstring wide = SystemPath(path);
    const std::size_t cut = wide.find_last_of(L'\\');
    if (cut == std::wstring::npos) return false;
    // The folder it is in, by its final name, for RemoveEntry's check.
    const Handle parent = OpenItself(wide.substr(0, cut == 2 ? 3 : cut), FILE_READ_ATTRIBUTES);
    if (!parent.valid()) {
        const DWORD code = ::GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    }
    return RemoveEntry(wide, FinalName(parent.get()), depth);
}

bool RemoveHeldFolder(const std::string& path, HANDLE held, int depth) {
    if (!EmptyHeldFolder(SystemPath(path), held, depth)) return false;
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return RetryWhileHeld([&] {
        return ::SetFileInformationByHandle(held, FileDispositionInfo, &disposition,
                                            sizeof disposition) != 0;
    });
}

SystemCalls& Calls() {
    static SystemCalls calls;
    return calls;
}

}  // namespace a5merge::windows
