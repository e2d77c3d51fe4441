// Runs a program on Windows (under wine in the tests), its output in files.

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwchar>

#include "platform/windows_support.h"
#include "support/run_process.h"
#include "support/temp_folder.h"

namespace a5merge::testing {

namespace {

// This process's environment with `name` set to `value`, as a block.
std::wstring EnvironmentWith(const std::string& name, const std::string& value) {
    const std::wstring set = windows::Wide(name) + L"=";
    std::wstring block;
    wchar_t* all = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = all; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        if (::CompareStringOrdinal(entry, static_cast<int>(set.size()), set.c_str(),
                                   static_cast<int>(set.size()), TRUE) == CSTR_EQUAL) {
            continue;
        }
        block.append(entry).push_back(L'\0');
    }
    ::FreeEnvironmentStringsW(all);
    block.append(set + windows::Wide(value)).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

ProcessResult Run(const std::vector<std::string>& argv, const std::string& cwd,
                  wchar_t* environment) {
    TempFolder capture;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const auto open = [&](const std::string& name) {
        return ::CreateFileW(windows::Wide(capture.Path(name)).c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    };
    windows::Handle out(open("out")), err(open("err"));
    windows::Handle in(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inherit, OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.get();
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
    std::wstring line = windows::CommandLine(argv);
    const std::wstring folder = windows::Wide(cwd);
    PROCESS_INFORMATION process{};
    ProcessResult result;
    if (!::CreateProcessW(windows::Wide(argv.front()).c_str(), line.data(), nullptr, nullptr, TRUE,
                          CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, environment,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
        result.err = "cannot run " + argv.front() + ": " + windows::SystemReason(::GetLastError());
        return result;
    }
    ::CloseHandle(process.hThread);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    PROCESS_MEMORY_COUNTERS memory{};
    if (::GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory)) {
        result.maxRssKiB = static_cast<long>(memory.PeakWorkingSetSize / 1024);
    }
    ::CloseHandle(process.hProcess);
    out.reset();
    err.reset();
    result.status = static_cast<int>(code);
    result.out = ReadBytes(capture.Path("out"));
    result.err = ReadBytes(capture.Path("err"));
    return result;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& cwd) {
    return Run(argv, cwd, nullptr);
}

ProcessResult RunProcessWith(const std::vector<std::string>& argv, const std::string& cwd,
                             const std::string& name, const std::string& value) {
    std::wstring environment = EnvironmentWith(name, value);
    return Run(argv, cwd, environment.data());
}

int RunningProcesses(const wchar_t* exe, const std::vector<unsigned long>& parents) {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    int running = 0;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
         more = ::Process32NextW(snapshot, &entry)) {
        running += _wcsicmp(entry.szExeFile, exe) == 0 &&
                   (parents.empty() || std::find(parents.begin(), parents.end(),
                                                 entry.th32ParentProcessID) != parents.end());
    }
    ::CloseHandle(snapshot);
    return running;
}

}  // namespace a5merge::testing
