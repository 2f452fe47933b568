// Helpers shared by the test suites: temporary directories, database files built byte by byte,
// and a front end that records every call the core makes, in order.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/databases/dat/dat_store.h"
#include "core/databases/rom_database.h"
#include "core/session/front_end.h"
#include "core/session/session.h"

namespace chipsight::testing {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;

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

// The environment variable `name` set to `value` (unset for nullptr) while the object lives.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> before_;
};

void writeFile(const std::string& path, const Bytes& bytes);
void writeFile(const std::string& path, const std::string& text);
Bytes readFile(const std::string& path);
std::string readText(const std::string& path);
Bytes bytesOf(const std::string& text);
void append(Bytes& to, const Bytes& more);
Bytes join(std::initializer_list<Bytes> parts);

// Records as the database files store them.
Bytes romEntryBytes(std::uint32_t crc, std::uint32_t size, const std::string& name,
                    const std::string& description);
Bytes romTableBytes(std::int16_t gameIndex, const std::string& name, std::uint32_t crc,
                    std::uint32_t size);
Bytes gameBytes(const std::string& description);

// A block as DatStoreBuilder::finish makes it, opened as a cache is: nullptr when refused.
std::shared_ptr<const DatStore> openStore(std::span<const std::uint8_t> block);

// The window title for `count` entries.
std::string title(int count);
// `prefix` followed by the decimal digits of `n` (prefix + std::to_string(n) makes GCC 12 at -O3
// warn of an overlapping copy that cannot happen).
std::string numbered(std::string_view prefix, long long n);
RomEntry makeEntry(std::uint32_t crc, std::uint32_t size, const std::string& name,
                   const std::string& description);
Bytes randomBytes(std::size_t size, std::mt19937& rng);
inline Bytes randomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 rng(seed);
    return randomBytes(size, rng);
}
// `value` printed by `format` ("%08x", "%X", ...); bytes, and the SHA-1 of bytes, in lower-case
// hex digits.
std::string hexText(std::uint32_t value, const char* format = "%08x");
std::string hexBytes(std::span<const std::uint8_t> bytes);
std::string sha1Hex(std::span<const std::uint8_t> bytes);
// The CRC-32 of all of `bytes`.
std::uint32_t crcOf(std::span<const std::uint8_t> bytes);
// How many times `what` starts in `text`.
int occurrences(std::string_view text, std::string_view what);

// One call the core made on its front end: "messageBox", "pull", "push", "setTitle", "enable"
// or "scroll".
struct Call {
    std::string what, text{}, caption{};
    unsigned type = 0;
    int lines = 0;
    bool operator==(const Call&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Call& call);
inline Call box(std::string text, std::string caption, unsigned type) {
    return {"messageBox", std::move(text), std::move(caption), type};
}
inline Call scrolled(int lines) { return {"scroll", {}, {}, 0, lines}; }
using Calls = std::vector<Call>;

// Keeps every call in order; `shownLog` holds every block the log received.
class RecordingFrontEnd : public FrontEnd {
  public:
    void messageBox(const std::string& text, const std::string& caption, unsigned type) override {
        calls.push_back(box(text, caption, type));
    }
    bool pull() override { return calls.push_back({"pull"}), true; }
    void push() override { calls.push_back({"push"}); }
    void logAppended(std::string_view text) override { shownLog += text; }
    void setTitle(const std::string& newTitle) override {
        calls.push_back({"setTitle", title = newTitle});
    }
    void enableAddCustomButton() override { calls.push_back({"enable"}), buttonEnabled = true; }
    // An edit control shows one line more than the text has line breaks.
    int logLineCount() override {
        return 1 + int(std::count(shownLog.begin(), shownLog.end(), '\n'));
    }
    void scrollLog(int lines) override { calls.push_back(scrolled(lines)); }
    // The file and the share read, in percent.
    void loadProgress(const std::string& file, std::uint64_t done, std::uint64_t total) override {
        calls.push_back(
            {"progress", file, {}, 0, int(done * 100 / std::max<std::uint64_t>(total, 1))});
    }

    Calls boxes() const;  // the message boxes shown, in order

    Calls calls;
    std::string title, shownLog;
    bool buttonEnabled = false;
};

// The core as the window's dialog holds it: the dialog's data exchange writes the core's
// members directly, and a test standing in for that dialog does the same.
using BoundCore = Session;

// A core over the database files in `dir`, recorded by `frontEnd`.
struct CoreFixture {
    explicit CoreFixture(const TempDir& dir) : core(frontEnd, dir.programPath(), {}) {}
    RecordingFrontEnd frontEnd;
    BoundCore core;
};

// A test of a core in a directory of its own.
class CoreTest : public ::testing::Test {
  protected:
    TempDir dir;
    CoreFixture fixture{dir};
    BoundCore& core = fixture.core;
    RecordingFrontEnd& ui = fixture.frontEnd;
};

}  // namespace chipsight::testing
