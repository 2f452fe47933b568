// Worker threads that read the next files while the reports of earlier ones are made.
#include "cli/image_reader.h"

#include <new>
#include <system_error>

namespace chipsight::cli {

ImageReader::ImageReader(const std::vector<std::string>& paths, int splitLevel, unsigned threads)
    : paths_(paths), splitLevel_(splitLevel), slots_(kAhead), filled_(kAhead, false) {
    if (threads <= 1 || paths.empty()) return;
    try {
        // The caller's thread reads too, whenever the next file it takes is not yet read.
        for (unsigned t = 1; t < threads; ++t) workers_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
        // Fewer threads than asked for: those that started do the work, or take() does.
    }
}

ImageReader::~ImageReader() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    room_.notify_all();
    for (auto& worker : workers_) worker.join();
}

void ImageReader::work() {
    for (;;) {
        std::size_t i;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            room_.wait(lock, [&] {
                return stopping_ || claimed_ == paths_.size() || claimed_ < taken_ + kAhead;
            });
            if (stopping_ || claimed_ == paths_.size()) return;
            i = claimed_++;
        }
        ImageFile image;
        try {
            image = readImageFile(paths_[i], splitLevel_);
        } catch (const std::bad_alloc&) {
            image.status = ImageStatus::OutOfMemory;
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            slots_[i % kAhead] = std::move(image);
            filled_[i % kAhead] = true;
        }
        ready_.notify_all();
    }
}

ImageFile ImageReader::take(std::size_t i) {
    if (workers_.empty()) return readImageFile(paths_[i], splitLevel_);
    ImageFile image;
    std::unique_lock<std::mutex> lock(mutex_);
    if (claimed_ == i) {
        // No worker has got to it yet: the caller reads it itself rather than wait.
        ++claimed_;
        lock.unlock();
        try {
            image = readImageFile(paths_[i], splitLevel_);
        } catch (const std::bad_alloc&) {
            image.status = ImageStatus::OutOfMemory;
        }
        lock.lock();
    } else {
        ready_.wait(lock, [&] { return bool(filled_[i % kAhead]); });
        image = std::move(slots_[i % kAhead]);
        filled_[i % kAhead] = false;
    }
    taken_ = i + 1;
    lock.unlock();
    room_.notify_all();
    return image;
}

}  // namespace chipsight::cli
