// chipsight-cli: identifies ROM images from the terminal, over the same core as the window.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/json_output.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "cli/terminal_front_end.h"
#include "core/input/directory_walk.h"
#include "core/input/image_reader.h"
#include "core/session/session.h"
#include "core/sys/file_layer.h"

using chipsight::Outcome;
using chipsight::Session;
using namespace chipsight::cli;

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
    Session core(frontEnd, chipsight::executablePath(), files);
    if (!dbDir.empty()) core.useDatabaseDirectory(dbDir);
    for (std::string& dat : dats) core.addDatPath(std::move(dat));
    core.setCacheLimit(o.cacheLimit);
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
    core.setNamePaths(o.recursive || o.json || !o.boards.empty());
    core.setWriteSet(o.writeSet, o.force);
    core.setBurn(o.burn, chipsight::repair::epromPart(o.eprom));
    core.setCollection(o.collection);

    // With no database file at all every lookup is Not Found; say once where they were looked for.
    if (!core.commandLine().empty() || !manual.empty() || !o.manualHashes.empty() ||
        !readGroups.empty() || !o.boards.empty()) {
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
    for (const auto& board : o.boards) {
        note(core.identifyBoard(board));
        core.clearLog();
    }
    for (const auto& group : readGroups) {
        note(core.identifyReads(group, o.readsAnd ? chipsight::doctor::ReadsRule::And
                                                  : chipsight::doctor::ReadsRule::Majority));
        core.clearLog();
    }
    for (const auto& m : manual) {
        const std::string checksum = asBoxHolds(frontEnd, m[0], 8, "checksum", true);
        note(core.identifyTypedEntry(checksum, asBoxHolds(frontEnd, m[1], 10, "size", false)));
        core.clearLog();
    }
    for (const chipsight::TypedHash& hash : o.manualHashes) {
        note(core.identifyHash(hash));
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
