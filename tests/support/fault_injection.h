// Faults for the file layer's calls: reads that stop early or fail, writes that store part of
// their bytes, failing flushes and closes, each aimed at the file of one name.
#pragma once

#include <cerrno>
#include <map>
#include <string>

#include "core/file_layer.h"

namespace chipsight::testing {

class FileFaults {
  public:
    // Reads of files whose name ends in `name` deliver at most `limit` bytes in all; then they
    // report the end of the file, or the error `error` when it is not 0.
    void limitReads(std::string name, std::size_t limit, int error = 0) {
        readName_ = std::move(name);
        readLimit_ = limit;
        readError_ = error;
    }
    // Writes to files whose name ends in `name` store at most `limit` bytes in all, then fail
    // with `error`.
    void limitWrites(std::string name, std::size_t limit, int error = ENOSPC) {
        writeName_ = std::move(name);
        writeLimit_ = limit;
        writeError_ = error;
    }
    // Opens of files whose name ends in `name` are refused with `error`, as a file without
    // permission is (running as root, the tests cannot rely on real permissions).
    void refuseOpen(std::string name, int error = EACCES) {
        openName_ = std::move(name);
        openError_ = error;
    }
    // Flushes and closes of files whose name ends in `name` fail with `error`.
    void failSync(std::string name, int error = EIO) {
        syncName_ = std::move(name);
        syncError_ = error;
    }
    void failClose(std::string name, int error = EIO) {
        closeName_ = std::move(name);
        closeError_ = error;
    }

    // Opens of each path, counted.
    int opens(const std::string& nameSuffix) const;

    FileSystemCalls calls();

  private:
    bool aimed(int fd, const std::string& name) const;

    std::map<int, std::string> paths_;
    std::map<std::string, int> opens_;
    std::string openName_, readName_, writeName_, syncName_, closeName_;
    std::size_t readLimit_ = 0, writeLimit_ = 0, readDone_ = 0, writeDone_ = 0;
    int openError_ = 0, readError_ = 0, writeError_ = 0, syncError_ = 0, closeError_ = 0;
};

// Installs `faults` into the file layer for the lifetime of the object.
class InjectedFaults {
  public:
    explicit InjectedFaults(FileFaults& faults) : scoped_(faults.calls()) {}

  private:
    ScopedFileSystemCalls scoped_;
};

}  // namespace chipsight::testing
