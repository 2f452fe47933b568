// A second process for the tests of the shared custom database: appends records through the
// core, optionally stopping at one point inside the file layer until the test lets it go on, and
// with faults injected into some of its appends.
//
//   test_appender FILE BASE COUNT [before-lock | after-sync | failing-close] [fail-every K]
//
// Record k has the checksum BASE + k, the size 64 and the name "n<checksum>". For each record it
// prints "added CRC", "failed CRC" or "unopened CRC"; at the stop it prints "paused" and waits
// for a line on its input.
#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <set>
#include <string>

#include "core/custom_db.h"
#include "core/file_layer.h"
#include "core/rom_database.h"

namespace {

using chipsight::FileSystemCalls;

void pause() {
    std::cout << "paused" << std::endl;
    std::string line;
    std::getline(std::cin, line);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const std::string path = argv[1];
    const auto base = std::uint32_t(std::stoul(argv[2], nullptr, 16));
    const int count = std::stoi(argv[3]);
    std::string stop;
    int failEvery = 0;
    for (int i = 4; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "fail-every" && i + 1 < argc) {
            failEvery = std::stoi(argv[++i]);
        } else {
            stop = arg;
        }
    }

    // What the current append is to suffer: 0 none, 1 a write cut short, 2 a failing flush,
    // 3 a failing close.
    int fault = 0;
    std::size_t written = 0, writeLimit = 0;
    bool stopped = false;
    std::set<int> files;  // descriptors of `path`
    const FileSystemCalls real = FileSystemCalls::posix();
    FileSystemCalls os = real;
    os.open = [&](const char* p, int flags, mode_t mode) {
        const int fd = real.open(p, flags, mode);
        if (fd >= 0 && p == path) files.insert(fd);
        return fd;
    };
    os.flock = [&](int fd, int operation) {
        if (stop == "before-lock" && !stopped && (operation & LOCK_EX)) {
            stopped = true;
            pause();
        }
        return real.flock(fd, operation);
    };
    os.write = [&](int fd, const void* b, std::size_t n) -> ssize_t {
        if (fault == 1 && files.count(fd)) {
            if (written >= writeLimit) {
                errno = ENOSPC;
                return -1;
            }
            n = std::min(n, writeLimit - written);
            const ssize_t done = real.write(fd, b, n);
            if (done > 0) written += std::size_t(done);
            return done;
        }
        return real.write(fd, b, n);
    };
    os.fsync = [&](int fd) {
        if (fault == 2 && files.count(fd)) {
            errno = EIO;
            return -1;
        }
        const int result = real.fsync(fd);
        if (stop == "after-sync" && !stopped && files.count(fd)) {
            stopped = true;
            pause();
        }
        return result;
    };
    os.close = [&](int fd) {
        const bool ours = files.erase(fd) > 0;
        const int result = real.close(fd);
        if (ours && stop == "failing-close" && !stopped) {
            stopped = true;
            pause();
            errno = EIO;
            return -1;
        }
        if (ours && fault == 3) {
            errno = EIO;
            return -1;
        }
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
        const char* said = "added";
        switch (chipsight::appendRecord(path, entry)) {
            case chipsight::AppendResult::Added:
                break;
            case chipsight::AppendResult::WriteFailed:
                said = "failed";
                break;
            case chipsight::AppendResult::CannotOpen:
                said = "unopened";
                break;
        }
        std::cout << said << ' ' << text << std::endl;
    }
    return 0;
}
