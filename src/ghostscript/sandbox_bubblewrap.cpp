// The sandbox on Linux: bubblewrap.

#include <sys/stat.h>
#include <unistd.h>

#include "ghostscript/sandbox.h"
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

std::string SandboxProgram() { return FindProgram("bwrap"); }

std::vector<std::string> SandboxedCommand(const std::string& sandbox,
                                          const std::vector<std::string>& command,
                                          const std::string& folder) {
    std::vector<std::string> args = {sandbox,         "--unshare-all", "--die-with-parent",
                                     "--new-session", "--cap-drop",    "ALL",
                                     "--ro-bind",     "/usr",          "/usr"};
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
    // A program from outside /usr is shown at its own place.
    if (!command.empty() && command.front().rfind("/usr/", 0) != 0) {
        args.insert(args.end(), {"--ro-bind", command.front(), command.front()});
    }
    args.insert(args.end(), {"--dev", "/dev", "--proc", "/proc", "--bind", folder,
                             kSandboxTemporaryFolder, "--chdir", kSandboxTemporaryFolder, "--"});
    args.insert(args.end(), command.begin(), command.end());
    return args;
}

}  // namespace a5merge
