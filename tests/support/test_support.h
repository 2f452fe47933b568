// Helpers shared by the test suites: temporary directories, database files built byte by byte,
// and a front end that records every call the core makes, in order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/chipsight_core.h"
#include "core/front_end.h"
#include "core/rom_database.h"

namespace chipsight::testing {

using Bytes = std::vector<std::uint8_t>;

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    // A path inside the directory as if it were the program's executable.
    std::string programPath() const { return file("chipsight"); }

  private:
    std::filesystem::path path_;
};

void writeFile(const std::string& path, const Bytes& bytes);
void writeFile(const std::string& path, const std::string& text);
Bytes readFile(const std::string& path);

Bytes bytesOf(const std::string& text);
void append(Bytes& to, const Bytes& more);

// Records as the database files store them.
Bytes romEntryBytes(std::uint32_t crc, std::uint32_t size, const std::string& name,
                    const std::string& description);
Bytes romTableBytes(std::int16_t gameIndex, const std::string& name, std::uint32_t crc,
                    std::uint32_t size);
Bytes gameBytes(const std::string& description);

// The window title for `count` entries.
std::string title(int count);

// `prefix` followed by the decimal digits of `n`. (Written as prefix + std::to_string(n), GCC
// 12 at -O3 warns of an overlapping copy that cannot happen, and -Werror stops the build.)
std::string numbered(std::string_view prefix, long long n);

RomEntry makeEntry(std::uint32_t crc, std::uint32_t size, const std::string& name,
                   const std::string& description);

// One call the core made on its front end.
struct Call {
    Call(std::string what, std::string text = {}, std::string caption = {}, unsigned type = 0,
         int lines = 0)
        : what(std::move(what)),
          text(std::move(text)),
          caption(std::move(caption)),
          type(type),
          lines(lines) {}

    std::string what;  // "messageBox", "pull", "push", "setTitle", "enable", "scroll"
    std::string text;
    std::string caption;
    unsigned type;
    int lines;

    bool operator==(const Call&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Call& call);

Call box(std::string text, std::string caption, unsigned type);
Call scrolled(int lines);

// Keeps every call in order; the log control holds the core's log text as of the last push.
class RecordingFrontEnd : public FrontEnd {
  public:
    void messageBox(const std::string& text, const std::string& caption, unsigned type) override;
    bool pull() override;
    void push() override;
    void logAppended(std::string_view text) override;
    void setTitle(const std::string& title) override;
    void enableAddCustomButton() override;
    int logLineCount() override;
    void scrollLog(int lines) override;

    // The message boxes shown, in order.
    std::vector<Call> boxes() const;
    int count(const std::string& what) const;

    std::vector<Call> calls;
    std::string title;
    bool buttonEnabled = false;
    std::string shownLog;  // every block the log received, in order
};

// The core as the window's dialog holds it: the dialog's data exchange writes the core's
// members directly, and a test standing in for that dialog does the same.
struct BoundCore : ChipsightCore {
    using ChipsightCore::ChipsightCore;
    using ChipsightCore::m_entries, ChipsightCore::m_entryCount, ChipsightCore::m_programDir,
        ChipsightCore::m_logText, ChipsightCore::m_monitorFile, ChipsightCore::m_splitLevel,
        ChipsightCore::m_ignoreBad, ChipsightCore::m_lastCrc, ChipsightCore::m_lastSize,
        ChipsightCore::m_lastFileName, ChipsightCore::m_progressDelay;
};

// A core over the database files in `dir`, recorded by `frontEnd`.
struct CoreFixture {
    explicit CoreFixture(const TempDir& dir, std::vector<std::string> arguments = {});
    RecordingFrontEnd frontEnd;
    BoundCore core;
};

}  // namespace chipsight::testing
