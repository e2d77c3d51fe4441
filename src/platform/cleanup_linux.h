#pragma once

// For the Linux files of this folder only: what must not outlive the process
// however it ends, kept in fixed slots that a signal handler may read.

#include <sys/types.h>

namespace a5merge::exit_cleanup {

// A registration; -1 when every slot was taken (then only the normal path
// cleans up).
using Slot = int;

// The file `name` in folder `dirFd`: unlinked.
Slot AddFile(int dirFd, const char* name);
// The folder `name` in folder `parentFd`, open as `ownFd` (or, while -1,
// opened when it is removed): emptied, then removed.
Slot AddFolder(int parentFd, const char* name, int ownFd);
// The folder of `slot` is open as `ownFd` from now on.
void SetFolderFd(Slot slot, int ownFd);
// A child in a process group of its own: the group is killed.
Slot AddChild(pid_t pid);
// Forgets `slot` (and sets it to -1); the thing itself is left as it is.
void Remove(Slot& slot);

// Kills every child registered, then removes every file and folder
// registered. Safe in a signal handler. The first registration installs it
// as the handler of SIGINT, SIGTERM and SIGHUP (unless they are ignored),
// which then ends the process by the same signal.
void RunAll();

// Removes what folder `fd` holds, and folders in it down to `depth` levels.
// Safe in a signal handler.
void EmptyFolder(int fd, int depth = 4);

}  // namespace a5merge::exit_cleanup
