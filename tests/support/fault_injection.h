// Faults for the file layer's calls on the files whose path ends in one name: opens refused,
// reads that stop early or fail, writes that store part of their bytes, failing flushes, closes
// and renames, directories that cannot be made (running as root, the tests cannot rely on real
// permissions or full disks).
#pragma once

#include <cstdint>
#include <string>

#include "core/sys/file_layer.h"

namespace chipsight::testing {

struct FileFaults {
    std::string name{};
    int openError = 0;  // opens fail with it when not 0
    // Reads deliver at most `readLimit` bytes in all, then the end of the file or `readError`.
    std::size_t readLimit = SIZE_MAX;
    int readError = 0;
    std::size_t writeLimit = SIZE_MAX;  // writes store at most this in all, then fail (ENOSPC)
    int syncError = 0, closeError = 0;  // flushes and closes fail with it when not 0
    int renameError = 0;                // renames from or to the file fail with it when not 0
    int mkdirError = 0;                 // making a directory of that name fails with it
};

// Installs the faults into the file layer for the lifetime of the object.
class InjectedFaults {
  public:
    explicit InjectedFaults(FileFaults faults);

  private:
    ScopedFileSystemCalls scoped_;
};

}  // namespace chipsight::testing
