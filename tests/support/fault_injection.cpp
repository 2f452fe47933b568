// Fault injection over the POSIX calls of the file layer.
#include "tests/support/fault_injection.h"

#include <unistd.h>

#include <algorithm>

namespace chipsight::testing {
namespace {
bool endsWith(const std::string& text, const std::string& suffix) {
    return !suffix.empty() && text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}
}  // namespace

int FileFaults::opens(const std::string& nameSuffix) const {
    int n = 0;
    for (const auto& [path, count] : opens_)
        if (endsWith(path, nameSuffix)) n += count;
    return n;
}

bool FileFaults::aimed(int fd, const std::string& name) const {
    const auto it = paths_.find(fd);
    return it != paths_.end() && endsWith(it->second, name);
}

FileSystemCalls FileFaults::calls() {
    FileSystemCalls os = FileSystemCalls::posix();
    const FileSystemCalls real = FileSystemCalls::posix();
    os.open = [this, real](const char* path, int flags, mode_t mode) {
        ++opens_[path];
        if (endsWith(path, openName_)) {
            errno = openError_;
            return -1;
        }
        const int fd = real.open(path, flags, mode);
        if (fd >= 0) paths_[fd] = path;
        return fd;
    };
    os.read = [this, real](int fd, void* buffer, std::size_t count) -> ssize_t {
        if (!aimed(fd, readName_)) return real.read(fd, buffer, count);
        const std::size_t room = readLimit_ - std::min(readLimit_, readDone_);
        if (room == 0) {
            if (readError_ == 0) return 0;
            errno = readError_;
            return -1;
        }
        const ssize_t n = real.read(fd, buffer, std::min(count, room));
        if (n > 0) readDone_ += std::size_t(n);
        return n;
    };
    os.write = [this, real](int fd, const void* buffer, std::size_t count) -> ssize_t {
        if (!aimed(fd, writeName_)) return real.write(fd, buffer, count);
        const std::size_t room = writeLimit_ - std::min(writeLimit_, writeDone_);
        if (room == 0) {
            errno = writeError_;
            return -1;
        }
        const ssize_t n = real.write(fd, buffer, std::min(count, room));
        if (n > 0) writeDone_ += std::size_t(n);
        return n;
    };
    os.fsync = [this, real](int fd) {
        if (aimed(fd, syncName_)) {
            errno = syncError_;
            return -1;
        }
        return real.fsync(fd);
    };
    os.close = [this, real](int fd) {
        const bool fail = aimed(fd, closeName_);
        paths_.erase(fd);
        const int result = real.close(fd);
        if (fail) {
            // The descriptor is released either way, as Linux does after a failing close.
            errno = closeError_;
            return -1;
        }
        return result;
    };
    return os;
}

}  // namespace chipsight::testing
