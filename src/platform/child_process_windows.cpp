// Child processes on Windows: each in a job object of its own (killed with
// the job, one process only, memory and processor-time limits), created in
// it (PROC_THREAD_ATTRIBUTE_JOB_LIST) so that it never runs outside, and no
// end of ours leaves it behind, at Low integrity where the system allows; a
// thread per captured pipe; the clock, the folder and the output file
// watched here.

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cwctype>
#include <mutex>
#include <optional>

#include "platform/child_process.h"
#include "platform/child_watch.h"
#include "platform/windows_support.h"

namespace a5merge {

using windows::CommandLine;
using windows::Handle;
using windows::Narrow;
using windows::SystemReason;
using windows::Wide;

namespace {

// The environment block: NAME=VALUE strings, sorted as the system sorts them.
std::wstring EnvironmentBlock(const std::vector<std::string>& environment) {
    std::vector<std::wstring> entries;
    for (const std::string& entry : environment) entries.push_back(Wide(entry));
    std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
        return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    std::wstring block;
    for (const std::wstring& entry : entries) {
        block += entry;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

// What a pipe brings, read on a thread of its own; at most `limit` bytes
// kept, `over` once more came.
struct PipeReader {
    Handle pipe;
    std::string bytes;
    std::size_t limit = 0;
    std::atomic<bool> over{false};
    Handle thread;

    void Start() { thread.reset(::CreateThread(nullptr, 0, &PipeReader::Read, this, 0, nullptr)); }
    // Waits for the end of the pipe, or (when a process outside the job
    // holds it open) stops reading after `ms`.
    void Finish(DWORD ms = INFINITE) {
        if (!thread.valid()) return;
        if (::WaitForSingleObject(thread.get(), ms) == WAIT_TIMEOUT) {
            ::CancelSynchronousIo(thread.get());
            ::WaitForSingleObject(thread.get(), INFINITE);
        }
        thread.reset();
    }
    ~PipeReader() { Finish(); }

private:
    static DWORD WINAPI Read(void* self) {
        auto& reader = *static_cast<PipeReader*>(self);
        char buf[64 * 1024];
        for (;;) {
            DWORD got = 0;
            if (!::ReadFile(reader.pipe.get(), buf, sizeof buf, &got, nullptr) || got == 0)
                return 0;
            const std::size_t room =
                reader.bytes.size() < reader.limit ? reader.limit - reader.bytes.size() : 0;
            reader.bytes.append(buf, std::min<std::size_t>(room, got));
            if (got > room) reader.over = true;
        }
    }
};

// A token of this user at Low integrity, with `folder` labelled so that such
// a process may write there; nothing where the system does not allow it.
std::optional<Handle> LowIntegrity(const std::string& folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"S:(ML;OICI;NW;;;LW)", SDDL_REVISION_1, &descriptor, nullptr)) {
        return std::nullopt;
    }
    PACL sacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    const bool labelled =
        ::GetSecurityDescriptorSacl(descriptor, &present, &sacl, &defaulted) && present &&
        ::SetNamedSecurityInfoW(Wide(folder).data(), SE_FILE_OBJECT, LABEL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, sacl) == ERROR_SUCCESS;
    ::LocalFree(descriptor);
    if (!labelled) return std::nullopt;

    HANDLE own = nullptr, duplicate = nullptr;
    if (!::OpenProcessToken(
            ::GetCurrentProcess(),
            TOKEN_DUPLICATE | TOKEN_ADJUST_DEFAULT | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, &own)) {
        return std::nullopt;
    }
    const Handle ownToken(own);
    if (!::DuplicateTokenEx(own, 0, nullptr, SecurityImpersonation, TokenPrimary, &duplicate)) {
        return std::nullopt;
    }
    Handle low(duplicate);
    PSID sid = nullptr;
    if (!::ConvertStringSidToSidW(L"S-1-16-4096", &sid)) return std::nullopt;
    TOKEN_MANDATORY_LABEL label{};
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    label.Label.Sid = sid;
    const bool set = ::SetTokenInformation(low.get(), TokenIntegrityLevel, &label,
                                           sizeof label + ::GetLengthSid(sid)) != 0;
    ::LocalFree(sid);
    if (!set) return std::nullopt;
    return low;
}

// Handles are made inheritable only while one child is created, so that no
// other child made meanwhile gets them.
std::mutex creating;

}  // namespace

std::uint64_t FolderBytes(const std::string& folder) {
    WIN32_FIND_DATAW entry{};
    const windows::FindHandle found(::FindFirstFileExW(
        Wide(folder + "\\*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
    if (!found.valid()) return 0;
    std::uint64_t bytes = 0;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        bytes += ((std::uint64_t{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow) + 4096;
    } while (::FindNextFileW(found.get(), &entry));
    return bytes;
}

std::string SignalName(int status) { return "code " + std::to_string(status); }

ChildResult RunChild(const ChildRequest& request, const std::atomic<bool>* cancel) {
    ChildResult result;
    if (request.argv.empty()) {
        result.startFailure = SystemReason(ERROR_INVALID_PARAMETER);
        return result;
    }
    const auto badFile = [&result](const std::string& path, const std::string& reason) {
        result.ending = ChildResult::Ending::BadFile;
        result.startFailure = path + ": " + reason;
        return result;
    };
    const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    Handle input, output;
    if (!request.inputFile.empty()) {
        if (!windows::DeviceName(request.inputFile).empty()) {
            return badFile(request.inputFile, "Not a regular file");
        }
        input.reset(::CreateFileW(Wide(request.inputFile).c_str(), GENERIC_READ, shareAll, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!input.valid()) return badFile(request.inputFile, SystemReason(::GetLastError()));
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileType(input.get()) != FILE_TYPE_DISK ||
            !::GetFileInformationByHandle(input.get(), &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return badFile(request.inputFile, "Not a regular file");
        }
    } else {
        input.reset(
            ::CreateFileW(L"NUL", GENERIC_READ, shareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    if (!request.outputFile.empty()) {
        output.reset(::CreateFileW(Wide(request.outputFile).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                   nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!output.valid()) return badFile(request.outputFile, SystemReason(::GetLastError()));
    }

    PipeReader errors, captured;
    errors.limit = request.errorLimit;
    captured.limit = request.outputLimit;
    Handle errorsWrite, capturedWrite;
    const bool capture = !output.valid();
    {
        HANDLE read = nullptr, write = nullptr;
        if (!::CreatePipe(&read, &write, nullptr, 0)) {
            result.startFailure = SystemReason(::GetLastError());
            return result;
        }
        errors.pipe.reset(read);
        errorsWrite.reset(write);
        if (capture) {
            if (!::CreatePipe(&read, &write, nullptr, 0)) {
                result.startFailure = SystemReason(::GetLastError());
                return result;
            }
            captured.pipe.reset(read);
            capturedWrite.reset(write);
        }
    }
    const HANDLE standardOutput = capture ? capturedWrite.get() : output.get();

    // The job: killed when closed (also when we end), one process only, the
    // limits of the request.
    Handle job(::CreateJobObjectW(nullptr, nullptr));
    if (job.get() == nullptr) job.reset();
    if (job.valid()) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
                                                  JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION |
                                                  JOB_OBJECT_LIMIT_ACTIVE_PROCESS;
        limits.BasicLimitInformation.ActiveProcessLimit = 1;
        if (request.limits.addressSpaceBytes > 0) {
            limits.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_MEMORY;
            limits.ProcessMemoryLimit = static_cast<SIZE_T>(request.limits.addressSpaceBytes);
        }
        if (request.limits.cpuSeconds > 0) {
            limits.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_JOB_TIME;
            limits.BasicLimitInformation.PerJobUserTimeLimit.QuadPart =
                static_cast<LONGLONG>(request.limits.cpuSeconds) * 10'000'000;
        }
        ::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                  sizeof limits);
    }

    std::optional<Handle> low;
    if (!request.folder.empty()) low = LowIntegrity(request.folder);

    std::wstring commandLine = CommandLine(request.argv);
    std::wstring environment = EnvironmentBlock(request.environment);
    const std::wstring program = Wide(request.argv.front());
    const std::wstring folder = Wide(request.folder);
    PROCESS_INFORMATION process{};
    bool createdInJob = false;
    {
        std::lock_guard lock(creating);
        HANDLE inherited[] = {input.get(), standardOutput, errorsWrite.get()};
        for (HANDLE handle : inherited) {
            ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        }
        STARTUPINFOEXW startup{};
        startup.StartupInfo.cb = sizeof startup;
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = input.get();
        startup.StartupInfo.hStdOutput = standardOutput;
        startup.StartupInfo.hStdError = errorsWrite.get();
        // Only these three are inherited, and it is made in its job: both
        // where the system can say so (the job from Windows 10 on).
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 2, 0, &size);
        std::vector<char> attributes(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
        // No console at all (not even a hidden one, as CREATE_NO_WINDOW gives):
        // the child writes to the handles above, and no console host is left
        // to outlive a child killed early.
        DWORD flags = DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT;
        HANDLE jobs[] = {job.get()};
        bool madeInJob = false;
        if (size > 0 && ::InitializeProcThreadAttributeList(list, 2, 0, &size) &&
            ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                        sizeof inherited, nullptr, nullptr)) {
            startup.lpAttributeList = list;
            flags |= EXTENDED_STARTUPINFO_PRESENT;
            madeInJob =
                job.valid() && ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_JOB_LIST,
                                                           jobs, sizeof jobs, nullptr, nullptr);
        }
        // Where it cannot be made in its job, it is put there before its
        // first instruction: made suspended, then let run.
        if (!madeInJob) flags |= CREATE_SUSPENDED;
        createdInJob = madeInJob;
        const auto start = [&](HANDLE token) {
            return token != nullptr
                       ? ::CreateProcessAsUserW(token, program.c_str(), commandLine.data(), nullptr,
                                                nullptr, TRUE, flags, environment.data(),
                                                folder.empty() ? nullptr : folder.c_str(),
                                                &startup.StartupInfo, &process)
                       : ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                                          TRUE, flags, environment.data(),
                                          folder.empty() ? nullptr : folder.c_str(),
                                          &startup.StartupInfo, &process);
        };
        bool started = low && start(low->get());
        if (!started) started = start(nullptr);  // Low integrity is not to be had here
        const DWORD failure = started ? 0 : ::GetLastError();
        if (startup.lpAttributeList != nullptr) ::DeleteProcThreadAttributeList(list);
        for (HANDLE handle : inherited) ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
        if (!started) {
            result.startFailure = SystemReason(failure);
            return result;
        }
    }
    const Handle processHandle(process.hProcess);
    const Handle thread(process.hThread);
    const bool inJob = createdInJob || (job.valid() && windows::Calls().assignProcessToJob(
                                                           job.get(), process.hProcess));
    if (!createdInJob) ::ResumeThread(process.hThread);
    errorsWrite.reset();
    capturedWrite.reset();
    errors.Start();
    if (capture) captured.Start();

    const auto kill = [&] {
        if (inJob) {
            ::TerminateJobObject(job.get(), 1);
        } else {
            ::TerminateProcess(process.hProcess, 1);
        }
    };
    ChildWatch watch(request, cancel);
    while (::WaitForSingleObject(process.hProcess, static_cast<DWORD>(watch.Tick().count())) ==
           WAIT_TIMEOUT) {
        std::optional<std::uint64_t> outputBytes;
        if (LARGE_INTEGER size{}; output.valid() && ::GetFileSizeEx(output.get(), &size)) {
            outputBytes = static_cast<std::uint64_t>(size.QuadPart);
        }
        if (watch.Check(captured.over, outputBytes)) {
            kill();
            ::WaitForSingleObject(process.hProcess, INFINITE);
            break;
        }
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    // What is left in the pipes is read; a process the job could not hold
    // that keeps them open is not waited for.
    errors.Finish(inJob ? INFINITE : 1000);
    captured.Finish(inJob ? INFINITE : 1000);
    result.errors = std::move(errors.bytes);
    result.output = std::move(captured.bytes);

    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION used{};
    const bool cpuSpent =
        inJob && request.limits.cpuSeconds > 0 &&
        ::QueryInformationJobObject(job.get(), JobObjectBasicAccountingInformation, &used,
                                    sizeof used, nullptr) &&
        used.TotalUserTime.QuadPart >=
            static_cast<LONGLONG>(request.limits.cpuSeconds) * 10'000'000;
    watch.End(result, cpuSpent ? ChildResult::Ending::CpuLimit : ChildResult::Ending::Exited,
              cpuSpent ? 0 : static_cast<int>(code), captured.over);
    return result;
}

}  // namespace a5merge
