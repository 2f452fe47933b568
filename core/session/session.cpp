// Loading the databases, identifying images and typed checksums, adding custom entries.
#include "core/session/session.h"

#include <sys/stat.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>

#include "chipsight/version.h"
#include "core/board/board_doctor.h"
#include "core/board/board_text.h"
#include "core/board/catalogue_cache.h"
#include "core/board/catalogue_loading.h"
#include "core/checksum/crc32.h"
#include "core/databases/custom_db.h"
#include "core/databases/dat/dat_files.h"
#include "core/databases/table_files.h"
#include "core/doctor/doctor_lines.h"
#include "core/doctor/reads.h"
#include "core/identify/texts.h"
#include "core/input/archive.h"
#include "core/input/directory_walk.h"
#include "core/input/image_file.h"
#include "core/input/whole_image.h"
#include "core/repair/set_writer.h"
#include "core/sys/file_layer.h"
#include "core/sys/large_pages.h"
#include "core/sys/number_reading.h"

namespace chipsight {
namespace {

using text::kError;
using text::kValidationError;

}  // namespace

Session::Session(FrontEnd& frontEnd, std::string programPath, std::vector<std::string> arguments)
    : m_frontEnd(frontEnd),
      m_programPath(std::move(programPath)),
      m_arguments(std::move(arguments)) {}

void Session::error(const std::string& text, unsigned type) {
    m_frontEnd.messageBox(text, kError, type);
}

void Session::loadDatabases() {
    const auto slash = m_programPath.rfind('/');
    m_programDir = slash == std::string::npos ? std::string(".") : m_programPath.substr(0, slash);
    if (!m_databaseChosen) m_database = locateDatabases(m_programDir);
    m_commandLine = m_arguments;
    m_splitLevel = 1;
    m_frontEnd.push();

    std::int32_t romCount = 0;
    const std::string romPath = resolveInDirectory(m_database.directory, kRomTableFile);
    TableRecords roms =
        readTableRecords(romPath, runCacheFile(romPath), EntryTable::kChipShape, false);
    WholeFile games;
    if (roms.opened) {
        if (!roms.complete) {
            error(text::kFailedReadingRomTable, MB_ICONSTOP);
        } else {
            games = readWholeFile(resolveInDirectory(m_database.directory, kGameTableFile));
            if (!games.opened) {
                error(text::kCannotOpenGameTable, MB_ICONSTOP);
            } else if (!games.complete) {
                error(text::kFailedReadingGameTable, MB_ICONSTOP);
            } else {
                romCount = std::int32_t(roms.records());
            }
        }
    }

    std::int32_t customCount = 0;
    const std::string customPath = resolveInDirectory(m_database.directory, kCustomFile);
    TableRecords custom =
        readTableRecords(customPath, runCacheFile(customPath), EntryTable::kRecordShape, true);
    if (custom.opened) {
        // The table keeps the records as they were read or compiled; only the index is made.
        const std::size_t before = m_entries.size();
        bool kept = true;
        try {
            m_entries.appendRecords(std::move(custom.run));
            m_entries.appendRecords(std::move(custom.rest), custom.restCount);
        } catch (const std::bad_alloc&) {
            kept = false;
        }
        m_customLoaded = m_entries.size() - before;
        if (custom.complete && kept) {
            customCount = std::int32_t(m_customLoaded);
        } else {
            // The records before the one that came short stay in the table, uncounted.
            error(text::kFailedReadingCustom, MB_ICONSTOP);
        }
    }

    // The table keeps the chips as they were read or compiled and the game table's bytes, and
    // joins each chip with its game when it is shown.
    try {
        if (romCount > 0 && roms.run)
            m_entries.appendChips(std::move(roms.run), std::move(games.bytes), games.size);
        else if (romCount > 0)
            m_entries.appendChips(std::move(roms.rest), roms.restCount, std::move(games.bytes),
                                  games.size);
    } catch (const std::bad_alloc&) {
        // A table too large to index in this memory is as good as one that could not be read.
        error(text::kFailedReadingRomTable, MB_ICONSTOP);
        romCount = 0;
    }
    m_chipsLoaded = std::size_t(romCount);
    const std::int32_t datCount = loadDats();
    m_entryCount = customCount + romCount + datCount;
    updateTitle();
}

std::string Session::runCacheFile(const std::string& table) const {
    std::string file = datCacheFile(userCacheDirectory(), canonicalPath(table));
    return file.replace(file.rfind('.'), std::string::npos, ".runs");
}

std::int32_t Session::loadDats() {
    m_datSet.reset();
    m_listedDats.clear();
    m_lastBoard.reset();
    m_catalogue.reset();
    m_anySha1.reset();
    std::vector<DatFile> files = findDatFiles(m_database.directory, kCustomFile, m_datPaths);
    // The cache is named by where the files were looked for.
    const std::string key = datCacheKey(m_database.directory, m_datPaths);
    // The catalogue's file sits beside the DATs' own, named by the same key.
    m_catalogueFile = datCacheFile(userCacheDirectory(), key);
    m_catalogueFile.replace(m_catalogueFile.rfind('.'), std::string::npos, ".sets");
    // The front end hears of the load once it has taken longer than the delay.
    const auto start = std::chrono::steady_clock::now();
    bool shown = false;
    std::uint64_t total = 0;
    const auto progress = [&](const std::string& file, std::uint64_t done, std::uint64_t all) {
        total = all;
        if (!shown && std::chrono::steady_clock::now() - start < m_progressDelay) return;
        shown = true;
        m_frontEnd.loadProgress(file, done, all);
    };
    std::shared_ptr<const DatSet> set =
        loadDatSet(std::move(files), userCacheDirectory(), key, progress);
    // The cache is kept in bounds around what this load uses, which is marked used.
    std::vector<std::string> inUse = {datCacheFile(userCacheDirectory(), key), m_catalogueFile};
    for (const char* table : {kCustomFile, kRomTableFile})
        inUse.push_back(runCacheFile(resolveInDirectory(m_database.directory, table)));
    m_cacheSize =
        keepCache(userCacheDirectory(), inUse, m_cacheLimit, std::int64_t(std::time(nullptr)));
    if (shown) m_frontEnd.loadProgress({}, total, total);
    for (std::size_t i = 0; i < set->files().size(); ++i) {
        const LoadedDat& dat = set->files()[i];
        if (!dat.failure.empty())
            error(
                text::kFailedReadingHead + dat.path + text::kFailedReadingTail + "\n" + dat.failure,
                MB_ICONSTOP);
        if (dat.format != DatFormat::None || !dat.failure.empty())
            m_listedDats.push_back(std::uint32_t(i));
    }
    m_datSet = set;
    const std::size_t count = set->size();
    m_entries.appendDats(std::move(set));
    return std::int32_t(std::min<std::size_t>(count, INT32_MAX));
}

const std::vector<LoadedDat>& Session::datFiles() const {
    static const std::vector<LoadedDat> none;
    return m_datSet ? m_datSet->files() : none;
}

std::string Session::databaseListing() const {
    std::int64_t inDats = 0;
    for (const LoadedDat& dat : datFiles())
        inDats += dat.store ? std::int64_t(dat.store->size()) : 0;
    std::string text = std::string(kRomTableFile) + ", " + kGameTableFile + ", " + kCustomFile +
                       ": " + std::to_string(m_entryCount - inDats) + " entries, in " +
                       reportName(m_database.directory) + "\n";
    // The compiled files kept between runs.
    char cache[96];
    std::snprintf(cache, sizeof cache, "%zu files, %.1f MiB (at most %.1f MiB)", m_cacheSize.files,
                  double(m_cacheSize.bytes) / 1048576.0, double(m_cacheLimit) / 1048576.0);
    for (const LoadedDat& dat : dats()) {
        char time[32];
        std::snprintf(time, sizeof time, "%.1f ms", dat.seconds * 1000);
        // A path is a file name like any other: it must not forge lines of the listing.
        text += reportName(dat.path) + ": ";
        if (!dat.failure.empty()) {
            text += "failed, " + reportName(dat.failure) + "\n";
            continue;
        }
        text += std::string(datFormatName(dat.format)) + ", " +
                std::to_string(dat.store ? dat.store->size() : 0) + " entries, " +
                (dat.fromCache ? "from the cache" : "read") + ", " + time + "\n";
    }
    return text + "Cache: " + cache + ", in " + reportName(userCacheDirectory()) + "\n";
}

void Session::updateTitle() {
    char title[96];
    std::snprintf(title, sizeof title, text::kTitleFormat, kVersion, int(m_entryCount));
    m_frontEnd.setTitle(title);
}

void Session::appendReport(const std::string& block) {
    m_frontEnd.pull();
    const std::size_t start = m_logText.size();
    m_logText += block;
    m_logText += kBlockTail;
    m_frontEnd.push();
    m_frontEnd.logAppended(std::string_view(m_logText).substr(start));
}

void Session::scrollLog() {
    const int lines = m_frontEnd.logLineCount();
    if (lines > 16) m_frontEnd.scrollLog(lines - 16);
}

Outcome Session::identifyFile(const std::string& path) { return identifyFileAs(path, {}); }

Outcome Session::identifyFileAs(const std::string& path, const std::string& name) {
    // What the doctor, a record or a board needs the bytes for, they take from this one read,
    // in a buffer kept from file to file while it is not large; else they read the file again.
    if (!keepsBytes()) return identifyImage(path, readImageFile(path, m_splitLevel, true), name);
    const ImageFile image = readImageFile(path, m_splitLevel, true, &m_imageBytes);
    const bool kept = image.status == ImageStatus::Read && m_imageBytes.size() == image.length;
    const Outcome outcome = identifyImage(path, image, name, kept ? &m_imageBytes : nullptr);
    if (m_imageBytes.capacity() > kKeptBytesAtMost) std::vector<std::uint8_t>().swap(m_imageBytes);
    return outcome;
}

bool Session::keepsBytes() { return m_doctor != 0 || m_board != nullptr || anySha1(); }

bool Session::opensAsArchive(const ImageFile& image) const {
    if (!image.archive) return false;
    // Firmware often starts as a gzip stream or a zip does: a dump the database knows whole is
    // reported whole, whatever its first bytes look like.
    bool known = false;
    if (image.status == ImageStatus::Read)
        m_entries.forEachMatch(image.digest.crc(), image.length,
                               [&](const auto&) { known = true; });
    return !known;
}

Outcome Session::identifyImage(const std::string& path, const ImageFile& image,
                               const std::string& name, const std::vector<std::uint8_t>* bytes) {
    const std::string shown = name.empty() ? fileNameOf(path) : name;
    if (opensAsArchive(image)) return identifyArchive(path, shown);
    return reportImage(path, shown, shownAs(path), image, bytes);
}

namespace {
// Of two outcomes of one archive, the one that says most: a failure, then anything not found.
Outcome worse(Outcome a, Outcome b) {
    const auto rank = [](Outcome o) {
        return o == Outcome::Failed     ? 3
               : o == Outcome::NotFound ? 2
               : o == Outcome::Skipped  ? 1
                                        : 0;
    };
    return rank(a) >= rank(b) ? a : b;
}
}  // namespace

Outcome Session::identifyArchive(const std::string& path, const std::string& name) {
    // Each member is reported under the archive's name and its path inside; the messages name
    // it by the archive's path as given.
    const std::string& archiveName = name;
    std::optional<Outcome> outcome;
    const bool keepBytes = keepsBytes();
    // A front end that shows messages one box at a time hears of the members of a length that
    // is no image's once for the archive, not once each.
    std::vector<std::string> oddMembers;
    m_oddMembers = m_frontEnd.groupsMemberMessages() ? &oddMembers : nullptr;
    const auto report = [&](ArchiveMember& member) {
        const std::string memberPath = path + "/" + member.path;
        const Outcome o =
            reportImage(memberPath, archiveName + "/" + member.path, memberPath, member.image,
                        member.bytesKept ? &member.bytes : nullptr, true);
        outcome = outcome ? worse(*outcome, o) : o;
    };
    ImageFile failed;
    ArchiveEnd end;
    try {
        end = readArchive(path, m_splitLevel, keepBytes, report);
    } catch (const std::bad_alloc&) {
        m_oddMembers = nullptr;
        showOddMembers(path, oddMembers);
        // What was reported stays; the rest of the archive is not read.
        failed.status = ImageStatus::OutOfMemory;
        reportImage(path, archiveName, path, failed, nullptr);
        return Outcome::Failed;
    }
    m_oddMembers = nullptr;
    showOddMembers(path, oddMembers);
    switch (end) {
        case ArchiveEnd::CannotOpen:
            return reportImage(path, name, shownAs(path), failed, nullptr);
        case ArchiveEnd::NotAnArchive:
            return reportImage(path, name, shownAs(path), readImageFile(path, m_splitLevel, false),
                               nullptr);
        case ArchiveEnd::Done:
            // An archive without a single file in it has nothing to report.
            return outcome.value_or(Outcome::Skipped);
        case ArchiveEnd::Damaged:
            failed.status = ImageStatus::ReadFailed;
            break;
        case ArchiveEnd::TooLarge:
            // Said as a read that failed is, in words of its own.
            m_frontEnd.messageBox(std::string(text::kUnpacksTooMuch) + "\n" + path, kError, MB_OK);
            m_monitorFile = 0;
            m_frontEnd.push();
            m_frontEnd.enableAddCustomButton();
            scrollLog();
            return Outcome::Failed;
    }
    reportImage(path, archiveName, path, failed, nullptr);
    return Outcome::Failed;
}

void Session::showOddMembers(const std::string& archive, const std::vector<std::string>& members) {
    if (members.empty()) return;
    std::string message = text::kNotPowerOfTwo;
    if (members.size() == 1) {
        message += "\n" + members.front();
    } else {
        message += "\n" + std::to_string(members.size()) + text::kOddMembersOf + archive +
                   text::kOddMembersFirst;
        for (std::size_t i = 0; i < std::min<std::size_t>(members.size(), kOddMembersNamed); ++i)
            message += "\n" + members[i];
        if (members.size() > kOddMembersNamed) message += "\n...";
    }
    m_frontEnd.messageBox(message, kError, MB_OK);
}

Outcome Session::reportImage(const std::string& path, const std::string& name,
                             const std::string& shownAs, const ImageFile& image,
                             const std::vector<std::uint8_t>* bytes, bool member) {
    // A file named on its own has the messages the program has always had; a member of an
    // archive, or the archive, is named on a line of its own under them.
    const auto message = [&](const char* text) {
        return shownAs.empty() ? std::string(text) : text + ("\n" + shownAs);
    };
    switch (image.status) {
        case ImageStatus::CannotOpen:
            m_frontEnd.messageBox(message(text::kErrorOpening), kError, MB_OK);
            m_monitorFile = 0;
            m_frontEnd.push();
            scrollLog();
            return Outcome::Failed;
        case ImageStatus::TooLarge:
            m_frontEnd.messageBox(message(text::kBelow4GiB), kError, MB_OK);
            return Outcome::Failed;
        case ImageStatus::NotPowerOfTwo:
            if (member && m_oddMembers)
                m_oddMembers->push_back(shownAs);
            else
                m_frontEnd.messageBox(message(text::kNotPowerOfTwo), kError, MB_OK);
            return Outcome::Failed;
        case ImageStatus::ReadFailed:
        case ImageStatus::OutOfMemory:
            if (image.status == ImageStatus::ReadFailed)
                m_frontEnd.messageBox(message(text::kErrorReading), kError, MB_OK);
            else
                m_frontEnd.messageBox(message(text::kOutOfMemory), kError,
                                      MB_OK | MB_ICONEXCLAMATION);
            m_monitorFile = 0;
            m_frontEnd.push();
            m_frontEnd.enableAddCustomButton();
            scrollLog();
            return Outcome::Failed;
        case ImageStatus::Read:
            break;
    }

    Identification found = identify(m_entries, image.digest, name, m_ignoreBad != 0);
    checkSha1sOf(found, path, bytes, member);
    Report report = reportOf(found, m_entries);
    m_lastCrc = report.crc;
    m_lastFileName = name;
    m_lastSize = image.length;
    // The line goes under the identification's, above the doctor's.
    if (image.header)
        report.block += text::kHeaderLeftOutHead + std::string(image.header->kind) +
                        text::kHeaderLeftOutMiddle + std::to_string(image.header->bytes) +
                        text::kHeaderLeftOutTail;
    std::optional<doctor::Examination> examination;
    if (m_doctor != 0) {
        examination = examine(found, path, bytes, member);
        doctor::appendExamination(report.block, *examination);
    }
    if (m_frontEnd.wantsRecords()) record(path, found, bytes, examination, {}, image.header);
    if (m_board) {
        board::Dump dump{name, found.crc, found.size, std::nullopt};
        // The bytes of a dump the board's doctor may look at, from the read that identified
        // it; a chip larger than this, or one whose bytes could not be kept, is judged by its
        // checksum alone. A dump is a chip by its CRC-32 and size, as in every report; its
        // SHA-1 confirms only what the doctor finds.
        constexpr std::size_t kBoardBytesAtMost = 16 << 20;
        std::vector<std::uint8_t> kept;
        if (bytes && bytes->size() <= kBoardBytesAtMost) kept = *bytes;
        m_board->dumps.push_back(std::move(dump));
        m_board->bytes.push_back(std::move(kept));
    }
    appendReport(report.block);
    m_frontEnd.enableAddCustomButton();
    scrollLog();
    return report.found ? Outcome::Found : Outcome::NotFound;
}

EntrySources Session::entrySources() const {
    EntrySources sources;
    sources.datFile = [this](const DatStore* store) {
        for (const LoadedDat& dat : datFiles())
            if (dat.store.get() == store) return dat.path;
        return std::string();
    };
    // The custom records come first, then the chips; entries added since come after all.
    sources.tableFile = [this](std::size_t at) {
        const bool chip = at >= m_customLoaded && at < m_customLoaded + m_chipsLoaded;
        return resolveInDirectory(m_database.directory, chip ? kRomTableFile : kCustomFile);
    };
    return sources;
}

bool Session::anySha1() {
    if (!m_anySha1)
        m_anySha1 = std::any_of(datFiles().begin(), datFiles().end(), [](const LoadedDat& dat) {
            return dat.store && dat.store->sha1Count() > 0;
        });
    return *m_anySha1;
}

void Session::checkSha1sOf(Identification& found, const std::string& path,
                           const std::vector<std::uint8_t>* bytes, bool member) {
    // Without a DAT that gives SHA-1s, the entries matched are not even looked at.
    if (!anySha1() || !anySha1ToCheck(found, m_entries)) return;
    doctor::WholeImage read;
    if (!bytes) {
        if (member || path.empty()) return;
        read = doctor::readWholeImage(path);
        // Only the bytes identified tell their SHA-1: a file rewritten since is left unjudged.
        if (read.status != ImageStatus::Read || read.bytes.size() != found.size ||
            Crc32(0, read.bytes.data(), found.size) != found.crc)
            return;
        bytes = &read.bytes;
    }
    checkSha1s(found, m_entries, *bytes);
}

void Session::record(const std::string& path, const Identification& found,
                     const std::vector<std::uint8_t>* bytes,
                     std::optional<doctor::Examination> examination,
                     std::optional<doctor::ReadsComparison> reads, const KnownHeader* header) {
    ImageRecord r = recordOf(found, m_entries, entrySources());
    r.path = path;
    if (header) {
        r.headerKind = header->kind;
        r.headerBytes = header->bytes;
    }
    r.examination = std::move(examination);
    r.reads = std::move(reads);
    if (anySha1()) {
        if (bytes) {
            r.sha1 = doctor::sha1(*bytes);
        } else if (!path.empty()) {
            // Read again; kept only when they are still the bytes identified.
            const doctor::WholeImage read = doctor::readWholeImage(path);
            if (read.status == ImageStatus::Read && read.bytes.size() == r.size &&
                Crc32(0, read.bytes.data(), r.size) == r.crc)
                r.sha1 = doctor::sha1(read.bytes);
        }
    }
    m_frontEnd.recorded(r);
}

doctor::Examination Session::examine(const Identification& found, const std::string& path,
                                     const std::vector<std::uint8_t>* bytes, bool member) {
    doctor::Examination examination;
    bool wholeFound = false;
    m_entries.forEachMatch(found.crc, found.size, [&](const auto&) { wholeFound = true; });
    if (wholeFound || found.size == 0) return examination;
    constexpr const char* kNoMemory = "not enough memory to examine the image";
    // A member of an archive whose bytes could not be kept cannot be read again.
    if (member && !bytes) {
        examination.notExamined = kNoMemory;
        return examination;
    }
    doctor::WholeImage read;
    if (!bytes) {
        read = doctor::readWholeImage(path);
        if (read.status == ImageStatus::OutOfMemory) {
            examination.notExamined = kNoMemory;
            return examination;
        }
        // The bytes examined must be those identified: a file rewritten since is left alone.
        if (read.status != ImageStatus::Read || read.bytes.size() != found.size ||
            Crc32(0, read.bytes.data(), found.size) != found.crc) {
            examination.notExamined = read.status == ImageStatus::CannotOpen
                                          ? "the file could not be opened again to examine it"
                                          : "the file changed since it was identified; not "
                                            "examined";
            return examination;
        }
        bytes = &read.bytes;
    }
    try {
        examination.findings = doctor::examine(*bytes, found.crc, m_entries, m_sameSize);
    } catch (const std::bad_alloc&) {
        examination.notExamined = kNoMemory;
    }
    return examination;
}

Outcome Session::identifyReads(const std::vector<std::string>& paths, doctor::ReadsRule rule) {
    // Every read is open at once under its lock and compared block by block: of the reads only
    // a block each is held, and the majority.
    std::vector<File> reads;
    std::uint64_t readLength = 0;
    const auto problem = [&](const std::string& text) {
        m_frontEnd.messageBox(text, kError, MB_OK);
        return Outcome::Failed;
    };
    for (const std::string& path : paths) {
        auto file = File::open(path, File::Mode::Read);
        if (!file) return problem("Cannot open the read " + path + ".");
        switch (lengthStatus(file->length())) {
            case ImageStatus::TooLarge:
                return problem("The read " + path + " is 4 GiB or larger.");
            case ImageStatus::NotPowerOfTwo:
                return problem("The read " + path + " is not a power of 2 bytes long.");
            default:
                break;
        }
        if (!reads.empty() && file->length() != readLength)
            return problem("The reads differ in length: " + paths[0] + " has " +
                           std::to_string(readLength) + " bytes, " + path + " has " +
                           std::to_string(file->length()) + ".");
        readLength = file->length();
        reads.push_back(std::move(*file));
    }
    doctor::ReadsComparison comparison;
    std::vector<std::uint8_t> buffer;
    constexpr std::size_t kBlock = 1 << 20;
    const std::size_t block = std::min<std::uint64_t>(kBlock, readLength);
    try {
        comparison = doctor::startComparison(reads.size(), std::size_t(readLength), rule);
        buffer.resize(block * reads.size());
    } catch (const std::bad_alloc&) {
        m_frontEnd.messageBox(text::kOutOfMemory, kError, MB_OK | MB_ICONEXCLAMATION);
        return Outcome::Failed;
    }
    std::vector<std::span<const std::uint8_t>> blocks(reads.size());
    for (std::uint64_t offset = 0; offset < readLength; offset += block) {
        const std::size_t want = std::min<std::uint64_t>(block, readLength - offset);
        for (std::size_t r = 0; r < reads.size(); ++r) {
            std::uint8_t* into = buffer.data() + r * block;
            if (reads[r].read(into, want) != want)
                return problem("Error reading the read " + paths[r] + ".");
            blocks[r] = {into, want};
        }
        doctor::compareBlock(comparison, blocks, offset);
    }
    for (std::size_t r = 0; r < reads.size(); ++r)
        if (!reads[r].unchangedSinceOpen())
            return problem("Error reading the read " + paths[r] + ".");
    reads.clear();
    const auto length = std::uint32_t(comparison.majority.size());
    const std::string name = (rule == doctor::ReadsRule::And ? "AND of " : "majority of ") +
                             std::to_string(paths.size()) + " reads";
    ImageDigest digest(length, m_splitLevel);
    digest.add(comparison.majority);
    digest.finish();
    Identification found = identify(m_entries, digest, name, m_ignoreBad != 0);
    checkSha1sOf(found, {}, &comparison.majority, false);
    Report report = reportOf(found, m_entries);
    doctor::appendReadsComparison(report.block, comparison, length);
    m_lastCrc = report.crc;
    m_lastFileName = name;
    m_lastSize = length;
    std::optional<doctor::Examination> examination;
    if (m_doctor != 0) {
        examination = examine(found, {}, &comparison.majority, false);
        doctor::appendExamination(report.block, *examination);
    }
    if (m_frontEnd.wantsRecords()) {
        const std::vector<std::uint8_t> majority = std::move(comparison.majority);
        record({}, found, &majority, std::move(examination), std::move(comparison));
    }
    appendReport(report.block);
    m_frontEnd.enableAddCustomButton();
    scrollLog();
    return report.found ? Outcome::Found : Outcome::NotFound;
}

bool Session::startMonitor(const std::string& path) {
    auto file = File::open(path, File::Mode::Read);
    if (!file) {
        m_frontEnd.messageBox(text::kUnableToMonitor, kError, MB_OK);
        m_monitorFile = 0;
        return false;
    }
    m_monitorPath = std::filesystem::absolute(path).lexically_normal().string();
    m_monitorStatus = file->modificationTime();
    file.reset();  // closed before identifyFile opens it again
    identifyFile(m_monitorPath);
    return m_monitorFile != 0;
}

bool Session::monitorTick() {
    const auto time = modificationTime(m_monitorPath);
    if (!time || *time == m_monitorStatus) return false;
    m_monitorStatus = *time;
    identifyFile(m_monitorPath);
    return true;
}

std::uint32_t Session::checkedChecksum(std::string_view text) {
    const std::uint32_t checksum = readChecksum(text);
    if (checksum == 0)
        m_frontEnd.messageBox(text::kBadChecksum, kValidationError, MB_ICONEXCLAMATION);
    return checksum;
}

std::uint32_t Session::checkedSize(std::string_view text) {
    const std::uint32_t size = readSize(text);
    if (size == 0) m_frontEnd.messageBox(text::kBadSize, kValidationError, MB_ICONEXCLAMATION);
    return size;
}

Outcome Session::identifyTypedEntry(std::string_view checksumText, std::string_view sizeText) {
    const std::uint32_t checksum = checkedChecksum(checksumText);
    const std::uint32_t size = checkedSize(sizeText);
    return identifyManual(checksum, size, text::kManualLabel);
}

namespace {

// The DATs of a load that hold sets, each as it was loaded.
std::vector<board::CatalogueSource> catalogueSources(const std::vector<LoadedDat>& dats) {
    std::vector<board::CatalogueSource> sources;
    for (const LoadedDat& dat : dats)
        if (dat.failure.empty() && dat.format != DatFormat::None)
            sources.push_back({dat.path, dat.identity});
    return sources;
}

}  // namespace

board::Catalogue Session::compileCatalogue() {
    std::vector<board::CatalogueSource> sources = catalogueSources(datFiles());
    std::vector<std::string> paths;
    for (const board::CatalogueSource& source : sources) paths.push_back(source.path);
    const std::int64_t readSince = timeNow();
    // Their failures were said when the DATs were loaded; a DAT that fails now gives none of
    // its sets, and the catalogue is not kept.
    std::vector<board::CatalogueFile> files;
    board::Catalogue catalogue = board::loadCatalogue(paths, files);
    bool whole = files.size() == sources.size();
    for (std::size_t i = 0; whole && i < files.size(); ++i) {
        whole = files[i].failure.empty();
        sources[i].contentBytes = files[i].fileBytes;
        sources[i].contentCrc = files[i].fileCrc;
    }
    if (whole && !sources.empty() && !m_catalogueFile.empty() &&
        makeDirectories(userCacheDirectory()))
        board::storeCatalogue(m_catalogueFile, catalogue, sources, readSince);
    return catalogue;
}

const board::Catalogue& Session::boardCatalogue() {
    if (!m_catalogue && !m_catalogueFile.empty())
        m_catalogue = board::openCatalogueCache(m_catalogueFile, catalogueSources(datFiles()));
    if (!m_catalogue) m_catalogue = compileCatalogue();
    return *m_catalogue;
}

Outcome Session::identifyBoard(const std::vector<std::string>& paths) {
    return identifyBoard(paths, static_cast<const board::Catalogue*>(nullptr));
}

Outcome Session::identifyBoard(const std::vector<std::string>& paths,
                               const board::Catalogue& catalogue) {
    return identifyBoard(paths, &catalogue);
}

Outcome Session::identifyBoard(const std::vector<std::string>& paths,
                               const board::Catalogue* catalogue) {
    BoardDumps dumps;
    m_board = &dumps;
    // Whatever ends the reading of the dumps, the session stops collecting them.
    struct Collecting {
        BoardDumps*& board;
        ~Collecting() { board = nullptr; }
    } collecting{m_board};
    Outcome outcome = Outcome::Found;
    const auto note = [&](Outcome o) {
        if (o == Outcome::Failed) outcome = Outcome::Failed;
    };
    // The images are named by their way down from the folder the board was given as, so two
    // sockets' dumps of one file name stay apart.
    for (const std::string& path : paths) {
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            for (const WalkedFile& file : walkDirectory(path))
                note(identifyFileAs(file.path, file.name));
        } else {
            note(identifyFile(path));
        }
    }
    m_board = nullptr;
    m_lastBoard.reset();
    board::BoardAnswer answer;
    Outcome judged = Outcome::NotFound;
    bool reported = false;
    if (!catalogue) {
        try {
            catalogue = &boardCatalogue();
            judged = reportBoard(dumps, *catalogue, answer);
            reported = true;
        } catch (const board::CatalogueDamaged&) {
            // The compiled catalogue costs time, never the answer: it goes, and the DATs are
            // read again.
            removeFile(m_catalogueFile);
            m_catalogue = compileCatalogue();
            catalogue = &*m_catalogue;
        }
    }
    if (!reported) judged = reportBoard(dumps, *catalogue, answer);
    m_lastBoard.emplace(LastBoard{std::move(dumps), std::move(answer), catalogue});
    return outcome == Outcome::Failed ? outcome : judged;
}

Outcome Session::reportBoard(const BoardDumps& dumps, const board::Catalogue& catalogue,
                             board::BoardAnswer& answer) {
    answer = board::judgeBoard(catalogue, dumps.dumps);
    const std::vector<std::span<const std::uint8_t>> bytes = dumps.views();
    bool twoBitsSkipped = false;
    board::examineBoard(catalogue, dumps.dumps, bytes, answer, &twoBitsSkipped);
    // Rendered whole before any of it is shown: a catalogue found damaged on the way leaves
    // nothing half said. The set is written first, and the answer then says where it went.
    std::string text = board::boardText(catalogue, dumps.dumps, answer, twoBitsSkipped);
    repair::SetWritten written;
    repair::SetPlan plan;
    if (!m_writeSetFolder.empty()) {
        plan = repair::planSet(catalogue, bytes, answer, m_romSource);
        written = repair::writeSet(m_writeSetFolder, plan, m_writeSetReplace);
        if (written.failure.empty()) text.append("\r\n").append(written.line);
    }
    repair::BurnWritten burnt;
    if (!m_burnFolder.empty()) {
        burnt = burnImages(catalogue, bytes, answer, m_burnFolder, m_writeSetReplace);
        for (const std::string& line : burnt.lines) text.append("\r\n").append(line);
    }
    m_frontEnd.boardJudged(catalogue, dumps.dumps, answer);
    if (!written.line.empty()) m_frontEnd.setWritten(written.path, plan);
    if (!m_burnFolder.empty() && burnt.failure.empty()) m_frontEnd.imagesBurnt(burnt);
    appendReport(text);
    scrollLog();
    if (!written.failure.empty() || !burnt.failure.empty()) {
        for (const std::string* failure : {&written.failure, &burnt.failure})
            if (!failure->empty()) error(*failure, MB_ICONSTOP);
        return Outcome::Failed;
    }
    return answer.candidates.empty() ? Outcome::NotFound : Outcome::Found;
}

void Session::setCollection(const std::vector<std::string>& paths) {
    m_collection.reset();
    m_romSource = {};
    if (paths.empty()) return;
    // Indexed when a chip is first wanted from it: a window that keeps a collection in its
    // settings starts without reading it.
    m_romSource = [this, paths](const board::CatalogueRom& rom) {
        if (!m_collection) {
            repair::CollectionStats stats;
            m_collection = repair::Collection::index(paths, userCacheDirectory(), &stats);
            markCacheFileUsed(repair::collectionIndexFile(userCacheDirectory(), paths));
            for (const std::string& problem : stats.problems) error(problem, MB_ICONEXCLAMATION);
        }
        const repair::CollectionRom* held = m_collection->find(rom.crc, rom.size, rom.sha1);
        return held ? m_collection->bytesOf(*held) : std::nullopt;
    };
}

repair::BurnWritten Session::burnImages(const board::Catalogue& catalogue,
                                        std::span<const std::span<const std::uint8_t>> bytes,
                                        const board::BoardAnswer& answer, const std::string& folder,
                                        bool replace) {
    if (answer.candidates.empty()) {
        repair::BurnWritten none;
        none.failure = "No set holds a dump of the board";
        return none;
    }
    return repair::writeBurn(folder, std::string(catalogue.set(answer.candidates.front().set).name),
                             repair::planBurn(catalogue, bytes, answer, m_burnPart, m_romSource),
                             replace);
}

const Session::LastBoard* Session::lastBoard() {
    if (!m_lastBoard) error(text::kNoBoardYet, MB_ICONEXCLAMATION);
    return m_lastBoard ? &*m_lastBoard : nullptr;
}

Outcome Session::burnBoardImages(const std::string& folder) {
    const LastBoard* last = lastBoard();
    if (!last) return Outcome::Failed;
    const repair::BurnWritten burnt =
        burnImages(*last->catalogue, last->dumps.views(), last->answer, folder, true);
    if (!burnt.lines.empty()) {
        std::string text;
        for (const std::string& line : burnt.lines) (text += text.empty() ? "" : "\r\n") += line;
        appendReport(text);
        scrollLog();
    }
    if (burnt.failure.empty()) return Outcome::Found;
    error(burnt.failure, MB_ICONSTOP);
    return Outcome::Failed;
}

Outcome Session::writeBoardSet(const std::string& folder, bool replace, bool* exists) {
    const LastBoard* last = lastBoard();
    if (!last) return Outcome::Failed;
    const repair::SetPlan plan =
        repair::planSet(*last->catalogue, last->dumps.views(), last->answer, m_romSource);
    const repair::SetWritten written = repair::writeSet(folder, plan, replace);
    if (exists) *exists = written.exists;
    if (written.exists && exists) return Outcome::Failed;
    if (!written.failure.empty()) {
        error(written.failure, MB_ICONSTOP);
        return Outcome::Failed;
    }
    m_frontEnd.setWritten(written.path, plan);
    appendReport(written.line);
    scrollLog();
    return Outcome::Found;
}

Outcome Session::identifyManual(std::uint32_t checksum, std::uint32_t size, std::string label) {
    if (m_ignoreBad != 0 && isBlankBlock(size, checksum)) return Outcome::Skipped;
    return reportTyped(identifyTyped(m_entries, checksum, size, label));
}

Outcome Session::identifyHash(const TypedHash& hash) {
    return reportTyped(chipsight::identifyHash(m_entries, datFiles(), hash, text::kManualLabel));
}

Outcome Session::reportTyped(const Identification& found) {
    const Report report = reportOf(found, m_entries);
    if (m_frontEnd.wantsRecords()) m_frontEnd.recorded(recordOf(found, m_entries, entrySources()));
    appendReport(report.block);
    m_frontEnd.enableAddCustomButton();
    scrollLog();
    return report.found ? Outcome::Found : Outcome::NotFound;
}

void Session::useDatabaseDirectory(std::string directory) {
    m_database = {std::move(directory), false};
    m_databaseChosen = true;
}

std::string Session::customDatabasePath() const {
    return resolveInDirectory(m_database.directory, kCustomFile);
}

bool Session::appendCustomEntry(const std::string& checksumText, const std::string& sizeText,
                                const std::string& romName, const std::string& description) {
    RomEntry entry;
    entry.crc = checkedChecksum(checksumText);
    entry.size = checkedSize(sizeText);
    bool valid = entry.crc != 0 && entry.size != 0;
    const auto check = [&](bool ok, const char* message) {
        if (ok) return;
        m_frontEnd.messageBox(message, kValidationError, MB_ICONEXCLAMATION);
        valid = false;
    };
    check(!romName.empty(), text::kEmptyName);
    check(!description.empty(), text::kEmptyDescription);
    writeField(entry.name, romName);
    writeField(entry.description, description);
    if (!valid) return false;

    // Room in the table is made first, so a record that reaches the file always reaches the
    // table too.
    try {
        if (m_entries.size() == m_entries.capacity()) m_entries.reserve(m_entries.size() + 1);
    } catch (const std::bad_alloc&) {
        error(text::kOutOfMemory, MB_ICONEXCLAMATION);
        return false;
    }
    // A directory that cannot be made shows up as a file that cannot be opened.
    if (m_database.perUser) makeDirectories(m_database.directory);
    switch (appendRecord(customDatabasePath(), entry)) {
        case AppendResult::CannotOpen:
            error(text::kCannotOpenCustom, MB_ICONSTOP);
            return false;
        case AppendResult::WriteFailed:
            error(text::kFailedWritingCustom, MB_ICONSTOP);
            return false;
        case AppendResult::Added:
            break;
    }
    m_entries.push_back(entry);
    ++m_entryCount;
    updateTitle();
    return true;
}

}  // namespace chipsight
