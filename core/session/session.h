// The identification state of the program and its operations: loading the databases,
// identifying image files and typed checksums, and adding custom entries.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/board/board.h"
#include "core/databases/cache_keeping.h"
#include "core/databases/dat/dat_set.h"
#include "core/databases/database_location.h"
#include "core/databases/rom_database.h"
#include "core/doctor/doctor.h"
#include "core/doctor/reads.h"
#include "core/identify/identify.h"
#include "core/input/image_file.h"
#include "core/repair/collection.h"
#include "core/session/front_end.h"

namespace chipsight {

// Some of the files of a load, by their numbers in it.
class DatList {
  public:
    DatList(const std::vector<LoadedDat>& files, const std::vector<std::uint32_t>& listed)
        : files_(&files), listed_(&listed) {}
    std::size_t size() const { return listed_->size(); }
    bool empty() const { return listed_->empty(); }
    const LoadedDat& operator[](std::size_t i) const { return (*files_)[(*listed_)[i]]; }

    // Holds no reference to the list it came from, which is often a temporary.
    class Iterator {
      public:
        Iterator(const std::vector<LoadedDat>* files, const std::uint32_t* at)
            : files_(files), at_(at) {}
        const LoadedDat& operator*() const { return (*files_)[*at_]; }
        Iterator& operator++() {
            ++at_;
            return *this;
        }
        bool operator==(const Iterator& other) const { return at_ == other.at_; }

      private:
        const std::vector<LoadedDat>* files_;
        const std::uint32_t* at_;
    };
    Iterator begin() const { return {files_, listed_->data()}; }
    Iterator end() const { return {files_, listed_->data() + listed_->size()}; }

  private:
    const std::vector<LoadedDat>* files_;
    const std::vector<std::uint32_t>* listed_;
};

class Session {
  public:
    // `programPath` is the path of the program's executable, whose directory holds the
    // database files; `arguments` are the files named on the command line, one per argument.
    Session(FrontEnd& frontEnd, std::string programPath, std::vector<std::string> arguments);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Loads the database files and sets the title. Like the window at its start, it sets the
    // split level back to 1: a front end that takes options sets them after loading.
    void loadDatabases();
    void updateTitle();
    // A file whose content is an archive (zip, 7z, tar, plain or compressed, or a single gzip,
    // xz or bzip2 stream) has each regular file inside identified in archive order, under the
    // name ARCHIVE/MEMBER; a message about one names it, and a damaged archive ends with
    // "Error reading file :(" naming the archive.
    Outcome identifyFile(const std::string& path);
    // identifyFile of a file that readImageFile has already read, at the split level in force,
    // on whatever thread: everything after the read is the same, in the same order. The report
    // names it `name`, or its file name when that is empty. `bytes`, when given, are the image's
    // bytes as read, for the doctor and the SHA-1, which then read nothing again.
    Outcome identifyImage(const std::string& path, const ImageFile& image,
                          const std::string& name = {},
                          const std::vector<std::uint8_t>* bytes = nullptr);
    Outcome identifyManual(std::uint32_t checksum, std::uint32_t size, std::string label);
    // Looks up a typed SHA-1 or MD5 among the DATs' entries, reported as a typed checksum is,
    // under the manual label with the hash in place of the checksum.
    Outcome identifyHash(const TypedHash& hash);
    // Compares two or more reads of one chip and identifies the per-bit majority of them under
    // the name "majority of N reads" (with the And rule, the AND of them, "AND of N reads"), the
    // comparison's lines after its report; then, with the doctor on, the doctor's. Reads that
    // cannot be read whole, or that differ in length, show a message naming the file and nothing is
    // reported.
    Outcome identifyReads(const std::vector<std::string>& paths,
                          doctor::ReadsRule rule = doctor::ReadsRule::Majority);
    // Identifies each of `paths` (files, archives, and folders walked as with -r) as usual, then
    // judges every image among them as the dumps of one board against `catalogue`: the answer
    // is one block after their reports. Found when some set holds a dump.
    Outcome identifyBoard(const std::vector<std::string>& paths);
    // The same against a catalogue of the caller's.
    Outcome identifyBoard(const std::vector<std::string>& paths, const board::Catalogue& catalogue);
    // After each board's answer, write its best set into `folder` (nothing when empty), a zip
    // already there replaced only when `replace`.
    void setWriteSet(std::string folder, bool replace) {
        m_writeSetFolder = std::move(folder);
        m_writeSetReplace = replace;
    }
    // Writes the images to burn for the last board answered into `folder`, replacing what is
    // there (the window asks for a folder of the user's choosing), fitted to the part set by
    // setBurn; the lines go to the log, a failure to a message.
    Outcome burnBoardImages(const std::string& folder);
    // The size the cache may take, kept at every load of the databases (see keepCache).
    void setCacheLimit(std::uint64_t bytes) { m_cacheLimit = bytes; }
    // The user's own ROM sets, for the chips a board lacks: indexed when a chip is first wanted
    // from them (from the cache where their files are unchanged); each file left out is said in
    // a message. None when empty.
    void setCollection(const std::vector<std::string>& paths);
    // After each board's answer, write the images to burn for its missing, bad and bits-off
    // chips into `folder` (nothing when empty), fitted to `part` when given.
    void setBurn(std::string folder, std::optional<repair::EpromPart> part) {
        m_burnFolder = std::move(folder);
        m_burnPart = part;
    }
    // Writes the best set of the last board answered into `folder`, a zip there already replaced
    // only when `replace`: the line saying what was written goes to the log, a failure to a
    // message. With `exists`, a zip that is there already is only told there (for the window to
    // ask whether to replace it). Failed when no board was answered since the databases loaded.
    Outcome writeBoardSet(const std::string& folder, bool replace, bool* exists = nullptr);
    // The sets a board is judged against: every DAT the last load read, compiled when the first
    // board asks for them and kept in the cache for the runs that follow.
    const board::Catalogue& boardCatalogue();
    // Looks up a typed checksum and size under the manual label, reading them as the Manual
    // Entry dialog does: each that reads as 0 shows its message and is looked up as 0.
    Outcome identifyTypedEntry(std::string_view checksumText, std::string_view sizeText);
    // The readings of a typed checksum and size; a reading of 0 shows its validation message.
    std::uint32_t checkedChecksum(std::string_view text);
    std::uint32_t checkedSize(std::string_view text);
    // Checks the four texts of a custom entry, showing a message for each that fails, then
    // stores it in the custom database and the entry table. True when it was added.
    bool appendCustomEntry(const std::string& checksumText, const std::string& sizeText,
                           const std::string& romName, const std::string& description);

    // Options for a front end without bound controls (the window's data exchange writes the
    // members itself).
    void setSplitLevel(std::int32_t level) { m_splitLevel = level; }
    void setIgnoreBad(bool ignore) { m_ignoreBad = ignore ? 1 : 0; }
    // The dump doctor: after a report whose whole image was not found, lines of its own.
    void setDoctor(bool on) { m_doctor = on ? 1 : 0; }
    // Names the file on a line of its own under each message about it, as a message about a
    // member of an archive always is: for runs over many files, such as a folder's.
    void setNamePaths(bool on) { m_namePaths = on; }
    bool doctor() const { return m_doctor != 0; }
    // Empties the log, as Clear Log does; a terminal calls it once a block has been shown, so
    // that a long run does not keep every report.
    void clearLog() { m_logText.clear(); }

    // The file monitor's decisions; the front end runs the timer and shows the check box.
    // Starts watching `path`: its modification time is taken and it is identified at once.
    // When it cannot be opened, "Unable to monitor this file." is shown and the box cleared.
    // True when the watch goes on (an identification that fails to open or read the file
    // clears the box too), so the front end should start its timer.
    bool startMonitor(const std::string& path);
    // One tick of the watch: identifies the file again when its modification time differs from
    // the one last seen, either way. A file that is away for the moment is looked for again at
    // the next tick. True when it was identified.
    bool monitorTick();

    // Reads and writes the database files in `directory` from now on, wherever the program
    // itself lies; call it before loadDatabases.
    void useDatabaseDirectory(std::string directory);
    // The path of the custom database file.
    std::string customDatabasePath() const;
    // Reads the DAT file at `path`, or those in the directory `path` and below, besides the
    // database directory's own; call it before loadDatabases.
    void addDatPath(std::string path) { m_datPaths.push_back(std::move(path)); }
    // The DAT files the last load read, in load order, with those that failed: a view of the
    // load's own, which a start with thousands of DATs does not copy.
    DatList dats() const { return {datFiles(), m_listedDats}; }
    // What the last load read, a line for each database file (the program's own tables on the
    // first): its format, entries, whether it came from the compiled cache, its load time.
    std::string databaseListing() const;

    // What the core holds, for anyone to read. Only the core and the dialog bound to these
    // members by data exchange write them.
    const EntryTable& entries() const { return m_entries; }
    std::int32_t entryCount() const { return m_entryCount; }
    const std::string& programDir() const { return m_programDir; }
    const DatabaseLocation& database() const { return m_database; }
    const std::vector<std::string>& commandLine() const { return m_commandLine; }
    const std::string& logText() const { return m_logText; }
    bool monitoring() const { return m_monitorFile != 0; }
    std::int32_t splitLevel() const { return m_splitLevel; }
    bool ignoreBad() const { return m_ignoreBad != 0; }
    std::uint32_t lastCrc() const { return m_lastCrc; }
    std::uint32_t lastSize() const { return m_lastSize; }
    const std::string& lastFileName() const { return m_lastFileName; }

    // The state of a run, under the names the window's data exchange binds. Only the core and
    // that dialog write them.
    EntryTable m_entries;
    std::int32_t m_entryCount = 0;
    // The directory of the program's executable, and where its database files are: the same
    // directory for a portable copy, the user's data directory for an installed one.
    std::string m_programDir;
    DatabaseLocation m_database;
    // The command-line pieces not yet identified, in order.
    std::vector<std::string> m_commandLine;

    // Options and log, exchanged with the front end's controls by pull and push.
    std::string m_logText;
    std::int32_t m_monitorFile = 0;
    std::int32_t m_splitLevel = 1;
    std::int32_t m_ignoreBad = 1;

    // The watched file: its full path, and its modification time in whole seconds (the one
    // field of its status that the watch compares).
    std::string m_monitorPath;
    std::int64_t m_monitorStatus = 0;

    // The last image read whole.
    std::uint32_t m_lastCrc = 0;
    std::uint32_t m_lastSize = 0;
    std::string m_lastFileName;

    // How long a load of DAT files runs before the front end hears of its progress.
    std::chrono::milliseconds m_progressDelay{500};

  private:
    FrontEnd& m_frontEnd;
    // Every file of the last load; none before one.
    const std::vector<LoadedDat>& datFiles() const;
    void error(const std::string& text, unsigned type);
    void appendReport(const std::string& block);
    void scrollLog();
    // What the doctor makes of the image `found` at `path`, whose bytes are `bytes` when at
    // hand, else read again from `path` (unless it is a `member` of an archive).
    doctor::Examination examine(const Identification& found, const std::string& path,
                                const std::vector<std::uint8_t>* bytes, bool member);
    // Identifies each file inside the archive at `path`, reported as `name`, in archive order.
    Outcome identifyArchive(const std::string& path, const std::string& name);
    // identifyFile, the report naming the file `name` (its file name when empty).
    Outcome identifyFileAs(const std::string& path, const std::string& name);
    // Whether a file read as `image` is to be opened as an archive: it looks like one, and the
    // database does not know it whole.
    bool opensAsArchive(const ImageFile& image) const;
    // The one message for the members of an archive whose length is no image's, when the front
    // end groups them; the first few are named.
    void showOddMembers(const std::string& archive, const std::vector<std::string>& members);
    static constexpr std::size_t kOddMembersNamed = 5;
    std::vector<std::string>* m_oddMembers = nullptr;
    // The images of the board being identified, and the bytes of each that the doctor may want.
    struct BoardDumps {
        std::vector<board::Dump> dumps;
        std::vector<std::vector<std::uint8_t>> bytes;
        std::vector<std::span<const std::uint8_t>> views() const {
            return {bytes.begin(), bytes.end()};
        }
    };
    BoardDumps* m_board = nullptr;
    std::optional<board::Catalogue> m_catalogue;
    Outcome identifyBoard(const std::vector<std::string>& paths, const board::Catalogue* catalogue);
    std::string m_writeSetFolder;
    bool m_writeSetReplace = false;
    std::uint64_t m_cacheLimit = kDefaultCacheLimit;
    CacheSize m_cacheSize;
    std::string m_burnFolder;
    std::optional<repair::EpromPart> m_burnPart;
    // The ROMs of the user's collection, for the chips a board lacks; none without one.
    std::optional<repair::Collection> m_collection;
    repair::BurnWritten burnImages(const board::Catalogue& catalogue,
                                   std::span<const std::span<const std::uint8_t>> bytes,
                                   const board::BoardAnswer& answer, const std::string& folder,
                                   bool replace);
    repair::RomSource m_romSource;
    // Where the catalogue of the DATs loaded is kept between runs; empty for none.
    std::string m_catalogueFile;
    // Where the run of the table file `table` is kept compiled between runs.
    std::string runCacheFile(const std::string& table) const;
    // The board of `dumps` judged against `catalogue`, and its answer reported.
    Outcome reportBoard(const BoardDumps& dumps, const board::Catalogue& catalogue,
                        board::BoardAnswer& answer);
    // The last board answered, for its set to be written later.
    struct LastBoard {
        BoardDumps dumps;
        board::BoardAnswer answer;
        const board::Catalogue* catalogue = nullptr;
    };
    std::optional<LastBoard> m_lastBoard;
    // The last board answered; none, said in a message, before any.
    const LastBoard* lastBoard();
    // The catalogue read from the DATs themselves, and stored in the cache when it can be.
    board::Catalogue compileCatalogue();
    // Reports the image read from `path` under `name`, or shows the message for how its read
    // ended; `shownAs` names a member of an archive (or the archive) in its messages, and is
    // empty for a file named on its own. The doctor reads `bytes` when given, else `path`
    // unless the image is a `member` of an archive.
    Outcome reportImage(const std::string& path, const std::string& name,
                        const std::string& shownAs, const ImageFile& image,
                        const std::vector<std::uint8_t>* bytes, bool member = false);
    // Hands the front end the record of what was found of the image at `path`, with what the
    // doctor made of it and of the reads it is the majority of, and the header left out of it.
    void record(const std::string& path, const Identification& found,
                const std::vector<std::uint8_t>* bytes,
                std::optional<doctor::Examination> examination,
                std::optional<doctor::ReadsComparison> reads = std::nullopt,
                const KnownHeader* header = nullptr);
    EntrySources entrySources() const;
    // Whether any DAT entry carries a SHA-1: then records carry the image's (asked once).
    bool anySha1();
    // Whether an image's bytes are wanted after its digest: by the doctor, a board, or the SHA-1
    // of a record or of a part that matched an entry with one.
    bool keepsBytes();
    // Notes in `found` the entries matched whose DAT gives a SHA-1 other than the bytes': those
    // at `bytes` when given, else read again from `path` unless it is a `member` of an archive.
    void checkSha1sOf(Identification& found, const std::string& path,
                      const std::vector<std::uint8_t>* bytes, bool member);
    // Reports a typed lookup.
    Outcome reportTyped(const Identification& found);
    std::optional<bool> m_anySha1;
    // How many entries the table's start holds from the custom database and from the chip table.
    std::size_t m_customLoaded = 0, m_chipsLoaded = 0;
    // How a file named on its own is named in its messages: not at all, as always, unless the
    // front end asked for names.
    std::string shownAs(const std::string& path) const {
        return m_namePaths ? path : std::string();
    }
    bool m_namePaths = false;

    std::string m_programPath;
    bool m_databaseChosen = false;
    std::vector<std::string> m_arguments;
    std::vector<std::string> m_datPaths;
    // Every file of the last load, those of no known format included, and which of them are
    // listed (see dats).
    std::shared_ptr<const DatSet> m_datSet;
    std::vector<std::uint32_t> m_listedDats;
    std::int32_t m_doctor = 0;
    doctor::SameSizeIndex m_sameSize;
    // The last file's bytes when keepsBytes(); given back when larger than this.
    static constexpr std::size_t kKeptBytesAtMost = 16 << 20;
    std::vector<std::uint8_t> m_imageBytes;

    // Appends the entries of every DAT file to the table; returns how many.
    std::int32_t loadDats();
};

}  // namespace chipsight
