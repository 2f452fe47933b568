// The terminal front end of the core: the log goes to stdout as it grows, message boxes to
// stderr, and with --json a JSON object a line instead of the report.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cli/progress.h"
#include "core/session/front_end.h"

namespace chipsight::cli {

class TerminalFrontEnd : public FrontEnd {
  public:
    bool crlf = false;
    bool anyMessage = false;
    // With --json: a JSON object a line on stdout for each image, lookup and failure, and no
    // report text. `current` is the file being identified, which a message may name.
    bool json = false;
    std::string current;
    // Wiped before anything else reaches the terminal.
    Progress* progress = nullptr;

    void messageBox(const std::string& text, const std::string& caption, unsigned) override;
    bool pull() override { return true; }
    void push() override {}
    bool wantsRecords() const override { return json; }
    void recorded(const ImageRecord& r) override;
    void boardJudged(const board::Catalogue& catalogue, std::span<const board::Dump> dumps,
                     const board::BoardAnswer& answer) override;
    void setWritten(const std::string& path, const repair::SetPlan& plan) override;
    void imagesBurnt(const repair::BurnWritten& burnt) override;
    void logAppended(std::string_view text) override;
    void setTitle(const std::string&) override {}
    void enableAddCustomButton() override {}
    int logLineCount() override { return 0; }
    void scrollLog(int) override {}
    // One line on a terminal's stderr, written over as the load goes on and wiped at its end;
    // nothing when stderr is a file or a pipe.
    void loadProgress(const std::string& file, std::uint64_t done, std::uint64_t total) override;

  private:
    void clearProgress();
    // Reports wipe it only when they go to the terminal too.
    void clearProgressForReport();
};

// A typed text as its box in the window would hold it: the box takes at most `limit`
// characters, and the checksum boxes take capitals only and keep their leading hexadecimal
// digits, with the filter's warning. What the box could not hold is said on stderr.
std::string asBoxHolds(FrontEnd& frontEnd, std::string text, std::size_t limit, const char* what,
                       bool checksum);

}  // namespace chipsight::cli
