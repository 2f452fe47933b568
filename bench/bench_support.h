// What the figures share: a temporary directory, database files of any size written byte by
// byte, a front end that does nothing, and the process's memory figures.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/session/front_end.h"
#include "core/session/session.h"

namespace bench {

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string path() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
// `size` random bytes, the same for the same seed.
std::vector<std::uint8_t> randomBytes(std::size_t size, std::uint64_t seed);

// CHIPLORE.ROM with `chips` records and CHIPLORE.GAM with `games` records in `directory`:
// random checksums, sizes that are powers of two from 256 bytes to 4 MiB, names and
// descriptions of every length their fields allow.
void writeDatabase(const std::string& directory, std::size_t chips, std::size_t games);
inline constexpr std::size_t kMaxGames = 32767;  // what the records' 16-bit index can name
// Chipsight.dat with `records` custom records in `directory`, made as writeDatabase makes chips.
void writeCustomDatabase(const std::string& directory, std::size_t records);
// Waits until files just written are older than the step of their times, as the files of any
// start after the first are: the cache then knows them by their identity. (Both writers above
// wait so.)
void settle();
// Points the cache (XDG_CACHE_HOME) of this process, and of those it starts, at a folder of the
// bench's own for `row`, made once: a row keeps its compiled databases from run to run, whatever
// other rows ran in between.
void useCacheOf(const std::string& row);

// Answers every call and shows nothing (the benchmarks clear the core's log as a terminal does
// once it has written a block out).
class NullFrontEnd : public chipsight::FrontEnd {
  public:
    void messageBox(const std::string&, const std::string&, unsigned) override { ++boxes; }
    bool pull() override { return true; }
    void push() override {}
    void setTitle(const std::string&) override {}
    void enableAddCustomButton() override {}
    int logLineCount() override { return 0; }
    void scrollLog(int) override {}

    int boxes = 0;
};

// A core over the do-nothing front end, reading its databases from `directory`.
struct QuietCore {
    explicit QuietCore(const std::string& directory);
    NullFrontEnd frontEnd;
    chipsight::Session core;
};

// The process's resident memory now, and the most it has had since the last resetPeak().
// Runs `arguments` (the program's path first) with no input, stdout to the file `output` and
// stderr to nowhere, and waits for it: its exit status, or -1 when it could not be started or
// did not exit. `peakBytes`, when given, gets the most resident memory the program had, taken
// through chipsight_run_peak (built next to the calling executable).
int runProgram(const std::vector<std::string>& arguments, const std::string& output = "/dev/null",
               std::size_t* peakBytes = nullptr);

// Starts `arguments` as runProgram does, without waiting: its process, or -1 when it could not
// be started. waitProgram waits for it and gives its exit status, or -1 when it did not exit.
pid_t startProgram(const std::vector<std::string>& arguments,
                   const std::string& output = "/dev/null");
int waitProgram(pid_t pid);

std::size_t residentBytes();
std::size_t peakResidentBytes();
// Starts a new peak at the current resident size; false when the system cannot.
bool resetPeak();

}  // namespace bench
