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
            image = readImageFile(paths_[i], splitLevel_, true);
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
    if (workers_.empty()) return readImageFile(paths_[i], splitLevel_, true);
    std::unique_lock<std::mutex> lock(mutex_);
    // While file i is not read yet, the caller reads the next file that no worker has started
    // on, rather than sleep and be woken for each file.
    while (!filled_[i % kAhead]) {
        if (claimed_ < paths_.size() && claimed_ < taken_ + kAhead) {
            const std::size_t j = claimed_++;
            lock.unlock();
            ImageFile image;
            try {
                image = readImageFile(paths_[j], splitLevel_, true);
            } catch (const std::bad_alloc&) {
                image.status = ImageStatus::OutOfMemory;
            }
            lock.lock();
            slots_[j % kAhead] = std::move(image);
            filled_[j % kAhead] = true;
            continue;
        }
        ready_.wait(lock);
    }
    ImageFile image = std::move(slots_[i % kAhead]);
    filled_[i % kAhead] = false;
    taken_ = i + 1;
    lock.unlock();
    room_.notify_all();
    return image;
}

}  // namespace chipsight::cli
