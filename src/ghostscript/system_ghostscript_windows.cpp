// Ghostscript on Windows: Ghostscript for Windows as its installer registers
// it, or gswin64c.exe on the PATH; no sandbox program, but a job object, a
// private folder and Low integrity (platform/child_process_windows.cpp).

#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "ghostscript/ghostscript.h"
#include "ghostscript/system_ghostscript.h"
#include "platform/child_process.h"
#include "platform/file_system.h"
#include "platform/windows_support.h"

namespace a5merge {

using windows::Narrow;
using windows::Wide;

namespace {

std::optional<std::string> Environment(const wchar_t* name) {
    std::wstring value(32767, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(name, value.data(), 32767);
    if (length == 0 || length >= 32767) return std::nullopt;
    value.resize(length);
    return Narrow(value);
}

// "10.02.1" as numbers, for comparing versions.
std::vector<int> VersionParts(const std::string& version) {
    std::vector<int> parts;
    int part = 0;
    bool digits = false;
    for (const char c : version + ".") {
        if (c >= '0' && c <= '9') {
            part = part * 10 + (c - '0');
            digits = true;
        } else if (digits) {
            parts.push_back(part);
            part = 0;
            digits = false;
        }
    }
    return parts;
}

// The console programs beside the GS_DLL of each version of Ghostscript the
// installers registered, for the user and for the machine, in the 64- and
// the 32-bit views of the registry: the highest version's.
std::string RegisteredGhostscript() {
    std::optional<std::pair<std::vector<int>, std::string>> best;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            HKEY products = nullptr;
            if (::RegOpenKeyExW(root, L"Software\\GPL Ghostscript", 0, KEY_READ | view, &products) !=
                ERROR_SUCCESS) {
                continue;
            }
            wchar_t version[256];
            for (DWORD i = 0;; ++i) {
                DWORD length = 256;
                if (::RegEnumKeyExW(products, i, version, &length, nullptr, nullptr, nullptr,
                                    nullptr) != ERROR_SUCCESS) {
                    break;
                }
                wchar_t dll[MAX_PATH * 4] = {};
                DWORD bytes = sizeof dll - sizeof(wchar_t);
                if (::RegGetValueW(products, version, L"GS_DLL", RRF_RT_REG_SZ, nullptr, dll,
                                   &bytes) != ERROR_SUCCESS) {
                    continue;
                }
                const std::string library = Narrow(dll);
                const std::string folder = library.substr(0, library.find_last_of("\\/"));
                for (const char* program : {"\\gswin64c.exe", "\\gswin32c.exe"}) {
                    const std::string candidate = folder + program;
                    const std::vector<int> parts = VersionParts(Narrow(version));
                    if (IsRegularFile(candidate) && (!best || parts > best->first)) {
                        best = std::pair{parts, candidate};
                    }
                }
            }
            ::RegCloseKey(products);
        }
    }
    return best ? best->second : std::string();
}

}  // namespace

const char* const kGhostscriptMissing =
    "Ghostscript for Windows was not found: install it (64-bit, from "
    "https://ghostscript.com/releases/gsdnld.html), or set A5MERGE_GHOSTSCRIPT to its "
    "gswin64c.exe";

std::string FindGhostscript() {
    if (const std::optional<std::string> named = Environment(L"A5MERGE_GHOSTSCRIPT")) {
        return IsRegularFile(*named) ? *named : "";
    }
    if (std::string registered = RegisteredGhostscript(); !registered.empty()) return registered;
    for (const char* program : {"gswin64c.exe", "gswin32c.exe"}) {
        if (std::string found = FindProgram(program); !found.empty()) return found;
    }
    return {};
}

std::vector<std::string> GhostscriptEnvironment(const std::string& temporary) {
    return {"TEMP=" + temporary, "TMP=" + temporary,
            "SystemRoot=" + Environment(L"SystemRoot").value_or("C:\\Windows")};
}

std::string FolderTrouble(const std::string& folder) {
    // Room left in MAX_PATH for the names of Ghostscript's own temporary files.
    constexpr std::size_t kMost = 240;
    if (folder.size() <= kMost) return {};
    return "its temporary folder would be " + folder + ", " + std::to_string(folder.size()) +
           " characters long: too long for Ghostscript (at most " + std::to_string(kMost) +
           "); set TEMP to a shorter folder";
}

std::string SandboxProgram() { return {}; }

std::vector<std::string> SandboxedCommand(const std::string&,
                                          const std::vector<std::string>& command, std::uint64_t) {
    return command;
}

bool ReadSandboxEnding(ChildResult&) { return false; }

}  // namespace a5merge
