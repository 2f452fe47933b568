// The DAT readers over any bytes: nothing may crash or leak, and the XML scanner must read
// every input exactly as expat alone does (the same ROMs, the same verdict, line and reason),
// whatever pieces the bytes arrive in. expat reads its input whole.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/databases/dat/dat_internal.h"

using namespace chipsight;

namespace {

struct Recorder : DatSink {
    void rom(const DatRom& r) override {
        std::string line;
        for (std::string_view s : {r.name, r.setName, r.setDescription, r.listName, r.sha1,
                                   r.region, r.endianness, r.loadFlag})
            line.append(s).push_back('\x1f');
        line += std::to_string(r.crc) + ' ' + std::to_string(r.size) + ' ' +
                std::to_string(r.offset) + ' ' + std::to_string(r.hasOffset) + ' ' +
                std::to_string(r.dataWidth) + ' ' + std::to_string(r.badDump);
        if (r.sha1.size() != 0 && r.sha1.size() != 40) std::abort();
        roms.push_back(std::move(line));
    }
    std::vector<std::string> roms;
};

void check(bool same, const char* what, const DatResult& a, const DatResult& b) {
    if (same) return;
    std::fprintf(stderr, "%s differ: scanner %d %d line %llu '%s', expat %d %d line %llu '%s'\n",
                 what, int(a.format), a.ok, (unsigned long long)a.line, a.reason.c_str(),
                 int(b.format), b.ok, (unsigned long long)b.line, b.reason.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte chooses the pieces the scanner gets: all at once, or 1 to 127 bytes.
    const std::size_t piece = data[0] & 1 ? 0 : data[0] >> 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    Recorder scanned, reference;
    const DatResult a = dat::readDatBytesWith(bytes, scanned, dat::XmlEngine::Scanner, piece);
    const DatResult b = dat::readDatBytesWith(bytes, reference, dat::XmlEngine::ExpatOnly);
    check(a.format == b.format, "formats", a, b);
    check(a.ok == b.ok, "verdicts", a, b);
    // expat's own verdict on a broken document can depend on where its input was split (the
    // kind of error, and so where it is seen), so with pieces only our own reasons must agree.
    const bool expats =
        a.reason.starts_with("not well-formed XML") && b.reason.starts_with("not well-formed XML");
    if (piece == 0 || !expats) check(a.line == b.line && a.reason == b.reason, "failures", a, b);
    check(a.ok ? scanned.roms == reference.roms : true, "entries", a, b);
    if (!a.ok && a.reason.empty()) std::abort();
    if (a.ok && a.format == DatFormat::None && !scanned.roms.empty()) std::abort();
    return 0;
}
