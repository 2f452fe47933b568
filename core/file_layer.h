// The file layer: every file the core opens, reads or writes goes through here, and every
// operating-system call it makes goes through one replaceable table, so tests can inject faults.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace chipsight {

// The operating-system calls the file layer makes. Tests replace single entries.
struct FileSystemCalls {
    std::function<int(const char*, int, mode_t)> open;
    std::function<int(int, struct stat*)> fstat;
    std::function<int(const char*, struct stat*)> stat;
    std::function<int(const char*, int)> access;
    std::function<int(int, int)> flock;
    std::function<ssize_t(int, void*, std::size_t)> read;
    std::function<ssize_t(int, const void*, std::size_t)> write;
    std::function<off_t(int, off_t, int)> lseek;
    std::function<int(int, off_t)> ftruncate;
    std::function<int(int)> fsync;
    std::function<int(int)> close;

    static FileSystemCalls posix();
};

// The calls in force; the POSIX ones unless a test has replaced them.
FileSystemCalls& fileSystemCalls();

// Replaces the calls in force for its lifetime (tests only).
class ScopedFileSystemCalls {
public:
    explicit ScopedFileSystemCalls(FileSystemCalls calls) : saved_(fileSystemCalls()) {
        fileSystemCalls() = std::move(calls);
    }
    ~ScopedFileSystemCalls() { fileSystemCalls() = std::move(saved_); }
    ScopedFileSystemCalls(const ScopedFileSystemCalls&) = delete;
    ScopedFileSystemCalls& operator=(const ScopedFileSystemCalls&) = delete;

private:
    FileSystemCalls saved_;
};

// A failure the operating system reported while writing, flushing or closing.
class FileError : public std::runtime_error {
public:
    FileError(const std::string& what, int error) : std::runtime_error(what), error_(error) {}
    int error() const { return error_; }

private:
    int error_;
};

// An open regular file, held under an advisory exclusive lock so that no other opener is
// admitted while it is open. Closed when destroyed.
class File {
public:
    enum class Mode {
        Read,           // an existing file, for reading
        ReadWriteCreate // for reading and writing, created when missing, content kept
    };

    // Opens `path`; nothing when the file is missing, refused, locked by another opener, or
    // not a regular file. Never blocks.
    static std::optional<File> open(const std::string& path, Mode mode);

    File(File&& other) noexcept : fd_(other.fd_), length_(other.length_) { other.fd_ = -1; }
    File& operator=(File&&) = delete;
    File(const File&) = delete;
    ~File();

    std::uint64_t length() const { return length_; }
    // The last-write time of the open file in whole seconds.
    std::int64_t modificationTime() const;
    // Reads up to `count` bytes from the current position and returns how many arrived; an
    // error from the operating system ends the read early, like the end of the file.
    std::size_t read(void* buffer, std::size_t count);
    // Writes all `count` bytes, or throws FileError.
    void write(const void* buffer, std::size_t count);
    void seekEnd();
    void truncate(std::uint64_t length);
    void sync();
    // Closes the file, throwing FileError when the operating system reports a failure.
    void close();

private:
    explicit File(int fd, std::uint64_t length) : fd_(fd), length_(length) {}
    int fd_;
    std::uint64_t length_;
};

// The last-write time of the file at `path` in whole seconds, without opening it; nothing
// when no regular file can be looked up there.
std::optional<std::int64_t> modificationTime(const std::string& path);

// The last component of a path: the text after its last slash.
std::string fileNameOf(const std::string& path);

// `directory` joined with `name`. When no file of exactly that name exists there but one
// whose name differs only in letter case does, that one is returned.
std::string resolveInDirectory(const std::string& directory, const std::string& name);

// The absolute path of the running executable.
std::string executablePath();

}  // namespace chipsight
