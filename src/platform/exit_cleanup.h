#pragma once

namespace a5merge {

// Kills the child processes this process runs and removes its temporary
// files and folders, now: for a program about to end at once (std::_Exit),
// which runs no destructor. A signal that ends the program does the same by
// itself (on Linux SIGINT, SIGTERM and SIGHUP). Safe in a signal handler.
void CleanUpBeforeExit();

}  // namespace a5merge
