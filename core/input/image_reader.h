// A list of images, read and digested on worker threads ahead of their reports, which the
// caller's thread still makes one after another in the list's order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/input/image_file.h"

namespace chipsight {

// A file as read ahead: its read, and its bytes when they were to be kept and could be.
struct ReadAhead {
    ImageFile image;
    std::vector<std::uint8_t> bytes;
    // The bytes identified, when they were kept.
    const std::vector<std::uint8_t>* kept() const {
        return image.status == ImageStatus::Read && bytes.size() == image.length ? &bytes : nullptr;
    }
};

class ImageReader {
  public:
    // Starts reading `paths` (kept by reference) at `splitLevel` levels on `threads` threads in
    // all, the caller's among them: `threads` - 1 workers read ahead, and the caller, while the
    // file it takes is not read yet, reads the next one that no worker has started on. With one
    // thread or fewer, each file is read on the caller's thread when it is taken. With
    // `keepBytes`, an image's bytes are kept as readImageFile keeps them, for whoever looks at
    // them after the digest, and fewer files are read ahead, as each holds its bytes.
    ImageReader(const std::vector<std::string>& paths, int splitLevel, unsigned threads,
                bool keepBytes = false);
    // Stops the workers, and waits for the files they are reading.
    ~ImageReader();
    ImageReader(const ImageReader&) = delete;
    ImageReader& operator=(const ImageReader&) = delete;

    // The read of file `i`, reading it or waiting for it. Files are taken in order, each once.
    ReadAhead take(std::size_t i);

  private:
    // How far the workers may read ahead of the file last taken. The first files are taken only
    // once the databases are loaded, which with thousands of DATs takes as long as reading a
    // thousand files: the workers read them meanwhile. A digest waiting takes 2 KiB, so this
    // many take at most 8 MiB.
    static constexpr std::size_t kAhead = 4096;

    void work();
    ReadAhead read(std::size_t i) const;
    // A room taken off the spares, under the lock; none when there is none.
    std::unique_ptr<ReadAhead> spare();
    // Hands over the read `image` of file i, taken under `lock`, which it releases.
    ReadAhead handOver(ReadAhead image, std::size_t i, std::unique_lock<std::mutex>& lock);

    const std::vector<std::string>& paths_;
    const int splitLevel_;
    const bool keepBytes_;
    const std::size_t ahead_;
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    // Reads done and not yet taken, by file number modulo ahead_; each made as it is first
    // needed, so that room for thousands costs nothing until it is used, and kept among the
    // spares once taken, so that a long list costs no allocation a file.
    std::vector<std::unique_ptr<ReadAhead>> slots_, spare_;
    std::size_t claimed_ = 0;  // files handed to a worker so far
    std::size_t taken_ = 0;    // files taken so far
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace chipsight
