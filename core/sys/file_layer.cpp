// POSIX file access under advisory locks, behind a replaceable table of calls.
#include "core/sys/file_layer.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csetjmp>
#include <csignal>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

namespace chipsight {

FileSystemCalls FileSystemCalls::posix() {
    return {
        .open = [](const char* p, int f, mode_t m) { return ::open(p, f, m); },
        .fstat = [](int fd, struct stat* s) { return ::fstat(fd, s); },
        .stat = [](const char* p, struct stat* s) { return ::stat(p, s); },
        .lstat = [](const char* p, struct stat* s) { return ::lstat(p, s); },
        .access = [](const char* p, int m) { return ::access(p, m); },
        .flock = [](int fd, int op) { return ::flock(fd, op); },
        .read = [](int fd, void* b, std::size_t n) { return ::read(fd, b, n); },
        .write = [](int fd, const void* b, std::size_t n) { return ::write(fd, b, n); },
        .lseek = [](int fd, off_t o, int w) { return ::lseek(fd, o, w); },
        .ftruncate = [](int fd, off_t l) { return ::ftruncate(fd, l); },
        .fsync = [](int fd) { return ::fsync(fd); },
        .close = [](int fd) { return ::close(fd); },
        .dup = [](int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); },
        .unlink = [](const char* p) { return ::unlink(p); },
        .rename = [](const char* from, const char* to) { return ::rename(from, to); },
        .link = [](const char* from, const char* to) { return ::link(from, to); },
        .mkdir = [](const char* p, mode_t m) { return ::mkdir(p, m); },
        .opendir = [](const char* p) { return ::opendir(p); },
        .readdir = [](DIR* d) { return ::readdir(d); },
        .closedir = [](DIR* d) { return ::closedir(d); },
        .fstatat = [](int fd, const char* p, struct stat* s,
                      int f) { return ::fstatat(fd, p, s, f); },
        .mmap = [](void* a, std::size_t n, int prot, int flags, int fd,
                   off_t offset) { return ::mmap(a, n, prot, flags, fd, offset); },
        .munmap = [](void* a, std::size_t n) { return ::munmap(a, n); },
    };
}

FileSystemCalls& fileSystemCalls() {
    static FileSystemCalls calls = FileSystemCalls::posix();
    return calls;
}

std::chrono::milliseconds& lockWaitLimit() {
    // Long enough for any append or load of another copy to finish, short enough that a
    // copy which hangs while holding a file does not hang this one with it.
    static std::chrono::milliseconds limit{5000};
    return limit;
}

namespace {

// Takes the lock `operation` (LOCK_SH or LOCK_EX) on `fd`, waiting up to lockWaitLimit() when
// `wait` is set. flock() itself cannot time out, so the wait polls, briefly at first.
bool takeLock(int fd, int operation, bool wait) {
    auto& os = fileSystemCalls();
    const auto deadline = std::chrono::steady_clock::now() + lockWaitLimit();
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        if (os.flock(fd, operation | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (!wait || std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(20));
    }
}

int openRetryingInterrupts(const std::string& path, int flags) {
    int fd;
    do {
        fd = fileSystemCalls().open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::optional<File> File::open(const std::string& path, Mode mode, OpenFailure* failure) {
    auto& os = fileSystemCalls();
    const auto fail = [&](OpenFailure why) {
        if (failure) *failure = why;
        return std::nullopt;
    };
    const bool reading = mode == Mode::Read || mode == Mode::ReadDatabase;
    const bool wait = mode == Mode::ReadDatabase || mode == Mode::Append;
    const bool fresh = mode == Mode::CreateNew;
    // O_NONBLOCK keeps a FIFO or a device from blocking the open; such files are refused below.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (reading ? O_RDONLY : O_RDWR);
    if (mode == Mode::Append) flags |= O_NOFOLLOW;

    // An appender that waited may find the file gone or replaced once it holds the lock (the
    // holder removed the empty file it had made); it then starts over on whatever is there now.
    for (int attempt = 0; attempt < 8; ++attempt) {
        bool created = false;
        int fd;
        if (reading) {
            fd = openRetryingInterrupts(path, flags);
        } else {
            // Knowing whether this open made the file lets a failed first append take it away.
            fd = openRetryingInterrupts(path, flags | O_CREAT | O_EXCL);
            created = fd >= 0;
            if (fd < 0 && errno == EEXIST && !fresh) fd = openRetryingInterrupts(path, flags);
            if (fd < 0 && errno == ENOENT && !fresh) continue;
        }
        if (fd < 0) return fail(OpenFailure::Unavailable);
        // An image (Mode::Read) is looked at once, under the lock: whatever is not a regular file
        // is refused then as it would be now, and one call fewer counts over many small images.
        // Any other opener must not wait for a lock on what is not a regular file at all.
        struct stat st {};
        if (mode != Mode::Read && (os.fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            os.close(fd);
            return fail(OpenFailure::Unavailable);
        }
        if (!takeLock(fd, reading ? LOCK_SH : LOCK_EX, wait)) {
            os.close(fd);
            return fail(wait ? OpenFailure::Busy : OpenFailure::Unavailable);
        }
        struct stat now {};
        if (mode == Mode::Append &&
            (os.lstat(path.c_str(), &now) != 0 || !S_ISREG(now.st_mode) || !sameFile(now, st))) {
            os.close(fd);
            continue;
        }
        // The length counts only now that no writer can be changing it.
        if (os.fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            os.close(fd);
            return fail(OpenFailure::Unavailable);
        }
        return File(fd, st, created);
    }
    return fail(OpenFailure::Unavailable);
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

bool File::unchangedSinceOpen() const {
    struct stat st {};
    if (fileSystemCalls().fstat(fd_, &st) != 0) return false;
    const auto same = [](const struct timespec& a, const struct timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    return std::uint64_t(st.st_size) == length_ && same(st.st_mtim, modified_) &&
           same(st.st_ctim, changed_);
}

std::optional<File::Mapping> File::map(std::size_t length) const {
    if (length == 0) return std::nullopt;
    void* p = fileSystemCalls().mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd_, 0);
    if (p == MAP_FAILED) return std::nullopt;
    return Mapping(static_cast<const std::uint8_t*>(p), length);
}

File::Mapping::~Mapping() {
    if (bytes_ != nullptr) fileSystemCalls().munmap(const_cast<std::uint8_t*>(bytes_), length_);
}

namespace {

// The guard of the mapping being read on this thread, if any: where SIGBUS jumps back to.
struct Guard {
    sigjmp_buf back;
    const std::uint8_t* from;
    std::size_t length;
};
thread_local Guard* activeGuard = nullptr;
struct sigaction previousBusAction {};

void onBus(int signal, siginfo_t* info, void* context) {
    Guard* guard = activeGuard;
    const auto* at = static_cast<const std::uint8_t*>(info->si_addr);
    if (guard != nullptr && info->si_code > 0 && at >= guard->from &&
        at < guard->from + guard->length)
        siglongjmp(guard->back, 1);
    // Not a page of ours: handled as it would have been without us.
    if (previousBusAction.sa_flags & SA_SIGINFO) {
        previousBusAction.sa_sigaction(signal, info, context);
    } else if (previousBusAction.sa_handler != SIG_IGN) {
        if (previousBusAction.sa_handler != SIG_DFL) {
            previousBusAction.sa_handler(signal);
            return;
        }
        ::signal(SIGBUS, SIG_DFL);
        // A fault comes again when the instruction runs again; a sent signal is sent again.
        if (info->si_code <= 0) ::raise(SIGBUS);
    }
}

void installBusHandler() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_sigaction = onBus;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &previousBusAction);
    });
}

}  // namespace

bool readMapped(const File::Mapping& mapping, const std::function<void()>& read) {
    installBusHandler();
    Guard guard;
    guard.from = mapping.bytes();
    guard.length = mapping.length();
    Guard* const outer = activeGuard;
    // sigsetjmp saves the signal mask, so leaving the handler by the jump unblocks SIGBUS again.
    if (sigsetjmp(guard.back, 1) != 0) {
        activeGuard = outer;
        return false;
    }
    activeGuard = &guard;
    read();
    activeGuard = outer;
    return true;
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

void File::seek(std::uint64_t offset) {
    if (fileSystemCalls().lseek(fd_, off_t(offset), SEEK_SET) < 0)
        throw FileError("seek failed", errno);
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

void File::closeKeepingLockOnFailure() {
    auto& os = fileSystemCalls();
    // The lock belongs to the open file, not to one descriptor: while the second descriptor
    // lives, nobody else can take the file.
    const int keeper = os.dup(fd_);
    if (keeper < 0) throw FileError("close failed", errno);
    const int fd = fd_;
    fd_ = keeper;
    if (os.close(fd) != 0) throw FileError("close failed", errno);
    // What was written went out with the first close; this one only lets go of the lock.
    fd_ = -1;
    os.close(keeper);
}

void syncDirectoryOf(const std::string& path) {
    auto& os = fileSystemCalls();
    const auto slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? std::string(".")
                                  : slash == 0               ? std::string("/")
                                                             : path.substr(0, slash);
    const int fd = os.open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) throw FileError("directory open failed", errno);
    const int synced = os.fsync(fd);
    const int error = errno;
    os.close(fd);
    if (synced != 0) throw FileError("directory flush failed", error);
}

bool removeFile(const std::string& path) { return fileSystemCalls().unlink(path.c_str()) == 0; }

std::optional<File> createTemporaryBeside(const std::string& path, std::string& made) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    // Another maker's name is taken again only by a rare chance; a few tries get past it.
    for (int attempt = 0; attempt < 16; ++attempt) {
        made = path + ".";
        for (int i = 0; i < 8; ++i) made += kLetters[random() % (sizeof kLetters - 1)];
        made += ".tmp";
        if (auto file = File::open(made, File::Mode::CreateNew)) return file;
        if (errno != EEXIST) break;
    }
    made.clear();
    return std::nullopt;
}

bool renameFile(const std::string& from, const std::string& to) {
    return fileSystemCalls().rename(from.c_str(), to.c_str()) == 0;
}

bool replaceFileWith(const std::string& path, const std::function<void(File&)>& write, bool replace,
                     int* error) {
    std::string temporary;
    auto out = createTemporaryBeside(path, temporary);
    if (!out) {
        if (error) *error = errno;
        return false;
    }
    try {
        write(*out);
        // On the disk before its name is: a crash then leaves the old file or the whole new one.
        out->sync();
        out->close();
        // A second name made for it fails where a file stands, where a rename would replace it.
        if (replace ? !renameFile(temporary, path)
                    : fileSystemCalls().link(temporary.c_str(), path.c_str()) != 0)
            throw FileError(replace ? "rename failed" : "link failed", errno);
        if (!replace) removeFile(temporary);
    } catch (const FileError& e) {
        out.reset();
        removeFile(temporary);
        if (error) *error = e.error();
        return false;
    }
    return true;
}

bool makeDirectories(const std::string& path) {
    auto& os = fileSystemCalls();
    const auto isDirectory = [&](const std::string& at) {
        struct stat st {};
        return os.stat(at.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    };
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string part = path.substr(0, end);
        // A parent the user may not write to can still exist, which is all that is needed.
        if (os.mkdir(part.c_str(), 0700) != 0 && errno != EEXIST && !isDirectory(part))
            return false;
        if (end == std::string::npos) break;
    }
    return isDirectory(path);
}

std::optional<Directory> Directory::open(const std::string& path) {
    DIR* dir = fileSystemCalls().opendir(path.c_str());
    if (dir == nullptr) return std::nullopt;
    return Directory(dir);
}

Directory::~Directory() {
    if (dir_ != nullptr) fileSystemCalls().closedir(dir_);
}

bool Directory::next(std::string_view& name, unsigned char& type) {
    auto& os = fileSystemCalls();
    for (;;) {
        // Only a null with errno set is a failure; the end of the listing leaves errno alone.
        errno = 0;
        const dirent* e = os.readdir(dir_);
        if (e == nullptr) {
            failed_ = errno != 0;
            return false;
        }
        name = e->d_name;
        if (name == "." || name == "..") continue;
        type = e->d_type;
        return true;
    }
}

bool Directory::status(const char* name, struct stat& st, bool ownStatus) const {
    return fileSystemCalls().fstatat(::dirfd(dir_), name, &st,
                                     ownStatus ? AT_SYMLINK_NOFOLLOW : 0) == 0;
}

std::uint64_t physicalMemory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return UINT64_MAX;
    return std::uint64_t(pages) * std::uint64_t(pageSize);
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
    auto dir = Directory::open(directory);
    if (!dir) return exact;
    std::string_view entry;
    unsigned char type;
    while (dir->next(entry, type)) {
        if (entry.size() == name.size() &&
            ::strncasecmp(entry.data(), name.data(), name.size()) == 0)
            return directory + "/" + std::string(entry);
    }
    return exact;
}

std::string executablePath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
}

std::string canonicalPath(const std::string& path) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string resolved = real;
        std::free(real);
        return resolved;
    }
    std::error_code error;
    std::string plain = std::filesystem::absolute(path, error).lexically_normal().string();
    while (plain.size() > 1 && plain.back() == '/') plain.pop_back();
    return error ? path : plain;
}

}  // namespace chipsight
