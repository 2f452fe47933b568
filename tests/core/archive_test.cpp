// Archives as a source of images: every kind read, members in archive order under
// ARCHIVE/MEMBER with the report of a file of their bytes, links and folders passed over, odd
// sizes and damage said in messages that name what they are about, and the bounds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "core/input/archive.h"
#include "tests/support/archive_writer.h"
#include "tests/support/process.h"
#include "tests/support/reference_report.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;
using ::testing::AllOf, ::testing::EndsWith, ::testing::HasSubstr;

// A tar header block of `fields`, each text at its offset over zeros, with its checksum.
Bytes tarHeader(const std::vector<std::pair<std::size_t, std::string>>& fields) {
    Bytes header(512, 0);
    for (const auto& [at, text] : fields)
        std::copy(text.begin(), text.end(), header.begin() + std::ptrdiff_t(at));
    std::fill(header.begin() + 148, header.begin() + 156, ' ');
    unsigned sum = 0;
    for (std::uint8_t byte : header) sum += byte;
    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%06o", sum);
    std::copy(checksum, checksum + 7, header.begin() + 148);
    return header;
}

// Where `signature` first starts in `bytes` from `from` on.
std::size_t find(const Bytes& bytes, std::string_view signature, std::size_t from = 0) {
    return std::size_t(std::search(bytes.begin() + std::ptrdiff_t(from), bytes.end(),
                                   signature.begin(), signature.end()) -
                       bytes.begin());
}

class Archives : public CoreTest {
  protected:
    void SetUp() override {
        core.m_entries = {makeEntry(0xEAE621C7, 2, "U2", "Demo board")};
        core.m_splitLevel = 2;
    }
    // The log a file of `bytes` named `name` gets.
    std::string reportOf(const Bytes& bytes, const std::string& name) {
        return referenceReport(core.m_entries, bytes, name, 2, true) + "\r\n";
    }
    // What identifying `path` shows: the log it adds, then each message box as
    // "[CAPTION/TYPE] TEXT".
    std::string identify(const std::string& path) {
        const std::size_t before = core.m_logText.size();
        ui.calls.clear();
        core.identifyFile(path);
        std::string shown = core.m_logText.substr(before);
        for (const Call& b : ui.boxes())
            shown += "[" + b.caption + numbered("/", b.type) + "] " + b.text;
        return shown;
    }
    // The boxes of an image of a length no ROM has, and of an archive that cannot be read.
    static std::string refused(const std::string& path) {
        return "[Error/0] ROM size must be power of 2!\n" + path;
    }
    static std::string unreadable(const std::string& path) {
        return "[Error/0] Error reading file :(\n" + path;
    }
};

TEST_F(Archives, EveryKindGivesItsRegularFilesInOrder) {
    const Bytes a{0, 1, 2, 3}, b = randomBytes(4096, 1);
    for (const std::string kind : {"zip", "7z", "tar", "tar.gz", "tar.xz", "tar.bz2"}) {
        std::vector<Member> members = {{"dir/", {}, Member::Directory},
                                       {"dir/a.bin", a},
                                       {"odd.bin", {1, 2, 3}},
                                       {"b.bin", b},
                                       // 7z keeps empty files after those with bytes
                                       {"empty.bin", {}}};
        // A link is no image of its own, whichever kind of link.
        if (kind != "7z")
            members.insert(members.begin() + 2, {"link", {}, Member::Symlink, "b.bin"});
        if (kind.starts_with("tar"))
            members.insert(members.begin() + 3, {"again.bin", {}, Member::Hardlink, "dir/a.bin"});
        const std::string path = dir.file("set." + kind), name = "set." + kind;
        writeArchive(path, kind, members);
        EXPECT_EQ(identify(path), reportOf(a, name + "/dir/a.bin") + reportOf(b, name + "/b.bin") +
                                      reportOf({}, name + "/empty.bin") +
                                      refused(path + "/odd.bin"))
            << kind;
        EXPECT_EQ(core.m_lastFileName, name + "/empty.bin");
    }
    // A single gzip stream holds the file its name says, without the suffix.
    writeArchive(dir.file("rom.bin.gz"), "gz", {{"data", a}});
    EXPECT_EQ(identify(dir.file("rom.bin.gz")), reportOf(a, "rom.bin.gz/rom.bin"));
    // Streams one after another are one file, though the last trailer names only its own part.
    writeArchive(dir.file("half.gz"), "gz", {{"data", {0, 1}}});
    writeArchive(dir.file("odd.gz"), "gz", {{"data", {2, 3, 4}}});
    writeFile(dir.file("two.bin.gz"),
              join({readFile(dir.file("half.gz")), readFile(dir.file("half.gz"))}));
    EXPECT_EQ(identify(dir.file("two.bin.gz")), reportOf({0, 1, 0, 1}, "two.bin.gz/two.bin"));
    EXPECT_EQ(identify(dir.file("odd.gz")), refused(dir.file("odd.gz") + "/odd"));
}

TEST_F(Archives, WhatIsNoArchiveOrIsInsideOneIsAnImage) {
    // Signatures on bytes that are no archive; an archive inside is one member.
    for (const Bytes& bytes : {join({{'P', 'K', 3, 4}, Bytes(60, 0xA5)}),
                               join({{0x1F, 0x8B}, Bytes(14, 7)}), Bytes(1024, 0)}) {
        writeFile(dir.file("image.bin"), bytes);
        EXPECT_EQ(identify(dir.file("image.bin")), reportOf(bytes, "image.bin"));
    }
    writeArchive(dir.file("inner.zip"), "zip", {{"a.bin", {0, 1, 2, 3}}});
    const Bytes inner = readFile(dir.file("inner.zip"));
    // A member whose path climbs out is a name and nothing more: nothing is written anywhere.
    writeArchive(dir.file("outer.zip"), "zip", {{"inner.zip", inner}, {"../up.bin", {9, 9}}});
    const auto before = std::distance(fs::directory_iterator(dir.path()), {});
    ASSERT_NE(inner.size() & (inner.size() - 1), 0u) << "so that it is refused as an image";
    EXPECT_EQ(identify(dir.file("outer.zip")), reportOf({9, 9}, "outer.zip/../up.bin") +
                                                   refused(dir.file("outer.zip") + "/inner.zip"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), before);
}

TEST_F(Archives, DamageEndsTheArchiveAndKeepsWhatCameBefore) {
    const Bytes first{0, 1, 2, 3}, second = randomBytes(8192, 2);
    writeArchive(dir.file("set.zip"), "zip",
                 {{"first.bin", first}, {"second.bin", second}, {"third.bin", first}});
    const Bytes whole = readFile(dir.file("set.zip"));
    // The second member's bytes start after its local header (30 bytes and its name).
    const std::size_t at = find(whole, "PK\3\4", 1) + 30 + 10 + 1000;
    ASSERT_LT(at + 16, whole.size());
    Bytes damaged = whole;
    for (std::size_t i = at; i < at + 16; ++i) damaged[i] ^= 0x55;
    const Bytes cut(whole.begin(), whole.begin() + std::ptrdiff_t(at));
    for (const Bytes& bytes : {damaged, cut}) {
        writeFile(dir.file("bad.zip"), bytes);
        core.m_monitorFile = 1;
        EXPECT_EQ(identify(dir.file("bad.zip")),
                  reportOf(first, "bad.zip/first.bin") + unreadable(dir.file("bad.zip")));
        EXPECT_EQ(core.m_monitorFile, 0) << "a read that fails ends the watch, as for a file";
    }
    // Cut inside its central directory, a zip still holds every member's bytes, but it is not
    // whole.
    writeFile(dir.file("bad.zip"),
              Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(find(whole, "PK\1\2") + 60)));
    EXPECT_EQ(identify(dir.file("bad.zip")),
              reportOf(first, "bad.zip/first.bin") + reportOf(second, "bad.zip/second.bin") +
                  reportOf(first, "bad.zip/third.bin") + unreadable(dir.file("bad.zip")));
    EXPECT_EQ(identify(dir.file("missing.zip")), "[Error/0] Error opening file :(");
}

// The CRC-32 that ends each gzip member covers every byte of a tar inside, so a member is handed
// on only from a stream that proved whole.
TEST_F(Archives, AGzipStreamItsChecksumProvesDamagedIsAnError) {
    for (const std::string kind : {"gz", "tar.gz"}) {
        const std::string path = dir.file("bad." + kind);
        writeArchive(path, kind, {{"a.bin", randomBytes(4096, 3)}});
        Bytes bytes = readFile(path);
        bytes[bytes.size() - 8] ^= 1;
        writeFile(path, bytes);
        EXPECT_EQ(identify(path), unreadable(path)) << kind;
    }
}

TEST_F(Archives, SparseMembersReadTheirHolesAsZeros) {
    // As GNU tar writes them: a file that is all hole (a map of one empty run at its end) and
    // one with 512 bytes at 1 KiB, then an ordinary member.
    // Numbers are octal; the runs of the map are (offset, length) pairs from 386 on.
    const auto sparse = [](const std::string& name, const std::string& stored,
                           const Strings& runs) {
        std::vector<std::pair<std::size_t, std::string>> fields = {
            {0, name},  {100, "0000644"}, {124, stored},
            {156, "S"}, {257, "ustar  "}, {483, "00004000000"}};
        for (std::size_t i = 0; i < runs.size(); ++i) fields.push_back({386 + 12 * i, runs[i]});
        return tarHeader(fields);
    };
    const Bytes run = randomBytes(512, 4);
    writeFile(dir.file("sparse.tar"),
              join({sparse("hole.bin", "00000000000", {"00004000000", "00000000000"}),
                    sparse("some.bin", "00000001000",
                           {"00000002000", "00000001000", "00004000000", "00000000000"}),
                    run,
                    tarHeader({{0, "a.bin"},
                               {100, "0000644"},
                               {124, "00000000004"},
                               {156, "0"},
                               {257, "ustar  "}}),
                    {0, 1, 2, 3},
                    Bytes(508 + 1024)}));
    Bytes some(1 << 20, 0);
    std::copy(run.begin(), run.end(), some.begin() + 1024);
    EXPECT_EQ(identify(dir.file("sparse.tar")), reportOf(Bytes(1 << 20), "sparse.tar/hole.bin") +
                                                    reportOf(some, "sparse.tar/some.bin") +
                                                    reportOf({0, 1, 2, 3}, "sparse.tar/a.bin"));
}

// Names stored as UTF-8 (zip's flag, pax), as UTF-16 (7z), or as bytes of no stated encoding
// reach the report as they are, whatever the locale.
TEST_F(Archives, NamesKeepTheirBytes) {
    const Bytes a{0, 1, 2, 3};
    for (const std::string kind : {"zip", "7z", "tar"}) {
        const std::string path = dir.file("u." + kind);
        writeArchive(path, kind, {{"caf\u00e9/\u65e5\u672c.bin", a}});
        EXPECT_EQ(identify(path), reportOf(a, "u." + kind + "/caf\u00e9/\u65e5\u672c.bin"));
    }
    writeArchive(dir.file("raw.zip"), "zip", {{"raw-X.bin", a}});
    Bytes raw = readFile(dir.file("raw.zip"));
    for (std::size_t at; (at = find(raw, "raw-X")) < raw.size();) raw[at + 4] = 0xE9;
    writeFile(dir.file("raw.zip"), raw);
    EXPECT_EQ(identify(dir.file("raw.zip")), reportOf(a, "raw.zip/raw-\xE9.bin"));
}

// A member behind a known header is identified, and examined, by the bytes after it; one of that
// length without the header's signature is refused for its length as ever.
TEST_F(Archives, AMemberBehindAKnownHeaderIsTakenWithoutIt) {
    core.m_entries = {makeEntry(0x8BB98613, 4, "CHIP", "Demo")};
    core.setDoctor(true);
    const Bytes nes = join({{'N', 'E', 'S', 0x1A}, Bytes(12), {1, 0, 3, 2}});
    Bytes odd = nes;
    odd[0] = 'X';
    for (const std::string kind : {"zip", "tar.gz"}) {
        const std::string path = dir.file("set." + kind);
        writeArchive(path, kind, {{"swapped.nes", nes}, {"odd.nes", odd}});
        EXPECT_THAT(identify(path),
                    AllOf(HasSubstr("\r\n\t** iNES header of 16 bytes left out\r\n\t>> bytes "
                                    "swapped in each 16-bit word: CHIP : Demo"),
                          EndsWith("\r\n" + refused(path + "/odd.nes"))))
            << kind;
    }
}

// The bounds: the bytes an archive unpacks to, and a member too large for the database's sizes,
// known from its header before any of its bytes are read.
using ArchiveBounds = Archives;

TEST_F(ArchiveBounds, UnpackingStopsAtTheLimitAndHugeMembersAreRefused) {
    writeArchive(dir.file("zeros.tar.xz"), "tar.xz",
                 {{"a.bin", Bytes(1 << 20)}, {"b.bin", Bytes(1 << 20)}});
    Strings seen;
    const auto keep = [&](ArchiveMember& m) { seen.push_back(m.path); };
    EXPECT_EQ(readArchive(dir.file("zeros.tar.xz"), 1, false, keep, 3 << 19), ArchiveEnd::TooLarge);
    EXPECT_EQ(seen, Strings{"a.bin"});
    seen.clear();
    EXPECT_EQ(readArchive(dir.file("zeros.tar.xz"), 1, false, keep, 2 << 20), ArchiveEnd::Done);
    EXPECT_EQ(seen.size(), 2u);
    // A gzip file is inflated whole to be checked before any member is handed on.
    writeArchive(dir.file("zeros.gz"), "gz", {{"data", Bytes(2 << 20)}});
    EXPECT_EQ(readArchive(dir.file("zeros.gz"), 1, false, keep, 1 << 20), ArchiveEnd::TooLarge);

    // A ustar header of a 5 GiB member, and no bytes after it.
    const Bytes header = tarHeader({{0, "huge.bin"},
                                    {100, "0000644"},
                                    {124, "50000000000"},  // 5 GiB in octal
                                    {156, "0"},
                                    {257, "ustar"},
                                    {263, "00"}});
    writeFile(dir.file("huge.tar"), header);
    EXPECT_EQ(identify(dir.file("huge.tar")), "[Error/0] ROM size must be below 4 GiB!\n" +
                                                  dir.file("huge.tar") + "/huge.bin" +
                                                  unreadable(dir.file("huge.tar")));
}

// A single stream says its length nowhere ahead, and a gzip stream only modulo 4 GiB and in each
// member apart: however many streams one after another, its member is checksummed as it
// unpacks, every part of every level.
TEST(ArchiveStreams, AreDigestedAsTheyUnpack) {
    TempDir dir;
    for (const std::string kind : {"gz", "xz", "bz2"})
        for (const std::size_t split : {std::size_t(1), std::size_t(200000)}) {
            const Bytes head = randomBytes(split, 5), tail = randomBytes(split == 1 ? 1 : 62144, 6);
            writeArchive(dir.file("head"), kind, {{"data", head}});
            writeArchive(dir.file("tail"), kind, {{"data", tail}});
            const Bytes whole = join({head, tail});
            const std::string path = dir.file("rom.bin." + kind);
            writeFile(path, join({readFile(dir.file("head")), readFile(dir.file("tail"))}));
            for (const int level : {3, 9}) {
                ImageDigest expected(std::uint32_t(whole.size()), level);
                expected.add(whole);
                expected.finish();
                int members = 0;
                EXPECT_EQ(
                    readArchive(path, level, true,
                                [&](ArchiveMember& m) {
                                    ++members;
                                    EXPECT_EQ(m.path, "rom.bin");
                                    ASSERT_EQ(m.image.status, ImageStatus::Read);
                                    EXPECT_TRUE(m.bytesKept && m.bytes == whole);
                                    const ImageDigest& got = m.image.digest;
                                    ASSERT_EQ(got.length(), whole.size());
                                    EXPECT_EQ(got.allBits(), expected.allBits());
                                    EXPECT_EQ(got.anyBits(), expected.anyBits());
                                    for (int i = 0; i < level; ++i)
                                        for (std::uint32_t p = 0; p < 1u << i; ++p)
                                            EXPECT_EQ(got.partCrc(i, p), expected.partCrc(i, p))
                                                << kind << " " << whole.size() << " level " << i
                                                << " part " << p;
                                }),
                    ArchiveEnd::Done);
                EXPECT_EQ(members, 1);
            }
        }
}

TEST(ArchiveStreams, OfUnknownLengthAreNotHeldToBeDigested) {
    if (kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer keeps what was freed mapped a while";
    TempDir dir;
    for (const std::string kind : {"gz", "xz", "bz2"}) {
        // 96 MiB and a byte in 97 streams, more than the child may hold: not an image, which
        // takes reading it all to know.
        writeArchive(dir.file("mib"), kind, {{"data", Bytes(1 << 20)}});
        writeArchive(dir.file("byte"), kind, {{"data", {7}}});
        const Bytes mib = readFile(dir.file("mib"));
        Bytes all;
        for (int i = 0; i < 96; ++i) append(all, mib);
        append(all, readFile(dir.file("byte")));
        writeFile(dir.file("big." + kind), all);
        // Read in a child that may map only 64 MiB more than it has when it starts.
        const std::string path = dir.file("big." + kind),
                          said = saidWithin(64 << 20, [&] {
                              std::string status;
                              const ArchiveEnd end =
                                  readArchive(path, 9, false, [&](ArchiveMember& m) {
                                      status = numbered("status ", int(m.image.status)) +
                                               numbered(", length ", std::int64_t(m.image.length));
                                  });
                              return end == ArchiveEnd::Done ? status : "not done";
                          });
        EXPECT_EQ(said, numbered("status ", int(ImageStatus::NotPowerOfTwo)) +
                            numbered(", length ", (96 << 20) + 1))
            << kind;
    }
}

}  // namespace
}  // namespace chipsight
