// Running programs as real processes: their output, their exit status, a conversation.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace chipsight::testing {

struct ProcessResult {
    std::string out, err;
    int status = -1;   // the exit status, or -1 when a signal ended it
    long peakKiB = 0;  // the most memory it held at once
};

// A child (`args`, the program first) whose standard input, output and error are pipes to the
// test: it can be held at a point it announces on a line of its own, or killed.
class Child {
  public:
    explicit Child(std::vector<std::string> args);
    ~Child() { finish(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    // The next line of its output, without its line feed; empty at the end of its output.
    std::string readLine();
    void writeLine(const std::string& line);
    // Closes its input, collects the rest of its output and waits for its end.
    ProcessResult finish();

  private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    std::string pending_;
};

// Runs `args` to its end.
inline ProcessResult runProcess(std::vector<std::string> args) {
    return Child(std::move(args)).finish();
}

// What `body` says when run in a child process that may take at most `budget` bytes of address
// space beyond what it holds at its start: "out of memory" when an allocation failed, "the child
// failed" when it said nothing.
std::string saidWithin(std::size_t budget, const std::function<std::string()>& body);

// AddressSanitizer reserves more address space than such a budget leaves.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

}  // namespace chipsight::testing
