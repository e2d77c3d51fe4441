// Outputs put in place whole, on Windows: a new file of ours beside the
// target, deleted by the system should we end before it is complete, flushed,
// given a second name of ours that is written down in a private folder of
// the run (placement.h), then given the target's name: only while the name
// is free, or through ReplaceFileW, which keeps the target's access control
// list, attributes and streams and keeps the old file under a name of ours
// until the new one is in place. Steps that another program's brief hold
// refuses are tried again. Which target gets which is output_file.cpp's.

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/cleanup_windows.h"
#include "platform/file_system.h"
#include "platform/output_sink.h"
#include "platform/placement.h"
#include "platform/private_folder_system.h"
#include "platform/runtime_error.h"
#include "platform/windows_support.h"

namespace a5merge {

using windows::Error;
using windows::Handle;
using windows::Narrow;
using windows::RetryWhileHeld;
using windows::SystemPath;
using windows::Wide;

namespace {

constexpr const char* kAsideEnding = ".old";  // the old file's name of ours, after the new one's

void WriteAll(HANDLE file, std::string_view data, const std::string& path) {
    while (!data.empty()) {
        DWORD written = 0;
        const DWORD size = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
        if (!::WriteFile(file, data.data(), size, &written, nullptr)) throw Error(path);
        if (written == 0) throw RuntimeError::FromSystem(path, EIO);
        data.remove_prefix(written);
    }
}

// Copies all of `from`, from its start, to `to` where it stands.
void CopyAll(HANDLE from, HANDLE to, const std::string& fromName, const std::string& toName) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(from, start, nullptr, FILE_BEGIN)) throw Error(fromName);
    char buf[64 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(from, buf, sizeof buf, &got, nullptr)) throw Error(fromName);
        if (got == 0) return;
        WriteAll(to, {buf, got}, toName);
    }
}

// The final path of the file `path` names, links followed.
std::string FinalPath(const std::string& path) {
    const Handle file(::CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) throw Error(path);
    std::wstring buffer(32768, L'\0');
    const DWORD length =
        ::GetFinalPathNameByHandleW(file.get(), buffer.data(), 32768, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= 32768) throw Error(path);
    std::wstring final(buffer.data(), length);
    if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        final = L"\\\\" + final.substr(8);
    } else if (final.rfind(L"\\\\?\\", 0) == 0) {
        final = final.substr(4);
    }
    return Narrow(final);
}

// Whether another program holds `path` open without leaving room to delete
// or rename it, now.
bool HeldNow(const std::string& path) {
    const Handle probe(::CreateFileW(
        SystemPath(path).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (probe.valid()) return false;
    const DWORD code = ::GetLastError();
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

// Whether the last part of `path` holds a ':': a stream of a file
// ("sheet.PS:x"), not a file.
bool NamesAStream(const std::string& path) {
    std::string_view name = path;
    if (const std::size_t slash = name.find_last_of("\\/"); slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    } else if (name.size() >= 2 && name[1] == ':') {
        name.remove_prefix(2);  // "C:name", in the drive's current folder
    }
    return name.find(':') != std::string_view::npos;
}

struct FileOutput final : OutputSink {
    std::string path;       // as given, for messages
    std::string errorPath;  // named by a failed write
    bool cutsBack = false;  // standard output, written as it comes
    IfExists ifExists = IfExists::Replace;
    Handle owned;          // the new file, or the spool
    HANDLE out = nullptr;  // where the content goes now
    std::string writtenPath;

    // Aside: the target's folder, its full path there, the new file's, and
    // where the new file is written down while it may outlive the run.
    std::string folder;
    std::string target;
    std::string temporary;
    Placement placement;
    std::unique_ptr<PrivateFolder> record;

    // Spooled: the destination, unless it is standard output: the NUL device.
    bool toStandardOutput = false;
    std::string device;

    // AsItComes: where standard output is cut back to when dropped.
    LARGE_INTEGER cutBack{};
    bool wrote = false;

    // A new file or spool not put in place goes with our handle.
    void Drop() override {
        if (cutsBack && wrote && ::SetFilePointerEx(out, cutBack, nullptr, FILE_BEGIN)) {
            ::SetEndOfFile(out);
        }
    }

    // A new file in `in` under a temporary name of ours, open for reading
    // and writing, that no one else may write or delete while we hold it,
    // and that the system deletes when our handle closes, also when we are
    // killed at any moment, from its making on. Hidden, and not for the
    // indexer, until it takes its place. `where` names the folder in
    // messages.
    void MakeFile(const std::string& in, const std::string& where) {
        SettleLeftovers();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = in + "\\" + RandomTempName();
            owned.reset(::CreateFileW(SystemPath(candidate).c_str(),
                                      GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                      nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                          FILE_FLAG_DELETE_ON_CLOSE,
                                      nullptr));
            if (!owned.valid()) {
                if (::GetLastError() == ERROR_FILE_EXISTS) continue;
                throw Error(where);
            }
            temporary = candidate;
            out = owned.get();
            if (const std::optional<FileIdentity> id = windows::IdOf(owned.get())) {
                placement.freshId = *id;
            }
            return;
        }
        throw RuntimeError::FromSystem(where, EEXIST);
    }

    explicit FileOutput(const std::string& given) : path(given), errorPath(given) {}

    void OpenNewFile(const std::string& place, IfExists whenThere) override {
        ifExists = whenThere;
        const std::size_t slash = place.find_last_of("\\/");
        const std::string name = slash == std::string::npos ? place : place.substr(slash + 1);
        if (name.empty()) throw RuntimeError::FromSystem(path, ENOENT);
        folder = slash == std::string::npos ? "." : place.substr(0, slash);
        target = place;
        MakeFile(folder, path);
    }

    void WriteToStandardOutput(const StandardOutputPlace& place) override {
        cutsBack = true;
        cutBack.QuadPart = place.position;
        out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    }

    void OpenSpool(const OutputTarget* into) override {
        toStandardOutput = into == nullptr;
        if (into != nullptr) device = into->device;
        errorPath = TemporaryFolder();
        MakeFile(errorPath, errorPath);
    }

    // Writes down where the new file and the old one are while they may
    // outlive the run; without a private folder, nothing is written down
    // (then what a killed run leaves stays, unknown to the next).
    void Record() {
        try {
            if (!record) record = std::make_unique<PrivateFolder>();
            record->SetFile(kPlacementRecord, RecordText(placement));
        } catch (const RuntimeError&) {
            record.reset();
        }
    }

    // Moves the new file (closed) to the target's name: only while the name
    // is free, or (`replace`) whatever is there.
    void Move(bool replace) {
        const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
        if (!RetryWhileHeld([&] {
                return ::MoveFileExW(SystemPath(temporary).c_str(), SystemPath(target).c_str(),
                                     flags) != 0;
            })) {
            throw Failure(::GetLastError());
        }
    }

    // The failure `code`, naming the file another program holds when that
    // is what kept it back.
    RuntimeError Failure(DWORD code) const {
        if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) {
            return RuntimeError::FromSystem(path, EEXIST);
        }
        // The system's reason for a hold, when what it says is another one.
        const std::string held = windows::SystemReason(
            windows::HeldByAnother(code) && code != ERROR_ACCESS_DENIED ? code
                                                                        : ERROR_SHARING_VIOLATION);
        if (code != ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
            if (HeldNow(target) || (windows::HeldByAnother(code) && code != ERROR_ACCESS_DENIED &&
                                    !HeldNow(temporary))) {
                return RuntimeError(path, HeldByAnotherProgram(held), EBUSY);
            }
            if (HeldNow(temporary)) {
                return RuntimeError(path, HeldByAnotherProgram(held, temporary), EBUSY);
            }
        }
        return RuntimeError(path, NothingWritten(windows::SystemReason(code)),
                            windows::ErrnoOf(code));
    }

    // Puts the new file in place of the file that is there: ReplaceFileW
    // keeps the target's access control list, attributes and streams, and
    // moves the old file aside under our name first. Tried again while
    // another program holds one of them for a moment (the old one put back
    // first where it was left aside); false, with the failure's code, when it
    // did not take place.
    bool ReplaceTarget(DWORD& failure) {
        owned.reset();  // ReplaceFileW opens it without sharing
        const std::wstring replaced = SystemPath(target);
        const std::wstring replacement = SystemPath(temporary);
        const std::wstring aside = SystemPath(placement.aside);
        const std::vector<DWORD>& pauses = windows::RetryPauses();
        for (std::size_t attempt = 0;; ++attempt) {
            if (windows::Calls().replaceFile(replaced.c_str(), replacement.c_str(), aside.c_str(),
                                             0, nullptr, nullptr)) {
                return true;
            }
            failure = ::GetLastError();
            // After 1177 the old one is under our name, Microsoft's page
            // says; after any other answer both are under their own (not so
            // under wine). The old one is put back before another try.
            if (!NamesOfBothStand() &&
                !(!IdentityOf(target) && IdentityOf(placement.aside) == placement.oldId &&
                  MoveToFreeName(placement.aside, target) && NamesOfBothStand())) {
                return false;
            }
            // 1176 and 1177: the new one could not take the name, held.
            const bool held = windows::HeldByAnother(failure) ||
                              failure == ERROR_UNABLE_TO_MOVE_REPLACEMENT ||
                              failure == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 || HeldNow(target) ||
                              HeldNow(temporary);
            if (!held || attempt == pauses.size()) return false;
            ::Sleep(pauses[attempt]);
        }
    }

    // Whether the target and the new file are under their own names still.
    bool NamesOfBothStand() const {
        const std::optional<FileIdentity> now = IdentityOf(target);
        return now && now == placement.oldId && IdentityOf(temporary) == placement.freshId;
    }

    // Where the file system has no second link: a copy of the new file under
    // `name`, on the disk, written down under it.
    void CopyUnder(const std::string& name) {
        const Handle copy(::CreateFileW(
            SystemPath(name).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
            CREATE_NEW, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, nullptr));
        if (!copy.valid()) throw Error(path);
        const std::optional<FileIdentity> id = windows::IdOf(copy.get());
        if (id) placement.freshId = *id;
        Record();
        FILE_BASIC_INFO basic{};
        ::GetFileInformationByHandleEx(owned.get(), FileBasicInfo, &basic, sizeof basic);
        try {
            CopyAll(owned.get(), copy.get(), temporary, path);
            if (!::FlushFileBuffers(copy.get())) throw Error(path);
        } catch (...) {
            FILE_DISPOSITION_INFO gone{};
            gone.DeleteFile = TRUE;
            ::SetFileInformationByHandle(copy.get(), FileDispositionInfo, &gone, sizeof gone);
            throw;
        }
        basic.CreationTime = basic.LastAccessTime = basic.LastWriteTime = basic.ChangeTime = {};
        ::SetFileInformationByHandle(copy.get(), FileBasicInfo, &basic, sizeof basic);
    }

    // After a failure `error`: the files set right as the record's rule
    // says, and what the user is told.
    void SettleAfter(const RuntimeError& error) {
        owned.reset();
        const Settlement settled = Settle(placement);
        if (settled.leftovers && record) record->LeaveForTheNextRun();
        if (settled.how == Settled::Placed) {
            writtenPath = path;
            return;  // in place after all
        }
        if (settled.how != Settled::Stranded && !settled.oldAside) throw error;
        // What is left is the user's from now on: named here, never swept.
        if (record) record->SetFile(kPlacementRecord, {});
        const bool freshThere = IdentityOf(temporary) == placement.freshId;
        throw RuntimeError(path,
                           LeftAfterFailedReplacement(error.reason(),
                                                      settled.how == Settled::Stranded,
                                                      settled.oldAside ? placement.aside : "",
                                                      freshThere ? temporary : ""),
                           error.systemError());
    }

    void PutInPlace() override {
        std::lock_guard placing(windows::PlacingLock());
        if (!RetryWhileHeld([&] { return ::FlushFileBuffers(owned.get()) != 0; }))
            throw Error(path);
        const DWORD attributes = ::GetFileAttributesW(SystemPath(target).c_str());
        const bool replaces =
            ifExists == IfExists::Replace && attributes != INVALID_FILE_ATTRIBUTES;
        if (replaces && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            throw RuntimeError(path, kReadOnly, EACCES);
        }
        // The attributes it will have, set before its name is: the ones a
        // user sets on the file replaced go with the new one (not every
        // ReplaceFileW carries them), a new name gets none of ours.
        FILE_BASIC_INFO basic{};
        basic.FileAttributes =
            replaces ? attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
                     : 0;
        if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        ::SetFileInformationByHandle(owned.get(), FileBasicInfo, &basic, sizeof basic);

        // It is put in place under a second name of ours, a second link to
        // it, written down first; the name it was made under goes with our
        // handle, as it would had we been killed.
        const std::string fresh = folder + "\\" + RandomTempName();
        placement.target = target;
        placement.fresh = fresh;
        placement.whole = true;
        if (replaces) {
            placement.aside = fresh + kAsideEnding;
            if (const std::optional<FileIdentity> old = IdentityOf(target)) placement.oldId = old;
        }
        Record();
        if (!::CreateHardLinkW(SystemPath(fresh).c_str(), SystemPath(temporary).c_str(), nullptr)) {
            CopyUnder(fresh);  // no second link on this file system (FAT, say)
        }
        owned.reset();
        temporary = fresh;
        try {
            if (ifExists == IfExists::Fail) {
                Move(false);
            } else if (!replaces) {
                Move(true);
            } else if (DWORD failure = 0; !ReplaceTarget(failure)) {
                throw Failure(failure);
            }
        } catch (const RuntimeError& error) {
            SettleAfter(error);
            return;
        }
        owned.reset();
        // The old file aside goes; one another program holds for good is
        // left to the next run.
        if (Settle(placement).leftovers && record) record->LeaveForTheNextRun();
        writtenPath = path;
    }

    void Write(std::string_view bytes) override {
        wrote = wrote || !bytes.empty();
        WriteAll(out, bytes, errorPath);
    }

    const std::string& WrittenPath() const override { return writtenPath; }

    void Deliver() override {
        if (toStandardOutput) {
            CopyAll(owned.get(), ::GetStdHandle(STD_OUTPUT_HANDLE), errorPath, path);
        } else {
            const Handle sink(::CreateFileW(Wide(device).c_str(), GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
            if (!sink.valid()) throw Error(path);
            CopyAll(owned.get(), sink.get(), errorPath, path);
        }
        writtenPath = toStandardOutput ? path : device;
    }
};

}  // namespace

OutputTarget ExamineOutputTarget(const std::string& path) {
    using Is = OutputTarget::Is;
    if (std::string device = windows::DeviceName(path); !device.empty()) {
        return {Is::DeviceName, {}, std::move(device)};
    }
    if (windows::IsDevicePath(path)) return {Is::DevicePath};
    if (NamesAStream(path)) return {Is::Stream};
    const DWORD attributes = ::GetFileAttributesW(SystemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = ::GetLastError();
        if (code != ERROR_FILE_NOT_FOUND) throw Error(path, code);
        return {Is::Nothing};
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {Is::Folder};
    return {Is::File, (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? FinalPath(path) : path};
}

StandardOutputPlace ExamineStandardOutput(const std::string& name) {
    const HANDLE standard = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (standard == nullptr || standard == INVALID_HANDLE_VALUE) {
        throw RuntimeError::FromSystem(name, EBADF);
    }
    LARGE_INTEGER at{}, size{};
    const LARGE_INTEGER none{};
    const bool atItsEnd = ::GetFileType(standard) == FILE_TYPE_DISK &&
                          ::SetFilePointerEx(standard, none, &at, FILE_CURRENT) &&
                          ::GetFileSizeEx(standard, &size) && at.QuadPart >= size.QuadPart;
    return {atItsEnd, at.QuadPart};
}

std::unique_ptr<OutputSink> NewOutputSink(const std::string& path) {
    return std::make_unique<FileOutput>(path);
}

}  // namespace a5merge
