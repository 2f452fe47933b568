// Drawing and wiping the progress line.
#include "cli/progress.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace chipsight::cli {
namespace {

// A number of bytes in the largest unit that keeps it above 1.
std::string amount(double bytes) {
    const char* units[] = {"B", "KB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) bytes /= 1024, ++unit;
    char text[32];
    std::snprintf(text, sizeof text, unit ? "%.1f %s" : "%.0f %s", bytes, units[unit]);
    return text;
}

}  // namespace

Progress::Progress(const std::vector<std::string>& files)
    : enabled_(::isatty(STDERR_FILENO) != 0), start_(std::chrono::steady_clock::now()) {
    if (!enabled_) return;
    // The lengths as they are now: a file that is away or changes only makes the estimate off.
    sizes_.reserve(files.size());
    for (const std::string& file : files) {
        struct stat status {};
        const bool regular = ::stat(file.c_str(), &status) == 0 && S_ISREG(status.st_mode);
        sizes_.push_back(regular ? std::uint64_t(status.st_size) : 0);
        total_ += sizes_.back();
    }
}

void Progress::done(std::size_t i) {
    if (!enabled_) return;
    ++filesDone_;
    bytesDone_ += i < sizes_.size() ? sizes_[i] : 0;
    const auto now = std::chrono::steady_clock::now();
    // Shown once the run has taken a second, and drawn at most ten times a second.
    if (now - start_ < std::chrono::seconds(1) ||
        (shown_ && now - drawn_ < std::chrono::milliseconds(100)))
        return;
    drawn_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = bytesDone_ / seconds;
    std::string line = "\r\033[Kchipsight-cli: " + std::to_string(filesDone_) + " of " +
                       std::to_string(sizes_.size()) + " files, " + amount(double(bytesDone_)) +
                       " of " + amount(double(total_)) + ", " + amount(rate) + "/s";
    if (rate > 0) {
        char left[32];
        std::snprintf(left, sizeof left, ", %.0f s left", double(total_ - bytesDone_) / rate);
        line += left;
    }
    std::cout.flush();
    std::cerr << line << std::flush;
    shown_ = true;
}

void Progress::clear() {
    if (!shown_) return;
    std::cerr << "\r\033[K" << std::flush;
    shown_ = false;
}

}  // namespace chipsight::cli
