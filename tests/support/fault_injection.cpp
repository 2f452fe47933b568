// Fault injection over the POSIX calls of the file layer.
#include "tests/support/fault_injection.h"

#include <algorithm>
#include <memory>
#include <set>
#include <string_view>

namespace chipsight::testing {
namespace {

struct State {
    FileFaults faults;
    std::set<int> aimed{};  // descriptors of the files aimed at
    std::size_t read = 0, written = 0;
};

FileSystemCalls faulty(std::shared_ptr<State> s) {
    const FileSystemCalls real = FileSystemCalls::posix();
    FileSystemCalls os = real;
    os.open = [s, real](const char* path, int flags, mode_t mode) {
        const bool aimed = std::string_view(path).ends_with(s->faults.name);
        if (aimed && s->faults.openError != 0) return errno = s->faults.openError, -1;
        const int fd = real.open(path, flags, mode);
        if (aimed && fd >= 0) s->aimed.insert(fd);
        return fd;
    };
    os.read = [s, real](int fd, void* buffer, std::size_t count) -> ssize_t {
        if (!s->aimed.count(fd)) return real.read(fd, buffer, count);
        const std::size_t room = s->faults.readLimit - std::min(s->faults.readLimit, s->read);
        if (room == 0) return s->faults.readError == 0 ? 0 : (errno = s->faults.readError, -1);
        const ssize_t n = real.read(fd, buffer, std::min(count, room));
        if (n > 0) s->read += std::size_t(n);
        return n;
    };
    os.write = [s, real](int fd, const void* buffer, std::size_t count) -> ssize_t {
        if (!s->aimed.count(fd)) return real.write(fd, buffer, count);
        const std::size_t room = s->faults.writeLimit - std::min(s->faults.writeLimit, s->written);
        if (room == 0) return errno = ENOSPC, -1;
        const ssize_t n = real.write(fd, buffer, std::min(count, room));
        if (n > 0) s->written += std::size_t(n);
        return n;
    };
    os.fsync = [s, real](int fd) {
        if (s->aimed.count(fd) && s->faults.syncError != 0) return errno = s->faults.syncError, -1;
        return real.fsync(fd);
    };
    const auto aimed = [s](const char* path) {
        return std::string_view(path).ends_with(s->faults.name);
    };
    os.rename = [s, real, aimed](const char* from, const char* to) {
        if (s->faults.renameError != 0 && (aimed(from) || aimed(to)))
            return errno = s->faults.renameError, -1;
        return real.rename(from, to);
    };
    os.mkdir = [s, real, aimed](const char* path, mode_t mode) {
        if (s->faults.mkdirError != 0 && aimed(path)) return errno = s->faults.mkdirError, -1;
        return real.mkdir(path, mode);
    };
    os.close = [s, real](int fd) {
        // The descriptor is released either way, as Linux does after a failing close.
        const bool fail = s->aimed.erase(fd) > 0 && s->faults.closeError != 0;
        const int result = real.close(fd);
        return fail ? (errno = s->faults.closeError, -1) : result;
    };
    return os;
}

}  // namespace

InjectedFaults::InjectedFaults(FileFaults faults)
    : scoped_(faulty(std::make_shared<State>(State{std::move(faults)}))) {}

}  // namespace chipsight::testing
