// The few things the core asks of whichever front end runs it (window, terminal, test).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <span>

#include "core/board/board.h"
#include "core/repair/set_writer.h"
#include "core/session/image_record.h"

namespace chipsight {

// Message-box types, with the values the program was designed against: the buttons in the low
// four bits, the icon in the next four. The window's framework takes these very names.
enum MessageBoxType : unsigned {
    MB_OK = 0x00,
    MB_OKCANCEL = 0x01,
    MB_YESNO = 0x04,
    MB_ICONSTOP = 0x10,
    MB_ICONHAND = MB_ICONSTOP,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_TYPEMASK = 0x0F,
    MB_ICONMASK = 0xF0,
};

class FrontEnd {
  public:
    virtual ~FrontEnd() = default;

    // A modal message box; returns when the user has closed it.
    virtual void messageBox(const std::string& text, const std::string& caption, unsigned type) = 0;
    // Copies the controls into the core's members; false when a control held unusable input.
    virtual bool pull() = 0;
    // Copies the core's members into the controls.
    virtual void push() = 0;
    // The log has just grown by `text` at its end (a report block and its line break). A
    // front end that shows the log through push() need not look at it; one without bound
    // controls (a terminal, a test) shows or keeps this, and needs nothing else of the core.
    virtual void logAppended(std::string_view text) { static_cast<void>(text); }
    // The DAT files have taken longer than half a second to load so far: `done` of `total`
    // bytes are read, and `file` is being read now. Called again as the load goes on, and
    // once more with `file` empty when it has ended, so the front end can show the progress
    // and take it away again.
    virtual void loadProgress(const std::string& file, std::uint64_t done, std::uint64_t total) {
        static_cast<void>(file), static_cast<void>(done), static_cast<void>(total);
    }
    // A front end that writes out what was found as data (not the report text) says so here;
    // it then hears of each image identified and each typed lookup, before its report block.
    virtual bool wantsRecords() const { return false; }
    virtual void recorded(const ImageRecord& record) { static_cast<void>(record); }
    // With records wanted: the answer for a board, before its block.
    virtual void boardJudged(const board::Catalogue& catalogue, std::span<const board::Dump> dumps,
                             const board::BoardAnswer& answer) {
        static_cast<void>(catalogue), static_cast<void>(dumps), static_cast<void>(answer);
    }
    // With records wanted: the zip of a board's set written to `path` from `plan`.
    virtual void setWritten(const std::string& path, const repair::SetPlan& plan) {
        static_cast<void>(path), static_cast<void>(plan);
    }
    // With records wanted: the images to burn written for a board, and the chips not burnt.
    virtual void imagesBurnt(const repair::BurnWritten& burnt) { static_cast<void>(burnt); }
    // A front end whose messages each wait for the user (boxes to click) says so here; it then
    // hears once per archive of its members whose length is no image's, where others hear of
    // each.
    virtual bool groupsMemberMessages() const { return false; }
    virtual void setTitle(const std::string& title) = 0;
    virtual void enableAddCustomButton() = 0;
    // Number of lines the log control shows, and scrolling it down by a number of lines.
    virtual int logLineCount() = 0;
    virtual void scrollLog(int lines) = 0;
};

}  // namespace chipsight
