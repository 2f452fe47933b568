// The progress line of a long run on a terminal's stderr.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace chipsight::cli {

// After a second, one line on stderr, written over as files are done: files done of all, bytes,
// the rate and the time left. Nothing when stderr is not a terminal, so that a pipe or a file
// never receives it.
class Progress {
  public:
    explicit Progress(const std::vector<std::string>& files);
    ~Progress() { clear(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // File `i` has been identified.
    void done(std::size_t i);
    // Takes the line away, before anything else is written to the terminal and at the end.
    void clear();

  private:
    bool enabled_;
    bool shown_ = false;
    std::vector<std::uint64_t> sizes_;
    std::uint64_t total_ = 0, bytesDone_ = 0;
    std::size_t filesDone_ = 0;
    std::chrono::steady_clock::time_point start_, drawn_;
};

}  // namespace chipsight::cli
