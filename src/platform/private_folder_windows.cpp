// Private folders on Windows: held by an open handle that lets no one else
// delete or rename the folder; removed at exit through the clean-up list.

#include <windows.h>

#include "platform/cleanup_windows.h"
#include "platform/private_folder_system.h"
#include "platform/runtime_error.h"
#include "platform/windows_support.h"

namespace a5merge {

using windows::Error;
using windows::Handle;
using windows::SystemPath;

struct PrivateFolder::Held::System {
    Handle folder;
    windows::CleanupEntry entry;  // a folder of this run's own
    bool claimed = false;         // opened for deletion: one a killed run left
};

const char* const PrivateFolder::Held::kLineEnd = "\r\n";

std::unique_ptr<PrivateFolder::Held> PrivateFolder::Held::MakeNew(const std::string& parent,
                                                                  const std::string& name) {
    const std::string path = parent + "\\" + name;
    if (!::CreateDirectoryW(SystemPath(path).c_str(), nullptr)) {
        if (::GetLastError() == ERROR_ALREADY_EXISTS) return nullptr;
        throw Error(parent);
    }
    // Held from now on, without room for another to delete or rename it
    // (another run's clean-up may look at it for a moment first: it leaves
    // a folder without our mark alone).
    auto system = std::make_unique<System>();
    windows::RetryWhileHeld([&] {
        system->folder.reset(
            ::CreateFileW(SystemPath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        return system->folder.valid();
    });
    const std::optional<FileIdentity> id =
        system->folder.valid() ? windows::IdOf(system->folder.get()) : std::nullopt;
    if (!id) {
        const DWORD code = ::GetLastError();
        system->folder.reset();
        ::RemoveDirectoryW(SystemPath(path).c_str());
        throw Error(parent, code);
    }
    system->entry = windows::CleanupEntry(path, true, system->folder.get());
    return std::make_unique<Held>(path, *id, std::move(system));
}

std::unique_ptr<PrivateFolder::Held> PrivateFolder::Held::Claim(const std::string& parent,
                                                                const std::string& name) {
    // Opened for deletion, where no one holds it, leaving no one else room
    // to delete it (another run's clean-up passes it by).
    const std::string path = parent + "\\" + name;
    auto system = std::make_unique<System>();
    system->claimed = true;
    system->folder.reset(::CreateFileW(
        SystemPath(path).c_str(), DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!system->folder.valid()) return nullptr;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    const std::optional<FileIdentity> id = windows::IdOf(system->folder.get());
    if (!id ||
        !::GetFileInformationByHandleEx(system->folder.get(), FileAttributeTagInfo, &tag,
                                        sizeof tag) ||
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return nullptr;
    }
    return std::make_unique<Held>(path, *id, std::move(system));
}

std::vector<std::string> PrivateFolder::Held::NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry{};
    const windows::FindHandle found(
        ::FindFirstFileExW(SystemPath(folder + "\\a5merge-??????").c_str(), FindExInfoBasic, &entry,
                           FindExSearchNameMatch, nullptr, 0));
    if (!found.valid()) return names;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            names.push_back(windows::Narrow(entry.cFileName));
        }
    } while (::FindNextFileW(found.get(), &entry));
    return names;
}

PrivateFolder::Held::Held(std::string at, FileIdentity id, std::unique_ptr<System> held)
    : path(std::move(at)), identity(id), system(std::move(held)) {}

PrivateFolder::Held::~Held() = default;

std::optional<std::string> PrivateFolder::Held::ReadSmallFile(const std::string& name,
                                                              std::size_t most) const {
    const Handle file(::CreateFileW(SystemPath(path + "\\" + name).c_str(), GENERIC_READ,
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

// On the disk in any case: FlushFileBuffers is all Windows offers here.
void PrivateFolder::Held::WriteWhole(const std::string& name, std::string_view bytes, bool,
                                     const std::string& where) const {
    const std::string target = path + "\\" + name;
    const std::string fresh = target + ".new";
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
            return ::MoveFileExW(SystemPath(fresh).c_str(), SystemPath(target).c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        })) {
        const DWORD code = ::GetLastError();
        ::DeleteFileW(SystemPath(fresh).c_str());
        throw Error(where, code);
    }
}

void PrivateFolder::Held::RemoveFile(const std::string& name, const std::string& where) const {
    if (!::DeleteFileW(SystemPath(path + "\\" + name).c_str()) &&
        ::GetLastError() != ERROR_FILE_NOT_FOUND) {
        throw Error(where);
    }
}

void PrivateFolder::Held::RemoveAll() {
    if (system->claimed) {
        windows::RemoveHeldFolder(path, system->folder.get());
        return;
    }
    system->entry = {};
    system->folder.reset();
    windows::RemoveTree(path);
}

}  // namespace a5merge
