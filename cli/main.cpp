// chipsight-cli: identifies ROM images from the terminal, over the same core as the window.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include <thread>

#include "chipsight/version.h"
#include "cli/progress.h"
#include "core/chipsight_core.h"
#include "core/file_layer.h"
#include "core/input/directory_walk.h"
#include "core/input/image_reader.h"
#include "core/number_reading.h"
#include "core/texts.h"

namespace {

using chipsight::ChipsightCore;
using chipsight::Outcome;

std::string hex8(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// What one identification found, as the object --json writes for it.
nlohmann::ordered_json toJson(const chipsight::ImageRecord& r) {
    nlohmann::ordered_json j;
    if (!r.path.empty()) j["path"] = r.path;
    j["name"] = r.name;
    j["size"] = r.size;
    j["crc"] = hex8(r.crc);
    if (r.sha1) {
        std::string digits;
        for (std::uint8_t byte : *r.sha1) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", byte);
            digits += two;
        }
        j["sha1"] = digits;
    }
    if (r.typed) {
        j["typed"] = true;
    } else {
        j["blank"] = r.blank;
        // The digits of the unused-bits warning, bit 7 first: 1 where some byte sets the bit.
        std::string bits;
        for (int bit = 7; bit >= 0; --bit) bits += char('0' + ((r.anyBits >> bit) & 1));
        j["unused_bits"] = bits;
    }
    j["found"] = r.found;
    j["matches"] = nlohmann::ordered_json::array();
    for (const chipsight::RecordPart& part : r.parts) {
        nlohmann::ordered_json p = {{"level", part.level},
                                    {"part", part.part},
                                    {"parts", part.parts},
                                    {"crc", hex8(part.crc)},
                                    {"size", part.size}};
        p["entries"] = nlohmann::ordered_json::array();
        for (const chipsight::RecordEntry& e : part.entries) {
            nlohmann::ordered_json entry = {{"name", e.name}, {"description", e.description}};
            if (!e.set.empty()) entry["set"] = e.set;
            if (!e.list.empty()) entry["list"] = e.list;
            entry["database"] = e.database;
            if (!e.status.empty()) entry["status"] = e.status;
            p["entries"].push_back(std::move(entry));
        }
        j["matches"].push_back(std::move(p));
    }
    if (!r.doctor.empty()) j["doctor"] = r.doctor;
    return j;
}

// One object a line. Texts that are not UTF-8 (file names may be anything) have their bad bytes
// replaced, as JSON holds only Unicode.
void writeJson(const nlohmann::ordered_json& j) {
    std::cout << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

// The terminal front end: the log goes to stdout as it grows, message boxes to stderr.
class TerminalFrontEnd : public chipsight::FrontEnd {
  public:
    bool crlf = false;
    bool anyMessage = false;
    // With --json: a JSON object a line on stdout for each image, lookup and failure, and no
    // report text. `current` is the file being identified, which a message may name.
    bool json = false;
    std::string current;
    // Wiped before anything else reaches the terminal.
    chipsight::cli::Progress* progress = nullptr;
    void clearProgress() {
        if (progress) progress->clear();
    }
    // Reports wipe it only when they go to the terminal too.
    void clearProgressForReport() {
        if (progress && ::isatty(STDOUT_FILENO) != 0) progress->clear();
    }

    void messageBox(const std::string& text, const std::string& caption, unsigned) override {
        clearProgress();
        if (json) {
            nlohmann::ordered_json failure;
            const std::size_t last = text.rfind('\n');
            if (!current.empty() && last != std::string::npos &&
                text.compare(last + 1, current.size(), current) == 0) {
                failure["path"] = text.substr(last + 1);
                failure["error"] = text.substr(0, last);
            } else {
                failure["error"] = text;
            }
            failure["caption"] = caption;
            writeJson(failure);
        }
        // A name in the text may hold anything a file or member name can: it is shown under the
        // report's rule, so that it cannot break the line or send the terminal commands.
        std::string line = caption + ": " + text;
        for (char& c : line)
            if (c == '\n') c = ' ';
        std::cout.flush();
        std::cerr << "chipsight-cli: " << chipsight::reportName(line) << '\n';
        anyMessage = true;
    }
    bool pull() override { return true; }
    void push() override {}
    bool wantsRecords() const override { return json; }
    void recorded(const chipsight::ImageRecord& r) override {
        clearProgressForReport();
        writeJson(toJson(r));
    }
    void logAppended(std::string_view text) override {
        if (json) return;
        clearProgressForReport();
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
        std::cerr << line
                  << chipsight::reportName(file.substr(slash == std::string::npos ? 0 : slash + 1))
                  << std::flush;
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

// What the command line asks for.
struct Options {
    std::string dbDir;
    std::vector<std::string> dats;
    bool listDatabases = false;
    int splitLevel = 1;
    bool noIgnoreBad = false, crlf = false, doctor = false, recursive = false, json = false;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::string> files;
    std::vector<std::vector<std::string>> readGroups, manual, additions;
};

// A whole number of digits only, from `low` to `high`; nothing otherwise.
std::optional<std::uint32_t> boundedNumber(const std::string& text, std::uint32_t low,
                                           std::uint32_t high) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return {};
    const std::uint32_t n = chipsight::scanDecimal(text).value_or(0);
    if (n < low || n > high) return {};
    return n;
}

// The options whose value is the next argument, whatever it starts with.
constexpr const char* kValueOptions[] = {"--db-dir", "--dat", "--split-level", "--jobs"};

// Takes --manual and --add out of the command line with the arguments they need, as they are:
// a name or a description may well begin with a dash, which the parser would take for an
// option. What is left goes to the parser; a message when one of them lacks its arguments.
std::optional<std::string> takeTypedValues(int argc, char** argv, Options& o,
                                           std::vector<char*>& rest) {
    rest.push_back(argv[0]);
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            rest.insert(rest.end(), argv + i, argv + argc);
            break;
        }
        const bool manual = arg == "--manual", add = arg == "--add";
        if (manual || add) {
            const int need = manual ? 2 : 4;
            if (argc - 1 - i < need)
                return manual ? "--manual needs CRC and SIZE"
                              : "--add needs CRC, SIZE, NAME and DESCRIPTION";
            (manual ? o.manual : o.additions).emplace_back(argv + i + 1, argv + i + 1 + need);
            i += need;
            continue;
        }
        rest.push_back(argv[i]);
        // A value that looks like --manual or --add is a value all the same.
        if (std::find(std::begin(kValueOptions), std::end(kValueOptions), arg) !=
                std::end(kValueOptions) &&
            i + 1 < argc)
            rest.push_back(argv[++i]);
    }
    return std::nullopt;
}

// The parser's complaint in the program's words: what the option named in it needs, or that an
// argument was not expected.
std::string usageMessage(const CLI::ParseError& e) {
    const std::string what = e.what();
    static const std::pair<const char*, const char*> kNeeds[] = {
        {"--db-dir", "--db-dir needs a directory"},
        {"--dat", "--dat needs a file or directory"},
        {"--split-level", "--split-level takes a number from 1 to 9"},
        {"--jobs", "--jobs takes a number from 1 to 64"},
        {"--reads", "--reads needs two or more files"},
    };
    if (dynamic_cast<const CLI::ExtrasError*>(&e) == nullptr) {
        for (const auto& [option, needs] : kNeeds)
            if (what.starts_with(std::string(option) + ":") ||
                what.find(std::string(option) + " ") != std::string::npos)
                return needs;
        // A flag given a value, or anything else the parser could not place.
        const std::size_t dash = what.find("--");
        if (dash != std::string::npos)
            return what.substr(dash, what.find_first_of(" :=", dash) - dash) + " takes no value";
    }
    const std::size_t colon = what.find(": ");
    const std::string extra = colon == std::string::npos ? what : what.substr(colon + 2);
    return (extra.starts_with("-") ? "unknown option " : "unexpected argument ") +
           chipsight::reportName(extra);
}

// Reads the command line into `o`; an exit status when the program ends here (help, version,
// a usage error).
std::optional<int> parseOptions(int argc, char** argv, Options& o) {
    CLI::App app("Identify ROM and EPROM dumps by their CRC-32 and size.", "chipsight-cli");
    app.footer(std::string("Exit status: 0 when everything was found, 1 when something was not "
                           "found, 2 on any error.\n\n") +
               chipsight::text::kDatabaseLocation);
    app.get_formatter()->column_width(26);
    std::string splitLevel, jobs;
    bool version = false;
    const char* databases = "Databases";
    const char* lookup = "Identification";
    const char* output = "Output";
    const char* other = "Other";
    auto* dbDir = app.add_option("--db-dir", o.dbDir,
                                 "read CHIPLORE.ROM, CHIPLORE.GAM and Chipsight.dat from DIR")
                      ->option_text("DIR")
                      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
                      ->group(databases);
    app.add_option("--dat", o.dats,
                   "also read the DAT file PATH, or those in the directory PATH and below; "
                   "may be given more than once")
        ->option_text("PATH")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->group(databases);
    app.add_flag("--databases", o.listDatabases,
                 "list the database files read, their entries and load times")
        ->group(databases);
    app.add_option("--split-level", splitLevel,
                   "also look up halves, quarters, ... down to 1/2^(N-1) (1 to 9, default 1)")
        ->option_text("N")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->group(lookup);
    app.add_flag("-r,--recursive", o.recursive,
                 "identify every file in the directories named and below, sorted by name; "
                 "symbolic links are not followed")
        ->group(lookup);
    app.add_flag("--no-ignore-bad", o.noIgnoreBad, "look up blank parts too")->group(lookup);
    app.add_flag("--doctor", o.doctor,
                 "after a report of a dump that is not found, add the dump doctor's lines, "
                 "starting \">> \"")
        ->group(lookup);
    // Each occurrence of these is a group of its own, kept apart when it is read.
    const auto groupsOf = [](std::vector<std::vector<std::string>>& groups) {
        return [&groups](const std::vector<std::string>& group) { groups.push_back(group); };
    };
    app.add_option_function<std::vector<std::string>>(
           "--reads", groupsOf(o.readGroups),
           "compare reads of one chip (the files up to the next option) and identify "
           "their per-bit majority, after the files; implies --doctor")
        ->option_text("FILE FILE...")
        ->expected(2, CLI::detail::expected_max_vector_size)
        ->trigger_on_parse()
        ->group(lookup);
    app.add_option_function<std::vector<std::string>>(
           "--manual", groupsOf(o.manual), "look up a typed checksum and size (after the files)")
        ->option_text("CRC SIZE")
        ->expected(2)
        ->allow_extra_args(false)
        ->trigger_on_parse()
        ->group(lookup);
    app.add_option_function<std::vector<std::string>>(
           "--add", groupsOf(o.additions), "add an entry to the custom database Chipsight.dat")
        ->option_text("CRC SIZE NAME DESCRIPTION")
        ->expected(4)
        ->allow_extra_args(false)
        ->trigger_on_parse()
        ->group(databases);
    app.add_flag("--json", o.json,
                 "write one JSON object a line for each dump, member, lookup and failure "
                 "instead of the report")
        ->group(output);
    app.add_flag("--crlf", o.crlf,
                 "write the report with CR LF line breaks, as the window's log holds it")
        ->group(output);
    app.add_option("--jobs", jobs,
                   "read and checksum up to N files at once (1 to 64, default: one per processor)")
        ->option_text("N")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->group(other);
    app.add_flag("--version", version, "show the version")->group(other);
    app.set_help_flag("--help", "show this help")->group(other);
    app.add_option("FILE", o.files, "the dumps to identify")->option_text("...");

    std::vector<char*> rest;
    if (const auto message = takeTypedValues(argc, argv, o, rest)) return usageError(*message);
    try {
        app.parse(int(rest.size()), rest.data());
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::ParseError& e) {
        return usageError(usageMessage(e));
    }
    for (const auto& group : o.readGroups)
        if (group.size() < 2) return usageError("--reads needs two or more files");
    for (const auto& group : o.manual)
        if (group.size() != 2) return usageError("--manual needs CRC and SIZE");
    for (const auto& group : o.additions)
        if (group.size() != 4) return usageError("--add needs CRC, SIZE, NAME and DESCRIPTION");
    if (version) {
        std::cout << "chipsight-cli " << chipsight::kVersion << '\n';
        return 0;
    }
    if (dbDir->count() != 0 && o.dbDir.empty()) return usageError("--db-dir needs a directory");
    for (const std::string& dat : o.dats) {
        if (dat.empty()) return usageError("--dat needs a file or directory");
        if (::access(dat.c_str(), R_OK) != 0) {
            std::cerr << "chipsight-cli: cannot read " << chipsight::reportName(dat) << ": "
                      << std::strerror(errno) << '\n';
            return 2;
        }
    }
    if (app.count("--split-level") != 0) {
        const auto level = boundedNumber(splitLevel, 1, 9);
        if (!level) return usageError("--split-level takes a number from 1 to 9");
        o.splitLevel = int(*level);
    }
    if (app.count("--jobs") != 0) {
        const auto n = boundedNumber(jobs, 1, 64);
        if (!n) return usageError("--jobs takes a number from 1 to 64");
        o.jobs = *n;
    }
    if (o.files.empty() && o.manual.empty() && o.additions.empty() && o.readGroups.empty() &&
        !o.listDatabases)
        return usageError("no FILE given");
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    Options o;
    if (const std::optional<int> status = parseOptions(argc, argv, o)) return *status;
    // With -r a directory named stands for the files under it, each named in its messages, and
    // in its report by its way down from the directory.
    std::vector<std::string> files, names;
    for (const std::string& file : o.files) {
        std::error_code error;
        if (o.recursive && std::filesystem::is_directory(file, error)) {
            for (chipsight::WalkedFile& found : chipsight::walkDirectory(file)) {
                files.push_back(std::move(found.path));
                names.push_back(std::move(found.name));
            }
        } else {
            files.push_back(file);
            names.emplace_back();
        }
    }
    const auto& manual = o.manual;
    const auto& additions = o.additions;
    const auto& readGroups = o.readGroups;
    const int splitLevel = o.splitLevel;
    const bool crlf = o.crlf, ignoreBad = !o.noIgnoreBad, doctor = o.doctor || !readGroups.empty();
    const bool listDatabases = o.listDatabases;
    const unsigned jobs = o.jobs;
    const std::string& dbDir = o.dbDir;
    std::vector<std::string>& dats = o.dats;

    // The files are read and checksummed from now on, while the databases load; their reports
    // are made below, in order.
    // The doctor and the SHA-1 of a JSON line look at the bytes after the digest: they are kept
    // from the one read.
    chipsight::ImageReader reader(files, splitLevel, jobs, doctor || o.json);
    TerminalFrontEnd frontEnd;
    frontEnd.crlf = crlf;
    frontEnd.json = o.json;
    ChipsightCore core(frontEnd, chipsight::executablePath(), files);
    if (!dbDir.empty()) core.useDatabaseDirectory(dbDir);
    for (std::string& dat : dats) core.addDatPath(std::move(dat));
    core.loadDatabases();
    if (listDatabases && o.json) {
        // A line of the listing an object.
        const std::string listing = core.databaseListing();
        for (std::size_t at = 0, end; (end = listing.find('\n', at)) != std::string::npos;
             at = end + 1)
            writeJson({{"database", listing.substr(at, end - at)}});
    } else if (listDatabases) {
        std::cout << core.databaseListing() << std::flush;
    }
    core.setSplitLevel(splitLevel);
    core.setIgnoreBad(ignoreBad);
    core.setDoctor(doctor);
    core.setNamePaths(o.recursive || o.json);

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
            std::cerr << "chipsight-cli: no database file found in "
                      << chipsight::reportName(core.database().directory) << " (looked for "
                      << chipsight::kRomTableFile << ", " << chipsight::kGameTableFile << " and "
                      << chipsight::kCustomFile << ")\n";
    }

    bool anyNotFound = false, anyFailed = false;
    // A typed pair that Ignore Bad passed over found nothing either.
    const auto note = [&](Outcome o) {
        anyNotFound |= o == Outcome::NotFound || o == Outcome::Skipped;
        anyFailed |= o == Outcome::Failed;
    };
    // What reached the terminal need not be kept.
    {
        chipsight::cli::Progress progress(files);
        frontEnd.progress = &progress;
        for (std::size_t i = 0; i < files.size(); ++i) {
            frontEnd.current = files[i];
            const chipsight::ReadAhead read = reader.take(i);
            note(core.identifyImage(files[i], read.image, names[i], read.kept()));
            core.clearLog();
            progress.done(i);
        }
        frontEnd.progress = nullptr;
    }
    frontEnd.current.clear();
    for (const auto& group : readGroups) {
        note(core.identifyReads(group));
        core.clearLog();
    }
    for (const auto& m : manual) {
        const std::string checksum = asBoxHolds(frontEnd, m[0], 8, "checksum", true);
        note(core.identifyTypedEntry(checksum, asBoxHolds(frontEnd, m[1], 10, "size", false)));
        core.clearLog();
    }
    for (const auto& a : additions) {
        const std::string checksum = asBoxHolds(frontEnd, a[0], 8, "checksum", true);
        const std::string size = asBoxHolds(frontEnd, a[1], 20, "size", false);
        const bool added = core.appendCustomEntry(checksum, size, a[2], a[3]);
        if (added && o.json) {
            // What the database holds now, which a long name or description is cut to.
            const chipsight::RomEntry stored = core.entries()[core.entries().size() - 1];
            writeJson({{"added",
                        {{"crc", hex8(stored.crc)},
                         {"size", std::to_string(stored.size)},
                         {"name", stored.nameText()},
                         {"description", stored.descriptionText()}}}});
        }
        anyFailed |= !added;
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
