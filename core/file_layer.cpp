// POSIX file access with exclusive advisory locks, behind a replaceable table of calls.
#include "core/file_layer.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

namespace chipsight {

FileSystemCalls FileSystemCalls::posix() {
    return {
        .open = [](const char* p, int f, mode_t m) { return ::open(p, f, m); },
        .fstat = [](int fd, struct stat* s) { return ::fstat(fd, s); },
        .stat = [](const char* p, struct stat* s) { return ::stat(p, s); },
        .access = [](const char* p, int m) { return ::access(p, m); },
        .flock = [](int fd, int op) { return ::flock(fd, op); },
        .read = [](int fd, void* b, std::size_t n) { return ::read(fd, b, n); },
        .write = [](int fd, const void* b, std::size_t n) { return ::write(fd, b, n); },
        .lseek = [](int fd, off_t o, int w) { return ::lseek(fd, o, w); },
        .ftruncate = [](int fd, off_t l) { return ::ftruncate(fd, l); },
        .fsync = [](int fd) { return ::fsync(fd); },
        .close = [](int fd) { return ::close(fd); },
    };
}

FileSystemCalls& fileSystemCalls() {
    static FileSystemCalls calls = FileSystemCalls::posix();
    return calls;
}

std::optional<File> File::open(const std::string& path, Mode mode) {
    auto& os = fileSystemCalls();
    // O_NONBLOCK keeps a FIFO or a device from blocking the open; such files are refused below.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    flags |= mode == Mode::Read ? O_RDONLY : (O_RDWR | O_CREAT);
    int fd;
    do {
        fd = os.open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (os.fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || os.flock(fd, LOCK_EX | LOCK_NB) != 0) {
        os.close(fd);
        return std::nullopt;
    }
    return File(fd, std::uint64_t(st.st_size));
}

File::~File() {
    if (fd_ >= 0) fileSystemCalls().close(fd_);
}

std::int64_t File::modificationTime() const {
    struct stat st {};
    if (fileSystemCalls().fstat(fd_, &st) != 0) throw FileError("status query failed", errno);
    return std::int64_t(st.st_mtim.tv_sec);
}

std::size_t File::read(void* buffer, std::size_t count) {
    auto& os = fileSystemCalls();
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t chunk = std::min<std::size_t>(count - done, 1u << 30);
        const ssize_t n = os.read(fd_, out + done, chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += std::size_t(n);
    }
    return done;
}

void File::write(const void* buffer, std::size_t count) {
    auto& os = fileSystemCalls();
    const auto* in = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = os.write(fd_, in + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw FileError("write failed", errno);
        if (n == 0) throw FileError("write stored nothing", ENOSPC);
        done += std::size_t(n);
    }
}

void File::seekEnd() {
    if (fileSystemCalls().lseek(fd_, 0, SEEK_END) < 0) throw FileError("seek failed", errno);
}

void File::truncate(std::uint64_t length) {
    if (fileSystemCalls().ftruncate(fd_, off_t(length)) != 0)
        throw FileError("truncate failed", errno);
    length_ = length;
}

void File::sync() {
    if (fileSystemCalls().fsync(fd_) != 0) throw FileError("flush failed", errno);
}

void File::close() {
    const int fd = fd_;
    fd_ = -1;
    if (fileSystemCalls().close(fd) != 0) throw FileError("close failed", errno);
}

std::optional<std::int64_t> modificationTime(const std::string& path) {
    struct stat st {};
    // Only a regular file has a time worth comparing: a folder standing in its place for a
    // while is as good as no file at all.
    if (fileSystemCalls().stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return std::int64_t(st.st_mtim.tv_sec);
}

std::string fileNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string resolveInDirectory(const std::string& directory, const std::string& name) {
    const std::string exact = directory + "/" + name;
    struct stat st {};
    if (fileSystemCalls().stat(exact.c_str(), &st) == 0) return exact;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.c_str()), ::closedir);
    if (!dir) return exact;
    while (const dirent* e = ::readdir(dir.get())) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) return directory + "/" + e->d_name;
    }
    return exact;
}

std::string executablePath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
}

}  // namespace chipsight
