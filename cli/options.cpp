// Reading the command line with CLI11; its complaints are said in the program's words.
#include "cli/options.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "chipsight/version.h"
#include "core/identify/identify.h"
#include "core/identify/texts.h"
#include "core/repair/burn.h"
#include "core/sys/number_reading.h"

namespace chipsight::cli {
namespace {

constexpr const char* kBadHash = "--manual-hash takes a SHA-1 (40 hex digits) or an MD5 (32)";

int usageError(const std::string& message) {
    std::cerr << "chipsight-cli: " << message << "\nTry 'chipsight-cli --help'.\n";
    return 2;
}

// A whole number of digits only, from `low` to `high`; nothing otherwise.
std::optional<std::uint32_t> boundedNumber(const std::string& text, std::uint32_t low,
                                           std::uint32_t high) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return {};
    const std::uint32_t n = scanDecimal(text).value_or(0);
    if (n < low || n > high) return {};
    return n;
}

// The options whose value is the next argument, whatever it starts with.
constexpr const char* kValueOptions[] = {
    "--db-dir", "--dat",   "--split-level", "--jobs",        "--reads-rule", "--write-set",
    "--burn",   "--eprom", "--collection",  "--cache-limit", "--manual-hash"};

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
        {"--reads-rule", "--reads-rule takes majority or and"},
        {"--reads", "--reads needs two or more files"},
        {"--board", "--board needs a file, folder or archive"},
        {"--write-set", "--write-set needs a directory"},
        {"--burn", "--burn needs a directory"},
        {"--collection", "--collection needs a folder, archive or file"},
        {"--cache-limit", "--cache-limit takes a size such as 500M or 2G"},
        {"--eprom", "--eprom needs an EPROM type"},
        {"--manual-hash", kBadHash},
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
           reportName(extra);
}

}  // namespace

std::optional<int> parseOptions(int argc, char** argv, Options& o) {
    CLI::App app("Identify ROM and EPROM dumps by their CRC-32 and size.", "chipsight-cli");
    app.footer(std::string("Exit status: 0 when everything was found, 1 when something was not "
                           "found, 2 on any error.\n\n") +
               text::kDatabaseLocation);
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
           "--board", groupsOf(o.boards),
           "identify the files, folders (walked as with -r) and archives up to the next option "
           "as the dumps of one board, then say which sets it is, ranked, and the state of each "
           "chip of the best; after the files")
        ->option_text("PATH...")
        ->expected(1, CLI::detail::expected_max_vector_size)
        ->trigger_on_parse()
        ->group(lookup);
    app.add_option("--write-set", o.writeSet,
                   "with --board: write the best set as DIR/SET.zip (DIR/LIST/ITEM.zip for a "
                   "software list's item), every chip found under the name the set gives it")
        ->option_text("DIR")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->group(lookup);
    app.add_option("--collection", o.collection,
                   "with --board: your own ROM sets (a folder, archive or file; may be given more "
                   "than once), from which --write-set and --burn take the chips the board lacks")
        ->option_text("PATH")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->group(lookup);
    std::string cacheLimit;
    app.add_option("--cache-limit", cacheLimit,
                   "keep the compiled DATs, catalogues and collection indexes under SIZE bytes "
                   "(a K, M or G after the number: 1024 of the one before; default 2G); those "
                   "unused for 30 days go whatever the size")
        ->option_text("SIZE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->group(databases);
    app.add_option("--burn", o.burn,
                   "with --board: write the image to program for each chip of the best set that "
                   "is missing, bad or bits off, as DIR/SET/ROM, with its CRC-32 and byte sums")
        ->option_text("DIR")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->group(lookup);
    app.add_option("--eprom", o.eprom,
                   "fit the images of --burn to this EPROM (" + repair::epromPartNames() +
                       "): repeated to fill it, a 16-bit ROM split into even and odd bytes for "
                       "8-bit parts")
        ->option_text("TYPE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->group(lookup);
    app.add_flag("--force", o.force,
                 "let --write-set and --burn replace a file that is there already")
        ->group(lookup);
    std::string readsRule;
    app.add_option("--reads-rule", readsRule,
                   "how --reads makes one image: majority (each bit as most reads have it, the "
                   "default) or and (0 wherever any read has 0, as an EPROM loses charge)")
        ->option_text("RULE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->group(lookup);
    app.add_option_function<std::vector<std::string>>(
           "--manual", groupsOf(o.manual), "look up a typed checksum and size (after the files)")
        ->option_text("CRC SIZE")
        ->expected(2)
        ->allow_extra_args(false)
        ->trigger_on_parse()
        ->group(lookup);
    std::vector<std::string> manualHashes;
    app.add_option("--manual-hash", manualHashes,
                   "look up a typed SHA-1 (40 hex digits) or MD5 (32) among the DATs' entries "
                   "(after the files); may be given more than once")
        ->option_text("HASH")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
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
        std::cout << "chipsight-cli " << kVersion << '\n';
        return 0;
    }
    for (const std::string& text : manualHashes) {
        const auto hash = readTypedHash(text);
        if (!hash) return usageError(kBadHash);
        o.manualHashes.push_back(*hash);
    }
    if (dbDir->count() != 0 && o.dbDir.empty()) return usageError("--db-dir needs a directory");
    for (const std::string& dat : o.dats) {
        if (dat.empty()) return usageError("--dat needs a file or directory");
        if (::access(dat.c_str(), R_OK) != 0) {
            std::cerr << "chipsight-cli: cannot read " << reportName(dat) << ": "
                      << std::strerror(errno) << '\n';
            return 2;
        }
    }
    if (app.count("--split-level") != 0) {
        const auto level = boundedNumber(splitLevel, 1, 9);
        if (!level) return usageError("--split-level takes a number from 1 to 9");
        o.splitLevel = int(*level);
    }
    if (app.count("--reads-rule") != 0) {
        if (readsRule != "majority" && readsRule != "and")
            return usageError("--reads-rule takes majority or and");
        o.readsAnd = readsRule == "and";
    }
    if (app.count("--write-set") != 0 && (o.writeSet.empty() || o.boards.empty()))
        return usageError(o.writeSet.empty() ? "--write-set needs a directory"
                                             : "--write-set needs --board");
    if (app.count("--cache-limit") != 0) {
        std::uint64_t scale = 1;
        std::string digits = cacheLimit;
        const std::size_t unit = digits.empty()
                                     ? std::string::npos
                                     : std::string("KMG").find(char(std::toupper(digits.back())));
        if (unit != std::string::npos) {
            scale = std::uint64_t(1) << (10 * (unit + 1));
            digits.pop_back();
        }
        const auto n = boundedNumber(digits, 0, 0xFFFFFFFFu);
        if (!n) return usageError("--cache-limit takes a size such as 500M or 2G");
        o.cacheLimit = *n * scale;
    }
    if (app.count("--burn") != 0 && (o.burn.empty() || o.boards.empty()))
        return usageError(o.burn.empty() ? "--burn needs a directory" : "--burn needs --board");
    if (app.count("--eprom") != 0 && !repair::epromPart(o.eprom))
        return usageError("--eprom takes one of " + repair::epromPartNames());
    if (app.count("--jobs") != 0) {
        const auto n = boundedNumber(jobs, 1, 64);
        if (!n) return usageError("--jobs takes a number from 1 to 64");
        o.jobs = *n;
    }
    if (o.files.empty() && o.manual.empty() && o.manualHashes.empty() && o.additions.empty() &&
        o.readGroups.empty() && o.boards.empty() && !o.listDatabases)
        return usageError("no FILE given");
    return std::nullopt;
}

}  // namespace chipsight::cli
