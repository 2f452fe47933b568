// chipsight-cli: identifies ROM images from the terminal, over the same core as the window.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <thread>

#include "chipsight/version.h"
#include "cli/image_reader.h"
#include "core/chipsight_core.h"
#include "core/file_layer.h"
#include "core/number_reading.h"
#include "core/texts.h"

namespace {

using chipsight::ChipsightCore;
using chipsight::Outcome;

constexpr const char* kUsage =
    "Usage: chipsight-cli [OPTION]... FILE...\n"
    "Identify ROM and EPROM dumps by their CRC-32 and size.\n"
    "\n"
    "  --db-dir DIR        read CHIPLORE.ROM, CHIPLORE.GAM and Chipsight.dat from DIR\n"
    "  --dat PATH          also read the DAT file PATH, or the DAT files in the directory PATH\n"
    "                      and below (MAME ListXML or software lists, Logiqx XML, ClrMamePro);\n"
    "                      may be given more than once\n"
    "  --databases         list the database files read, their entries and load times\n"
    "  --split-level N     also look up halves, quarters, ... down to 1/2^(N-1) (1 to 9, default "
    "1)\n"
    "  --no-ignore-bad     look up blank parts too\n"
    "  --crlf              write the report with CR LF line breaks, as the window's log holds it\n"
    "  --jobs N            read and checksum up to N files at once (1 to 64, default: one per\n"
    "                      processor); the reports still come in the order of the files\n"
    "  --doctor            after the report of a dump that is not found, add lines starting\n"
    "                      \">> \": the dump byte-swapped, word-swapped, bit-reversed, inverted,\n"
    "                      split into even and odd bytes or four byte lanes, or an overdump,\n"
    "                      looked up whole; entries one bit away; stuck or toggling data\n"
    "                      lines, mirrored address lines, blocks filled with 00 or FF\n"
    "  --reads FILE FILE...\n"
    "                      compare two or more reads of one chip (the files up to the next\n"
    "                      option): where they differ, then identify the per-bit majority of\n"
    "                      them, a tie going to the first read (after the files; implies\n"
    "                      --doctor)\n"
    "  --manual CRC SIZE   look up a typed checksum and size (after the files)\n"
    "  --add CRC SIZE NAME DESCRIPTION\n"
    "                      add an entry to the custom database Chipsight.dat\n"
    "  --help              show this help\n"
    "  --version           show the version\n"
    "\n"
    "Exit status: 0 when everything was found, 1 when something was not found, 2 on any error.\n";

// The terminal front end: the log goes to stdout as it grows, message boxes to stderr.
class TerminalFrontEnd : public chipsight::FrontEnd {
  public:
    bool crlf = false;
    bool anyMessage = false;

    void messageBox(const std::string& text, const std::string& caption, unsigned) override {
        std::string line = "chipsight-cli: " + caption + ": " + text;
        for (char& c : line)
            if (c == '\n') c = ' ';
        std::cout.flush();
        std::cerr << line << '\n';
        anyMessage = true;
    }
    bool pull() override { return true; }
    void push() override {}
    void logAppended(std::string_view text) override {
        if (crlf) {
            std::cout << text;
            return;
        }
        std::string out;
        out.reserve(text.size());
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
            out += text[i];
        }
        std::cout << out;
    }
    void setTitle(const std::string&) override {}
    void enableAddCustomButton() override {}
    int logLineCount() override { return 0; }
    void scrollLog(int) override {}
    // One line on a terminal's stderr, written over as the load goes on and wiped at its end;
    // nothing when stderr is a file or a pipe.
    void loadProgress(const std::string& file, std::uint64_t done, std::uint64_t total) override {
        if (::isatty(STDERR_FILENO) == 0) return;
        if (file.empty()) {
            std::cerr << "\r\033[K" << std::flush;
            return;
        }
        char line[96];
        std::snprintf(line, sizeof line,
                      "\r\033[Kchipsight-cli: loading databases, %llu of %llu MB: ",
                      static_cast<unsigned long long>(done >> 20),
                      static_cast<unsigned long long>(total >> 20));
        const std::size_t slash = file.rfind('/');
        std::cerr << line << file.substr(slash == std::string::npos ? 0 : slash + 1) << std::flush;
    }
};

// A typed text as its box in the window would hold it: the box takes at most `limit`
// characters, and the checksum boxes take capitals only and keep their leading hexadecimal
// digits, with the filter's warning. What the box could not hold is said on stderr.
std::string asBoxHolds(chipsight::FrontEnd& frontEnd, std::string text, std::size_t limit,
                       const char* what, bool checksum) {
    if (text.size() > limit) {
        text.resize(limit);
        frontEnd.messageBox(std::string("a ") + what + " box holds at most " +
                                std::to_string(limit) + " characters; read as " + text,
                            chipsight::text::kWarning, chipsight::MB_OK);
    }
    if (!checksum) return text;
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    std::string kept = chipsight::keptHexDigits(text);
    if (kept != text)
        frontEnd.messageBox(chipsight::text::kHexDigitsOnly, chipsight::text::kWarning,
                            chipsight::MB_OK);
    return kept;
}

int usageError(const std::string& message) {
    std::cerr << "chipsight-cli: " << message << "\nTry 'chipsight-cli --help'.\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::string dbDir;
    int splitLevel = 1;
    bool ignoreBad = true, crlf = false;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::string> files;
    std::vector<std::pair<std::string, std::string>> manual;
    std::vector<std::vector<std::string>> additions;
    std::vector<std::string> dats;
    bool listDatabases = false;
    bool doctor = false;
    std::vector<std::vector<std::string>> readGroups;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto needs = [&](int n) { return i + n < argc; };
        if (arg == "--help") {
            std::cout << kUsage << '\n' << chipsight::text::kDatabaseLocation;
            return 0;
        } else if (arg == "--version") {
            std::cout << "chipsight-cli " << chipsight::kVersion << '\n';
            return 0;
        } else if (arg == "--db-dir") {
            if (!needs(1) || argv[i + 1][0] == '\0')
                return usageError("--db-dir needs a directory");
            dbDir = argv[++i];
        } else if (arg == "--dat") {
            if (!needs(1) || argv[i + 1][0] == '\0')
                return usageError("--dat needs a file or directory");
            dats.emplace_back(argv[++i]);
            if (::access(dats.back().c_str(), R_OK) != 0) {
                std::cerr << "chipsight-cli: cannot read " << dats.back() << ": "
                          << std::strerror(errno) << '\n';
                return 2;
            }
        } else if (arg == "--databases") {
            listDatabases = true;
        } else if (arg == "--split-level") {
            // Digits only, read through value_or: GCC at -Os takes a conditional optional's
            // value for one that may be unset (-Wmaybe-uninitialized).
            const char* text = needs(1) ? argv[i + 1] : "";
            const bool digits =
                *text != '\0' && std::strspn(text, "0123456789") == std::strlen(text);
            const std::uint32_t level = digits ? chipsight::scanDecimal(text).value_or(0) : 0;
            if (level < 1 || level > 9)
                return usageError("--split-level takes a number from 1 to 9");
            splitLevel = int(level);
            ++i;
        } else if (arg == "--jobs") {
            const auto n = needs(1) ? chipsight::scanDecimal(argv[i + 1]) : std::nullopt;
            if (!n || std::strspn(argv[i + 1], "0123456789") != std::strlen(argv[i + 1]) ||
                *n < 1 || *n > 64)
                return usageError("--jobs takes a number from 1 to 64");
            jobs = unsigned(*n);
            ++i;
        } else if (arg == "--no-ignore-bad") {
            ignoreBad = false;
        } else if (arg == "--crlf") {
            crlf = true;
        } else if (arg == "--doctor") {
            doctor = true;
        } else if (arg == "--reads") {
            std::vector<std::string> group;
            while (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0)
                group.emplace_back(argv[++i]);
            if (group.size() < 2) return usageError("--reads needs two or more files");
            readGroups.push_back(std::move(group));
            doctor = true;
        } else if (arg == "--manual") {
            if (!needs(2)) return usageError("--manual needs CRC and SIZE");
            manual.emplace_back(argv[i + 1], argv[i + 2]);
            i += 2;
        } else if (arg == "--add") {
            if (!needs(4)) return usageError("--add needs CRC, SIZE, NAME and DESCRIPTION");
            additions.push_back({argv[i + 1], argv[i + 2], argv[i + 3], argv[i + 4]});
            i += 4;
        } else if (arg == "--") {
            files.insert(files.end(), argv + i + 1, argv + argc);
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option " + arg);
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty() && manual.empty() && additions.empty() && readGroups.empty() &&
        !listDatabases)
        return usageError("no FILE given");

    // The files are read and checksummed from now on, while the databases load; their reports
    // are made below, in order.
    chipsight::cli::ImageReader reader(files, splitLevel, jobs);
    TerminalFrontEnd frontEnd;
    frontEnd.crlf = crlf;
    ChipsightCore core(frontEnd, chipsight::executablePath(), files);
    if (!dbDir.empty()) core.useDatabaseDirectory(dbDir);
    for (std::string& dat : dats) core.addDatPath(std::move(dat));
    core.loadDatabases();
    if (listDatabases) std::cout << core.databaseListing() << std::flush;
    core.setSplitLevel(splitLevel);
    core.setIgnoreBad(ignoreBad);
    core.setDoctor(doctor);

    // With no database file at all every lookup is Not Found; say once where they were looked for.
    if (!core.commandLine().empty() || !manual.empty() || !readGroups.empty()) {
        bool anyFile = false;
        for (const char* name :
             {chipsight::kRomTableFile, chipsight::kGameTableFile, chipsight::kCustomFile})
            anyFile |=
                ::access(chipsight::resolveInDirectory(core.database().directory, name).c_str(),
                         F_OK) == 0;
        anyFile |= !core.dats().empty();
        if (!anyFile)
            std::cerr << "chipsight-cli: no database file found in " << core.database().directory
                      << " (looked for " << chipsight::kRomTableFile << ", "
                      << chipsight::kGameTableFile << " and " << chipsight::kCustomFile << ")\n";
    }

    bool anyNotFound = false, anyFailed = false;
    // A typed pair that Ignore Bad passed over found nothing either.
    const auto note = [&](Outcome o) {
        anyNotFound |= o == Outcome::NotFound || o == Outcome::Skipped;
        anyFailed |= o == Outcome::Failed;
    };
    // What reached the terminal need not be kept.
    for (std::size_t i = 0; i < files.size(); ++i) {
        note(core.identifyImage(files[i], reader.take(i)));
        core.clearLog();
    }
    for (const auto& group : readGroups) {
        note(core.identifyReads(group));
        core.clearLog();
    }
    for (const auto& [crc, size] : manual) {
        const std::string checksum = asBoxHolds(frontEnd, crc, 8, "checksum", true);
        note(core.identifyTypedEntry(checksum, asBoxHolds(frontEnd, size, 10, "size", false)));
        core.clearLog();
    }
    for (const auto& a : additions) {
        const std::string checksum = asBoxHolds(frontEnd, a[0], 8, "checksum", true);
        const std::string size = asBoxHolds(frontEnd, a[1], 20, "size", false);
        anyFailed |= !core.appendCustomEntry(checksum, size, a[2], a[3]);
    }
    errno = 0;
    std::cout.flush();
    // A report that did not reach its reader is no report.
    if (!std::cout) {
        const int cause = errno;
        std::cerr << "chipsight-cli: cannot write the report to standard output"
                  << (cause != 0 ? std::string(": ") + std::strerror(cause) : std::string())
                  << '\n';
        return 2;
    }
    if (anyFailed || frontEnd.anyMessage) return 2;
    return anyNotFound ? 1 : 0;
}
