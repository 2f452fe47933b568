// Running programs as real processes: their output, their exit status, or a handle to kill.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace chipsight::testing {

struct ProcessResult {
    std::string out, err;
    int status = -1;  // the exit status, or -1 when a signal ended it
};

// Runs `args` (the program first) to its end, collecting stdout and stderr.
ProcessResult runProcess(std::vector<std::string> args);

// Starts `args` with its output discarded; the caller waits for or kills it.
pid_t startProcess(std::vector<std::string> args);

}  // namespace chipsight::testing
