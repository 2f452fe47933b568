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

namespace chipsight::testing {

// A child whose standard input and output are pipes to the test, for a conversation line by
// line (stderr goes where the test's goes): the way to hold a child at a point it announces.
class Child {
  public:
    explicit Child(std::vector<std::string> args);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next line the child writes, without its line feed; empty at the end of its output.
    std::string readLine();
    void writeLine(const std::string& line);
    // Closes its input, collects the rest of its output and waits for its end.
    ProcessResult finish();

  private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    std::string pending_;
};

}  // namespace chipsight::testing
