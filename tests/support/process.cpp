// Child processes for the tests.
#include "tests/support/process.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <new>
#include <stdexcept>
#include <utility>

namespace chipsight::testing {
namespace {
std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, std::size_t(n));
    return text;
}
}  // namespace

Child::Child(std::vector<std::string> args) {
    // Standard error goes to a file in memory, read once the child has ended, so that neither
    // output can fill up while the test waits on the other.
    int in[2], out[2];
    err_ = ::memfd_create("stderr", MFD_CLOEXEC);
    if (err_ < 0 || ::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in[0], 0), ::dup2(out[1], 1), ::dup2(err_, 2);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in[0]), ::close(out[1]);
    in_ = in[1], out_ = out[0];
}

std::string Child::readLine() {
    std::size_t end;
    while ((end = pending_.find('\n')) == std::string::npos) {
        char buffer[4096];
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n <= 0) return std::exchange(pending_, {});
        pending_.append(buffer, std::size_t(n));
    }
    std::string line = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    return line;
}

void Child::writeLine(const std::string& line) {
    const std::string text = line + "\n";
    if (::write(in_, text.data(), text.size()) != ssize_t(text.size()))
        throw std::runtime_error("write to child");
}

ProcessResult Child::finish() {
    ProcessResult result;
    if (pid_ < 0) return result;
    ::close(std::exchange(in_, -1));
    result.out = std::exchange(pending_, {}) + readAll(out_);
    int status = 0;
    rusage usage{};
    ::wait4(std::exchange(pid_, -1), &status, 0, &usage);
    result.peakKiB = usage.ru_maxrss;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ::lseek(err_, 0, SEEK_SET);
    result.err = readAll(err_);
    ::close(out_), ::close(err_);
    return result;
}

std::string saidWithin(std::size_t budget, const std::function<std::string()>& body) {
    int ends[2];
    if (::pipe(ends) != 0) return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ends[0]);
        std::size_t pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t cap = pages * std::size_t(::sysconf(_SC_PAGESIZE)) + budget;
        const rlimit limit{cap, cap};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(2);
        std::string said;
        try {
            said = body();
        } catch (const std::bad_alloc&) {
            said = "out of memory";
        }
        ::_exit(::write(ends[1], said.data(), said.size()) == ssize_t(said.size()) ? 0 : 1);
    }
    ::close(ends[1]);
    const std::string said = readAll(ends[0]);
    ::close(ends[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? said : "the child failed";
}

}  // namespace chipsight::testing
