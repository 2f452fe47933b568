// The file layer: every file the core opens, reads or writes goes through here, and every
// operating-system call it makes goes through one replaceable table, so tests can inject faults.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace chipsight {

// The operating-system calls the file layer makes. Tests replace single entries.
struct FileSystemCalls {
    std::function<int(const char*, int, mode_t)> open;
    std::function<int(int, struct stat*)> fstat;
    std::function<int(const char*, struct stat*)> stat;
    std::function<int(const char*, struct stat*)> lstat;
    std::function<int(const char*, int)> access;
    std::function<int(int, int)> flock;
    std::function<ssize_t(int, void*, std::size_t)> read;
    std::function<ssize_t(int, const void*, std::size_t)> write;
    std::function<off_t(int, off_t, int)> lseek;
    std::function<int(int, off_t)> ftruncate;
    std::function<int(int)> fsync;
    std::function<int(int)> close;
    std::function<int(int)> dup;
    std::function<int(const char*)> unlink;
    std::function<int(const char*, const char*)> rename;
    std::function<int(const char*, const char*)> link;
    std::function<int(const char*, mode_t)> mkdir;
    std::function<DIR*(const char*)> opendir;
    std::function<dirent*(DIR*)> readdir;
    std::function<int(DIR*)> closedir;
    std::function<int(int, const char*, struct stat*, int)> fstatat;
    std::function<void*(void*, std::size_t, int, int, int, off_t)> mmap;
    std::function<int(void*, std::size_t)> munmap;

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

// How long an open that waits for a lock waits before it gives up (tests shorten it).
std::chrono::milliseconds& lockWaitLimit();

// Why File::open gave nothing.
enum class OpenFailure {
    Unavailable,  // missing, refused, not a regular file, or a link where none may be
    Busy          // another opener held the file for longer than the program waits
};

// An open regular file, held under an advisory lock for as long as it is open: shared for
// readers, so copies of the program never keep each other out, exclusive for writers. Every
// length and every decision about the content is taken with the lock held. Closed when
// destroyed.
class File {
  public:
    enum class Mode {
        // An existing file for reading. Refused at once while a writer holds it: an image or a
        // monitored file that someone is writing is reported as unopenable, never waited for.
        Read,
        // An existing database file for reading; waits up to lockWaitLimit() for a writer.
        ReadDatabase,
        // For reading and writing, created when missing, content kept; refused at once while
        // anyone else holds it.
        ReadWriteCreate,
        // A database file to append to: like ReadWriteCreate, but it waits for the lock, and a
        // symbolic link in the last component is refused, so an append can never land in a
        // file the link points at. created() tells whether this open made the file.
        Append,
        // A file that this open makes, for writing: refused when anything stands at the path.
        CreateNew
    };

    // Opens `path`; nothing when it cannot be opened, with the reason in `failure` when given.
    // Never blocks for longer than lockWaitLimit().
    static std::optional<File> open(const std::string& path, Mode mode,
                                    OpenFailure* failure = nullptr);

    File(File&& other) noexcept
        : fd_(other.fd_),
          length_(other.length_),
          created_(other.created_),
          modified_(other.modified_),
          changed_(other.changed_),
          device_(other.device_),
          inode_(other.inode_) {
        other.fd_ = -1;
    }
    File& operator=(File&&) = delete;
    File(const File&) = delete;
    ~File();

    // The length as measured when the lock was taken, or as set by truncate().
    std::uint64_t length() const { return length_; }
    bool created() const { return created_; }
    // The device and inode of the open file: what it is, whatever path names it.
    std::uint64_t device() const { return device_; }
    std::uint64_t inode() const { return inode_; }
    // The last-write time of the open file in whole seconds.
    std::int64_t modificationTime() const;
    // Reads up to `count` bytes from the current position and returns how many arrived; an
    // error from the operating system ends the read early, like the end of the file.
    std::size_t read(void* buffer, std::size_t count);
    // The first `length` bytes of the file mapped for reading, or null when they cannot be.
    // Reading a page of the mapping past the file's end, should it be cut short meanwhile,
    // raises SIGBUS: read it only inside readMapped.
    class Mapping;
    std::optional<Mapping> map(std::size_t length) const;
    // Whether the file still has the length, the last-write time and the last-change time it had
    // when the lock was taken: false when anyone wrote to it, cut it or grew it since (or its
    // status cannot be had). The times are taken to the nanosecond, and a status once asked for
    // makes the system stamp the next change finely, so two writes never share a time.
    bool unchangedSinceOpen() const;
    // Writes all `count` bytes, or throws FileError.
    void write(const void* buffer, std::size_t count);
    void seek(std::uint64_t offset);
    void seekEnd();
    void truncate(std::uint64_t length);
    void sync();
    // Closes the file, throwing FileError when the operating system reports a failure.
    void close();
    // Closes the file as close() does, except that after a failed close the file stays open and
    // locked (through a second descriptor), so the caller can still undo what it wrote before
    // anyone else can see it.
    void closeKeepingLockOnFailure();

  private:
    File(int fd, const struct stat& status, bool created)
        : fd_(fd),
          length_(std::uint64_t(status.st_size)),
          created_(created),
          modified_(status.st_mtim),
          changed_(status.st_ctim),
          device_(std::uint64_t(status.st_dev)),
          inode_(std::uint64_t(status.st_ino)) {}
    int fd_;
    std::uint64_t length_;
    bool created_;
    struct timespec modified_, changed_;
    std::uint64_t device_, inode_;
};

// A file's bytes mapped into memory for reading; unmapped when destroyed.
class File::Mapping {
  public:
    Mapping(const std::uint8_t* bytes, std::size_t length) : bytes_(bytes), length_(length) {}
    Mapping(Mapping&& other) noexcept : bytes_(other.bytes_), length_(other.length_) {
        other.bytes_ = nullptr;
    }
    Mapping& operator=(Mapping&&) = delete;
    ~Mapping();
    const std::uint8_t* bytes() const { return bytes_; }
    std::size_t length() const { return length_; }

  private:
    const std::uint8_t* bytes_;
    std::size_t length_;
};

// Runs `read`, which reads the bytes of `mapping`, and tells whether it ran to its end. When a
// page of the mapping cannot be had (the file was cut short while it is read, and the system
// raises SIGBUS), `read` is stopped right there, and the answer is false. `read` must not own
// anything that needs releasing, since it is not unwound but left. Any other SIGBUS goes on to
// whatever handled it before. Safe on several threads at once.
bool readMapped(const File::Mapping& mapping, const std::function<void()>& read);

// Flushes the directory entry of `path` to disk, so that a file just created survives a crash;
// throws FileError.
void syncDirectoryOf(const std::string& path);

// Removes the directory entry `path`; false when the operating system refuses.
bool removeFile(const std::string& path);

// Makes a new file beside `path` (its name plus a random part and ".tmp") for a whole file to
// be written into and then renamed over `path`, so that no reader ever sees it half written.
// Its name goes into `made`; nothing when no file can be made there.
std::optional<File> createTemporaryBeside(const std::string& path, std::string& made);

// Renames `from` to `to`, replacing whatever `to` named; false when the operating system refuses.
bool renameFile(const std::string& from, const std::string& to);

// Writes the file `path` whole through `write` (which writes into the file it is given and
// throws FileError on a failure): into a temporary file beside it, synced, then renamed over
// `path`, so a reader finds the old file or the whole new one, and a failure at any step leaves
// nothing behind. Unless `replace`, a file already at `path` is kept and the write fails with
// EEXIST. False when the file was not written, with the system's error number in `error` when
// given.
bool replaceFileWith(const std::string& path, const std::function<void(File&)>& write,
                     bool replace = true, int* error = nullptr);

// Makes the directory `path` and each missing parent, private to the user (mode 0700), as the
// XDG base-directory convention asks. True when the directory exists afterwards.
bool makeDirectories(const std::string& path);

// An open directory, read entry by entry; closed when destroyed.
class Directory {
  public:
    // Nothing when `path` cannot be opened as a directory.
    static std::optional<Directory> open(const std::string& path);
    Directory(Directory&& other) noexcept : dir_(other.dir_), failed_(other.failed_) {
        other.dir_ = nullptr;
    }
    Directory& operator=(Directory&&) = delete;
    Directory(const Directory&) = delete;
    ~Directory();

    // The next entry but "." and "..": its name, valid until the next call, and its type as the
    // directory gives it (DT_UNKNOWN where it gives none). False at the end of the listing, or
    // where the system could not read on (failed() then tells so).
    bool next(std::string_view& name, unsigned char& type);
    bool failed() const { return failed_; }
    // The status of the entry `name`, of what a link points at unless `ownStatus`; false when
    // it cannot be had. Safe on several threads at once.
    bool status(const char* name, struct stat& st, bool ownStatus = false) const;
    bool status(const std::string& name, struct stat& st, bool ownStatus = false) const {
        return status(name.c_str(), st, ownStatus);
    }

  private:
    explicit Directory(DIR* dir) : dir_(dir) {}
    DIR* dir_;
    bool failed_ = false;
};

// The physical memory of the machine in bytes: a file larger than this is never read whole.
std::uint64_t physicalMemory();

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

// `path` with its links resolved, as one name for every way of naming a file or folder; a path
// that does not exist (yet) is made absolute and spelt plainly, without a trailing slash.
std::string canonicalPath(const std::string& path);

}  // namespace chipsight
