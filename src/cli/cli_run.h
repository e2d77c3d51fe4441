#pragma once

#include "cli/cli_options.h"

namespace a5merge {

// Checks, or merges, as `options` ask; what it says goes to standard output
// and standard error. Returns the exit status.
int RunCli(const Options& options);

}  // namespace a5merge
