// A second process for the tests of the shared custom database: appends records through the
// core, optionally held at one point inside the file layer until the test lets it go on, and
// with faults injected into some of its appends.
//
//   test_appender FILE BASE COUNT [before-lock | after-sync | failing-close] [fail-every K]
//
// Record k has the checksum BASE + k, the size 64, the name "n<checksum>" and the description
// "appender". For each it prints "added CRC", "failed CRC" or "unopened CRC"; at the hold it
// prints "paused" and waits for a line on its input.
#include <sys/file.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <set>
#include <string>

#include "core/databases/custom_db.h"
#include "core/sys/file_layer.h"

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const std::string path = argv[1], stop = argc > 4 ? argv[4] : "";
    const auto base = std::uint32_t(std::stoul(argv[2], nullptr, 16));
    const int count = std::stoi(argv[3]);
    const int failEvery = stop == "fail-every" && argc > 5 ? std::stoi(argv[5]) : 0;

    // What the current append suffers: 0 nothing, 1 a write cut short, 2 a failing flush, 3 a
    // failing close.
    int fault = 0;
    std::size_t written = 0, writeLimit = 0;
    bool held = false;
    const auto holdAt = [&](const char* point) {
        if (stop != point || held) return false;
        held = true;
        std::cout << "paused" << std::endl;
        std::string line;
        std::getline(std::cin, line);
        return true;
    };
    std::set<int> files;  // descriptors of `path`
    const chipsight::FileSystemCalls real = chipsight::FileSystemCalls::posix();
    chipsight::FileSystemCalls os = real;
    os.open = [&](const char* p, int flags, mode_t mode) {
        const int fd = real.open(p, flags, mode);
        if (fd >= 0 && p == path) files.insert(fd);
        return fd;
    };
    os.flock = [&](int fd, int operation) {
        if (operation & LOCK_EX) holdAt("before-lock");
        return real.flock(fd, operation);
    };
    os.write = [&](int fd, const void* b, std::size_t n) -> ssize_t {
        if (fault != 1 || !files.count(fd)) return real.write(fd, b, n);
        if (written >= writeLimit) return errno = ENOSPC, -1;
        const ssize_t done = real.write(fd, b, std::min(n, writeLimit - written));
        if (done > 0) written += std::size_t(done);
        return done;
    };
    os.fsync = [&](int fd) {
        if (fault == 2 && files.count(fd)) return errno = EIO, -1;
        const int result = real.fsync(fd);
        if (files.count(fd)) holdAt("after-sync");
        return result;
    };
    os.close = [&](int fd) {
        const bool ours = files.erase(fd) > 0;
        const int result = real.close(fd);
        if (ours && (holdAt("failing-close") || fault == 3)) return errno = EIO, -1;
        return result;
    };
    chipsight::ScopedFileSystemCalls injected(os);

    for (int k = 0; k < count; ++k) {
        chipsight::RomEntry entry;
        entry.crc = base + std::uint32_t(k);
        entry.size = 64;
        char text[24];
        std::snprintf(text, sizeof text, "%08X", entry.crc);
        chipsight::writeField(entry.name, std::string("n") + text);
        chipsight::writeField(entry.description, "appender");
        fault = failEvery > 0 && k % failEvery == failEvery - 1 ? 1 + (k / failEvery) % 3 : 0;
        written = 0;
        writeLimit = std::size_t(k * 37) % chipsight::RomEntry::kSize;
        const auto result = chipsight::appendRecord(path, entry);
        std::cout << (result == chipsight::AppendResult::Added         ? "added "
                      : result == chipsight::AppendResult::WriteFailed ? "failed "
                                                                       : "unopened ")
                  << text << std::endl;
    }
    return 0;
}
