// Outputs put in place whole, on Windows: a new file of ours beside the
// target, deleted by the system should we end before it is complete, flushed,
// then given the target's name: only while the name is free, or through
// ReplaceFileW, which keeps the target's access control list, attributes and
// streams.

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <random>
#include <vector>

#include "platform/file_system.h"
#include "platform/runtime_error.h"
#include "platform/windows_support.h"

namespace a5merge {

using windows::Error;
using windows::Handle;
using windows::Narrow;
using windows::Wide;

namespace {

constexpr const char* kTempPrefix = ".a5merge-";  // then eight hex digits

std::string RandomTempName() {
    static std::mt19937 random{std::random_device{}()};
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    char name[32];
    std::snprintf(name, sizeof name, "%s%08x", kTempPrefix, static_cast<unsigned>(random()));
    return name;
}

// Whether the system deletes the file open as `file` when it is closed
// (also when this process is killed); false where that cannot be set.
bool DeleteOnClose(HANDLE file, bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof disposition) != 0;
}

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

// Removes files under temporary names of ours that no live run holds (a
// live run keeps its own open, and lets no one delete it): what runs that
// were killed half-way through putting theirs in place left.
void RemoveStaleTempNames(const std::string& folder) {
    WIN32_FIND_DATAW entry{};
    const HANDLE found =
        ::FindFirstFileExW(Wide(folder + "\\" + kTempPrefix + "????????").c_str(), FindExInfoBasic,
                           &entry, FindExSearchNameMatch, nullptr, 0);
    if (found == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = Narrow(entry.cFileName);
        if (name.size() == 17 && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            std::all_of(name.begin() + 9, name.end(),
                        [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
            ::DeleteFileW(Wide(folder + "\\" + name).c_str());
        }
    } while (::FindNextFileW(found, &entry));
    ::FindClose(found);
}

// The final path of the file `path` names, links followed.
std::string FinalPath(const std::string& path) {
    const Handle file(::CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) throw Error(path);
    wchar_t buffer[32768];
    const DWORD length =
        ::GetFinalPathNameByHandleW(file.get(), buffer, 32768, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= 32768) throw Error(path);
    std::wstring final(buffer, length);
    if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        final = L"\\\\" + final.substr(8);
    } else if (final.rfind(L"\\\\?\\", 0) == 0) {
        final = final.substr(4);
    }
    return Narrow(final);
}

}  // namespace

struct OutputFile::Impl {
    enum class Kind {
        Aside,     // a new file beside the target, put in place at Commit
        Spooled,   // a temporary file, copied to the destination at Commit
        AsItComes  // standard output that is a file, cut back if dropped
    };

    std::string path;       // as given, for messages
    std::string errorPath;  // named by a failed write
    Kind kind = Kind::Aside;
    IfExists ifExists = IfExists::Replace;
    Handle owned;             // the new file, or the spool
    HANDLE out = nullptr;     // where the content goes now
    bool deleteOnClose = false;
    bool committed = false;
    std::string writtenPath;

    // Aside: the target's folder, its full path there, and the new file's.
    std::string folder;
    std::string target;
    std::string temporary;

    // Spooled: the destination, unless it is standard output: the NUL device.
    bool toStandardOutput = false;
    std::string device;

    // AsItComes: where standard output is cut back to when dropped.
    LARGE_INTEGER cutBack{};
    bool wrote = false;

    ~Impl() {
        if (!committed) Drop();
        // A spool is ours alone, whatever came of it.
        if (kind == Kind::Spooled && owned.valid() && !deleteOnClose) {
            owned.reset();
            ::DeleteFileW(Wide(temporary).c_str());
        }
    }

    void Drop() {
        if (kind == Kind::Aside && owned.valid() && !deleteOnClose) {
            owned.reset();
            ::DeleteFileW(Wide(temporary).c_str());
        }
        if (kind == Kind::AsItComes && wrote && ::SetFilePointerEx(out, cutBack, nullptr, FILE_BEGIN)) {
            ::SetEndOfFile(out);
        }
    }

    // A new file in `in` under a temporary name of ours, open for reading
    // and writing, that no one else may write or delete while we hold it,
    // and that the system deletes should we end first. `where` names the
    // folder in messages.
    void MakeFile(const std::string& in, const std::string& where) {
        RemoveStaleTempNames(in);
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = in + "\\" + RandomTempName();
            owned.reset(::CreateFileW(Wide(candidate).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                      FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
            if (!owned.valid()) {
                if (::GetLastError() == ERROR_FILE_EXISTS) continue;
                throw Error(where);
            }
            temporary = candidate;
            deleteOnClose = DeleteOnClose(owned.get(), true);
            out = owned.get();
            return;
        }
        throw RuntimeError::FromSystem(where, EEXIST);
    }

    void OpenAside(const std::string& place) {
        const std::size_t slash = place.find_last_of("\\/");
        name_ = slash == std::string::npos ? place : place.substr(slash + 1);
        if (name_.empty()) throw RuntimeError::FromSystem(path, ENOENT);
        folder = slash == std::string::npos ? "." : place.substr(0, slash);
        target = place;
        MakeFile(folder, path);
    }

    void OpenSpool() {
        kind = Kind::Spooled;
        errorPath = TemporaryFolder();
        MakeFile(errorPath, errorPath);
    }

    // Gives the new file the target's name while it is free, or (`replace`)
    // whatever is there, through its open handle; false where the file
    // system cannot rename an open file (then the caller moves it).
    bool RenameOpen(bool replace) {
        const std::wstring to = Wide(target);
        std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t));
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        rename->ReplaceIfExists = replace ? TRUE : FALSE;
        rename->RootDirectory = nullptr;
        rename->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
        std::copy(to.begin(), to.end(), rename->FileName);
        if (::SetFileInformationByHandle(owned.get(), FileRenameInfo, rename,
                                         static_cast<DWORD>(buffer.size()))) {
            return true;
        }
        const DWORD code = ::GetLastError();
        if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS || code == ERROR_ACCESS_DENIED ||
            code == ERROR_SHARING_VIOLATION || code == ERROR_DISK_FULL) {
            throw Error(path, code);
        }
        return false;
    }

    // Moves the closed new file to the target's name.
    void Move(bool replace) {
        owned.reset();
        const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
        if (!::MoveFileExW(Wide(temporary).c_str(), Wide(target).c_str(), flags)) {
            const DWORD code = ::GetLastError();
            ::DeleteFileW(Wide(temporary).c_str());
            throw Error(path, code);
        }
    }

    RuntimeError HeldOpen(DWORD code) const {
        return RuntimeError(
            path, windows::SystemReason(code) + " (another program holds it open); nothing was written",
            EBUSY);
    }

    // Puts the new file in place of a file that is there: ReplaceFileW keeps
    // the target's access control list, attributes and streams.
    void ReplaceTarget(DWORD attributes) {
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            throw RuntimeError(path, "is read-only; nothing was written", EACCES);
        }
        // The attributes a user sets go with the new file (not every
        // ReplaceFileW carries them).
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                             FILE_ATTRIBUTE_ARCHIVE |
                                             FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
        if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        ::SetFileInformationByHandle(owned.get(), FileBasicInfo, &basic, sizeof basic);
        owned.reset();
        // A file another program holds open without letting it go is refused
        // before ReplaceFileW tries (which may leave a file of its own).
        {
            const Handle probe(::CreateFileW(Wide(target).c_str(), DELETE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
            const DWORD code = probe.valid() ? ERROR_SUCCESS : ::GetLastError();
            if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) {
                ::DeleteFileW(Wide(temporary).c_str());
                throw HeldOpen(code);
            }
        }
        if (::ReplaceFileW(Wide(target).c_str(), Wide(temporary).c_str(), nullptr, 0, nullptr,
                           nullptr)) {
            return;
        }
        const DWORD code = ::GetLastError();
        if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
            // The target is gone; the new sheet is kept under its own name.
            throw RuntimeError(path,
                               windows::SystemReason(code) +
                                   ": the file there was removed, and the whole new sheet is in " +
                                   temporary,
                               EIO);
        }
        if (code == ERROR_FILE_NOT_FOUND) return Move(true);  // gone meanwhile
        ::DeleteFileW(Wide(temporary).c_str());
        if (code == ERROR_UNABLE_TO_REMOVE_REPLACED || code == ERROR_SHARING_VIOLATION ||
            code == ERROR_LOCK_VIOLATION) {
            throw HeldOpen(code);
        }
        throw RuntimeError(path, windows::SystemReason(code) + "; nothing was written",
                           windows::ErrnoOf(code));
    }

    void CommitAside() {
        if (!::FlushFileBuffers(owned.get())) throw Error(path);
        if (deleteOnClose && !DeleteOnClose(owned.get(), false)) throw Error(path);
        deleteOnClose = false;
        try {
            const DWORD attributes = ::GetFileAttributesW(Wide(target).c_str());
            if (ifExists == IfExists::Fail) {
                if (!RenameOpen(false)) Move(false);
            } else if (attributes == INVALID_FILE_ATTRIBUTES) {
                if (!RenameOpen(true)) Move(true);
            } else {
                ReplaceTarget(attributes);
            }
        } catch (...) {
            // Not in place: closing ours deletes it.
            if (owned.valid()) deleteOnClose = DeleteOnClose(owned.get(), true);
            throw;
        }
        owned.reset();
        writtenPath = path;
    }

    void CommitSpooled() {
        if (toStandardOutput) {
            CopyAll(owned.get(), ::GetStdHandle(STD_OUTPUT_HANDLE), errorPath, path);
        } else {
            const Handle sink(::CreateFileW(Wide(device).c_str(), GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
            if (!sink.valid()) throw Error(path);
            CopyAll(owned.get(), sink.get(), errorPath, path);
        }
        writtenPath = path;
    }

    std::string name_;
};

OutputFile::OutputFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

OutputFile::OutputFile(const std::string& path, IfExists ifExists, SpecialFiles special)
    : impl_(std::make_unique<Impl>()) {
    Impl& out = *impl_;
    out.path = out.errorPath = path;
    out.ifExists = ifExists;
    if (path.find('\0') != std::string::npos) throw RuntimeError::FromSystem(path, ENOENT);
    // NUL is written into as /dev/null is; the other device names are no files.
    if (const std::string device = windows::DeviceName(path); !device.empty()) {
        if (device != "NUL" || special == SpecialFiles::Refuse) {
            throw RuntimeError(path, "is " + device + ", a device of Windows, not a file", EINVAL);
        }
        out.device = "NUL";
        out.OpenSpool();
        return;
    }
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = ::GetLastError();
        // Nothing there: a new name. Any other failure says why.
        if (code != ERROR_FILE_NOT_FOUND) throw Error(path, code);
        out.OpenAside(path);
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) throw RuntimeError(path, "is a folder", EISDIR);
    // A file through a link: the file itself is replaced.
    out.OpenAside((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? FinalPath(path) : path);
}

std::unique_ptr<OutputFile> OutputFile::StandardOutput(const std::string& name) {
    auto out = std::make_unique<Impl>();
    out->path = out->errorPath = name;
    const HANDLE standard = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (standard == nullptr || standard == INVALID_HANDLE_VALUE) {
        throw RuntimeError::FromSystem(name, EBADF);
    }
    LARGE_INTEGER at{}, size{};
    const LARGE_INTEGER none{};
    // A file written at its end gets the sheet as it comes; one written from
    // inside would lose bytes it holds to a refused sheet, so it waits, as a
    // pipe or a console does.
    if (::GetFileType(standard) == FILE_TYPE_DISK &&
        ::SetFilePointerEx(standard, none, &at, FILE_CURRENT) && ::GetFileSizeEx(standard, &size) &&
        at.QuadPart >= size.QuadPart) {
        out->kind = Impl::Kind::AsItComes;
        out->cutBack = at;
        out->out = standard;
    } else {
        out->OpenSpool();
        out->toStandardOutput = true;
    }
    return std::unique_ptr<OutputFile>(new OutputFile(std::move(out)));
}

OutputFile::~OutputFile() = default;

void OutputFile::Write(std::string_view bytes) {
    impl_->wrote = impl_->wrote || !bytes.empty();
    WriteAll(impl_->out, bytes, impl_->errorPath);
}

void OutputFile::Commit() {
    switch (impl_->kind) {
        case Impl::Kind::Aside:
            impl_->CommitAside();
            break;
        case Impl::Kind::Spooled:
            impl_->CommitSpooled();
            break;
        case Impl::Kind::AsItComes:
            impl_->writtenPath = impl_->path;
            break;
    }
    impl_->committed = true;
}

const std::string& OutputFile::WrittenPath() const {
    return impl_->writtenPath.empty() ? impl_->path : impl_->writtenPath;
}

}  // namespace a5merge
