// Helpers shared by the test suites.
#include "tests/support/test_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "core/checksum/crc32.h"
#include "core/doctor/doctor.h"

namespace chipsight::testing {

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "chipsight-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
    if (const char* was = std::getenv(name_.c_str())) before_ = was;
    value ? ::setenv(name_.c_str(), value, 1) : ::unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
    before_ ? ::setenv(name_.c_str(), before_->c_str(), 1) : ::unsetenv(name_.c_str());
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void writeFile(const std::string& path, const std::string& text) { writeFile(path, bytesOf(text)); }

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string readText(const std::string& path) {
    const Bytes bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) append(out, part);
    return out;
}

namespace {
// Little-endian numbers of `width` bytes and texts NUL-padded to `width`, one after another.
struct Record {
    Record& le(std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i) bytes.push_back(std::uint8_t(value >> (8 * i)));
        return *this;
    }
    Record& text(const std::string& text, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i) bytes.push_back(i < text.size() ? text[i] : 0);
        return *this;
    }
    Bytes bytes;
};
}  // namespace

Bytes romEntryBytes(std::uint32_t crc, std::uint32_t size, const std::string& name,
                    const std::string& description) {
    return Record().le(crc, 4).le(size, 4).text(name, 18).text(description, 80).le(0, 2).bytes;
}

Bytes romTableBytes(std::int16_t gameIndex, const std::string& name, std::uint32_t crc,
                    std::uint32_t size) {
    return Record().le(std::uint16_t(gameIndex), 2).text(name, 18).le(crc, 4).le(size, 4).bytes;
}

Bytes gameBytes(const std::string& description) { return Record().text(description, 80).bytes; }

std::shared_ptr<const DatStore> openStore(std::span<const std::uint8_t> block) {
    std::shared_ptr<std::uint8_t[]> bytes(new std::uint8_t[block.size()]);
    std::copy(block.begin(), block.end(), bytes.get());
    return DatStore::open(bytes, block.size());
}

std::string title(int count) {
    return ".: Chipsight v1.05 - " + std::to_string(count) + " ROMs - Feb 25 2005 - Morrowlark :.";
}

std::string numbered(std::string_view prefix, long long n) {
    std::string text(prefix);
    text += std::to_string(n);
    return text;
}

RomEntry makeEntry(std::uint32_t crc, std::uint32_t size, const std::string& name,
                   const std::string& description) {
    RomEntry entry;
    entry.crc = crc;
    entry.size = size;
    writeField(entry.name, name);
    writeField(entry.description, description);
    return entry;
}

Bytes randomBytes(std::size_t size, std::mt19937& rng) {
    Bytes bytes(size);
    for (auto& b : bytes) b = std::uint8_t(rng());
    return bytes;
}

std::string hexText(std::uint32_t value, const char* format) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    std::string hex;
    for (const std::uint8_t b : bytes) hex += hexText(b, "%02x");
    return hex;
}

std::string sha1Hex(std::span<const std::uint8_t> bytes) { return hexBytes(doctor::sha1(bytes)); }

std::uint32_t crcOf(std::span<const std::uint8_t> bytes) {
    return Crc32(0, bytes.data(), std::uint32_t(bytes.size()));
}

int occurrences(std::string_view text, std::string_view what) {
    int n = 0;
    for (auto at = text.find(what); at != text.npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::ostream& operator<<(std::ostream& out, const Call& call) {
    return out << call.what << " \"" << call.text << "\" " << call.caption << " " << call.type
               << "/" << call.lines;
}

Calls RecordingFrontEnd::boxes() const {
    Calls out;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
                 [](const Call& c) { return c.what == "messageBox"; });
    return out;
}

}  // namespace chipsight::testing
