// Child processes for the tests.
#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <utility>

namespace chipsight::testing {

Child::Child(std::vector<std::string> args) {
    int pipes[3][2];
    for (auto& p : pipes)
        if (::pipe2(p, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
        for (int i = 0; i < 3; ++i) ::dup2(pipes[i][i == 0 ? 0 : 1], i);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipes[0][0]), ::close(pipes[1][1]), ::close(pipes[2][1]);
    in_ = pipes[0][1], out_ = pipes[1][0], err_ = pipes[2][0];
}

std::string Child::readLine() {
    for (std::size_t end; (end = pending_.find('\n')) == std::string::npos;) {
        char buffer[4096];
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n <= 0) return std::exchange(pending_, {});
        pending_.append(buffer, std::size_t(n));
    }
    const std::size_t end = pending_.find('\n');
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
    result.out = std::exchange(pending_, {});
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    for (int open = 2; open > 0;) {
        ::poll(fds, 2, -1);
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, std::size_t(n));
            } else {
                ::close(std::exchange(fds[i].fd, -1));
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(std::exchange(pid_, -1), &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace chipsight::testing
