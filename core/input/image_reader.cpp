// Worker threads that read the next files while the reports of earlier ones are made.
#include "core/input/image_reader.h"

#include <algorithm>
#include <new>
#include <system_error>

namespace chipsight {

ImageReader::ImageReader(const std::vector<std::string>& paths, int splitLevel, unsigned threads,
                         bool keepBytes)
    : paths_(paths),
      splitLevel_(splitLevel),
      keepBytes_(keepBytes),
      // Kept bytes are up to 64 MiB a file: then two files a thread are enough to keep busy.
      ahead_(keepBytes ? std::max<std::size_t>(2, 2 * std::size_t(threads)) : kAhead),
      slots_(ahead_) {
    if (threads <= 1 || paths.empty()) return;
    // As many as there can be rooms: a room taken back never needs memory.
    spare_.reserve(ahead_ + threads + 1);
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
    std::unique_ptr<ReadAhead> image;
    for (;;) {
        // The read's room is had before a file is claimed: without memory for it, this worker
        // stops, and the files no worker claimed are read by take().
        if (!image) image.reset(new (std::nothrow) ReadAhead);
        if (!image) return;
        std::size_t i;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            room_.wait(lock, [&] {
                return stopping_ || claimed_ == paths_.size() || claimed_ < taken_ + ahead_;
            });
            if (stopping_ || claimed_ == paths_.size()) return;
            i = claimed_++;
        }
        *image = read(i);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            slots_[i % ahead_] = std::move(image);
            image = spare();
        }
        ready_.notify_all();
    }
}

std::unique_ptr<ReadAhead> ImageReader::spare() {
    if (spare_.empty()) return nullptr;
    std::unique_ptr<ReadAhead> room = std::move(spare_.back());
    spare_.pop_back();
    return room;
}

ReadAhead ImageReader::read(std::size_t i) const {
    ReadAhead image;
    try {
        image.image =
            readImageFile(paths_[i], splitLevel_, true, keepBytes_ ? &image.bytes : nullptr);
    } catch (const std::bad_alloc&) {
        image.image.status = ImageStatus::OutOfMemory;
    }
    return image;
}

ReadAhead ImageReader::take(std::size_t i) {
    if (workers_.empty()) return read(i);
    std::unique_lock<std::mutex> lock(mutex_);
    // While file i is not read yet, the caller reads the next file that no worker has started
    // on, rather than sleep and be woken for each file; file i itself it hands over at once.
    while (!slots_[i % ahead_]) {
        if (claimed_ < paths_.size() && claimed_ < taken_ + ahead_) {
            std::unique_ptr<ReadAhead> room;
            if (claimed_ != i && !(room = spare())) room.reset(new (std::nothrow) ReadAhead);
            if (claimed_ == i || room) {
                const std::size_t j = claimed_++;
                lock.unlock();
                ReadAhead image = read(j);
                lock.lock();
                if (j == i) return handOver(std::move(image), i, lock);
                *room = std::move(image);
                slots_[j % ahead_] = std::move(room);
                continue;
            }
        }
        ready_.wait(lock);
    }
    ReadAhead image = std::move(*slots_[i % ahead_]);
    // Its room serves the next read.
    spare_.push_back(std::move(slots_[i % ahead_]));
    return handOver(std::move(image), i, lock);
}

ReadAhead ImageReader::handOver(ReadAhead image, std::size_t i,
                                std::unique_lock<std::mutex>& lock) {
    taken_ = i + 1;
    lock.unlock();
    room_.notify_all();
    return image;
}

}  // namespace chipsight
