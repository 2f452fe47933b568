// The command line's images, read and digested on worker threads ahead of their reports, which
// the main thread still makes one after another in argument order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/image_file.h"

namespace chipsight::cli {

class ImageReader {
  public:
    // Starts reading `paths` (kept by reference) at `splitLevel` levels on `threads` threads in
    // all, the caller's among them: `threads` - 1 workers read ahead, and the caller, while the
    // file it takes is not read yet, reads the next one that no worker has started on. With one
    // thread or fewer, each file is read on the caller's thread when it is taken.
    ImageReader(const std::vector<std::string>& paths, int splitLevel, unsigned threads);
    // Stops the workers, and waits for the files they are reading.
    ~ImageReader();
    ImageReader(const ImageReader&) = delete;
    ImageReader& operator=(const ImageReader&) = delete;

    // The read of file `i`, reading it or waiting for it. Files are taken in order, each once.
    ImageFile take(std::size_t i);

  private:
    // How far the workers may read ahead of the file last taken: enough to keep them busy
    // while one report is made, little enough that digests waiting take little memory.
    static constexpr std::size_t kAhead = 64;

    void work();

    const std::vector<std::string>& paths_;
    const int splitLevel_;
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    // Reads done and not yet taken, by file number modulo kAhead.
    std::vector<ImageFile> slots_;
    std::vector<bool> filled_;
    std::size_t claimed_ = 0;  // files handed to a worker so far
    std::size_t taken_ = 0;    // files taken so far
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace chipsight::cli
