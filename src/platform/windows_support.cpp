#include "platform/windows_support.h"

#include <cerrno>
#include <cctype>

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
    const std::size_t slash = path.find_last_of("\\/:");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    name = name.substr(0, name.find('.'));
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    std::string upper;
    for (const char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return upper;
    if (upper.size() == 4 && (upper.rfind("COM", 0) == 0 || upper.rfind("LPT", 0) == 0) &&
        upper[3] >= '1' && upper[3] <= '9') {
        return upper;
    }
    return {};
}

}  // namespace a5merge::windows
