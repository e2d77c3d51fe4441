// Ghostscript on Linux: gs on the PATH, run in bubblewrap.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "ghostscript/ghostscript.h"
#include "ghostscript/system_ghostscript.h"
#include "platform/child_process.h"
#include "platform/file_system.h"

namespace a5merge {

namespace {

// What of the system a program needs to run and find its fonts, besides /usr.
constexpr const char* kTopFolders[] = {"/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32"};
constexpr const char* kReadOnlyIfThere[] = {
    "/etc/ld.so.cache", "/etc/fonts",      "/etc/ghostscript",     "/etc/alternatives",
    "/etc/papersize",   "/etc/paperspecs", "/var/lib/ghostscript", "/var/cache/fontconfig",
};

}  // namespace

const char* const kGhostscriptMissing =
    "Ghostscript (gs) was not found: install the package ghostscript";

std::string FindGhostscript() {
    if (const char* named = std::getenv("A5MERGE_GHOSTSCRIPT");
        named != nullptr && *named != '\0') {
        return ::access(named, X_OK) == 0 ? named : "";
    }
    return FindProgram("gs");
}

std::vector<std::string> GhostscriptEnvironment(const std::string& temporary) {
    return {"PATH=/usr/bin:/bin", "HOME=" + temporary, "TMPDIR=" + temporary, "LC_ALL=C"};
}

std::string FolderTrouble(const std::string&) { return {}; }

std::string SandboxProgram() { return FindProgram("bwrap"); }

bool ReadSandboxEnding(ChildResult& result) {
    using Ending = ChildResult::Ending;
    // The guard's mark comes first once the sandbox is made: what the
    // document prints comes after it, and cannot take it away.
    const bool made = result.errors.rfind(kSandboxMadeMark, 0) == 0;
    if (made) result.errors.erase(0, std::strlen(kSandboxMadeMark));
    if (result.ending != Ending::Exited || result.status == 0) return made;
    if (result.status > 128 && result.status < 128 + 65) {
        const int signal = result.status - 128;
        result.ending = signal == SIGXFSZ   ? Ending::WroteTooMuch
                        : signal == SIGXCPU ? Ending::CpuLimit
                                            : Ending::Signalled;
        result.status = signal;
    } else if (result.errors.find("Last OS error: No space left on device") != std::string::npos) {
        result.ending = Ending::WroteTooMuch;  // its /tmp in memory is full
    }
    return made;
}

std::vector<std::string> SandboxedCommand(const std::string& sandbox,
                                          const std::vector<std::string>& command,
                                          std::uint64_t temporaryBytes) {
    // Not --die-with-parent: bubblewrap killed with us half-way through
    // making the sandbox leaves a part of it waiting for good. The guard
    // below ends the sandbox once we end.
    std::vector<std::string> args = {sandbox, "--unshare-all", "--new-session", "--cap-drop",
                                     "ALL",   "--ro-bind",     "/usr",          "/usr"};
    // Merged /usr keeps links at the top; older systems have folders there.
    for (const char* top : kTopFolders) {
        struct stat st {};
        if (::lstat(top, &st) != 0) continue;
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlink(top, target, sizeof target - 1);
            if (n <= 0) continue;
            args.insert(args.end(),
                        {"--symlink", std::string(target, static_cast<std::size_t>(n)), top});
        } else if (S_ISDIR(st.st_mode)) {
            args.insert(args.end(), {"--ro-bind", top, top});
        }
    }
    for (const char* path : kReadOnlyIfThere)
        args.insert(args.end(), {"--ro-bind-try", path, path});
    args.insert(args.end(), {"--dev", "/dev", "--proc", "/proc", "--size",
                             std::to_string(temporaryBytes), "--tmpfs", kSandboxTemporaryFolder});
    // A program from outside /usr is shown at its own place, also under /tmp:
    // after the /tmp above, so that it is not hidden by it.
    if (!command.empty() && command.front().rfind("/usr/", 0) != 0) {
        args.insert(args.end(), {"--ro-bind", command.front(), command.front()});
    }
    // A shell that says the sandbox is made, kills all the sandbox runs once
    // the lifeline ends, then becomes the command.
    const std::string guard = std::string("printf '%s' '") + kSandboxMadeMark +
                              "' >&2; (read -r line <&" + std::to_string(kLifelineFd) +
                              "; kill -KILL 0) & exec \"$0\" \"$@\"";
    args.insert(args.end(), {"--chdir", kSandboxTemporaryFolder, "--", "/bin/sh", "-c", guard});
    args.insert(args.end(), command.begin(), command.end());
    return args;
}

}  // namespace a5merge
