// The XML formats (MAME ListXML, MAME software lists, Logiqx): what their elements mean, read
// by expat or by a scanner of our own that is several times faster. The scanner takes only
// the plain XML that DATs are made of and checks it as strictly as expat does; at anything
// else (an entity of a DTD, a processing instruction, any mistake, the document's end) it
// hands the rest of the document to expat, which then reads on from that very token as if it
// had read everything before, so every document means the same, and every mistake is reported
// the same, whichever of the two reads it. A file is read in pieces, and no token is read from
// its start again at every piece: comments and text the DAT does not keep are not held at all,
// however long, so a small compressed file cannot make a start-up slow or large.
#include <expat.h>
#include <iconv.h>
#include <strings.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <utility>

#include "core/databases/dat/dat_internal.h"
#include "core/sys/byte_order.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace chipsight::dat {
#if defined(__x86_64__)
namespace detail {
// In dat_xml_avx2.cpp, built with AVX2: passes the bytes from p that a comment takes as they
// are, 64 at a time, up to a block that holds another (or fewer than 64 are left), adding up
// the LFs passed and telling whether a CR was among them.
const unsigned char* skipCommentAvx2(const unsigned char* p, const unsigned char* end,
                                     std::uint64_t& lineFeeds, bool& carriageReturn);
}  // namespace detail
#endif
namespace {

struct XmlAttr {
    std::string_view name, value;
};

// What an element is to a DAT; everything else is Other, and so is all below it.
enum class Role : std::uint8_t {
    Other,
    Root,
    List,
    Set,
    Description,
    Part,
    DataArea,
    Rom,
    DeviceRef  // read only for a sink that wants whole sets
};

DatFormat formatOfRoot(std::string_view name) {
    if (name == "mame" || name == "mess") return DatFormat::ListXml;
    if (name == "softwarelist" || name == "softwarelists") return DatFormat::SoftwareList;
    if (name == "datafile") return DatFormat::Logiqx;
    return DatFormat::None;
}

std::string_view attr(const XmlAttr* attrs, std::size_t count, std::string_view name,
                      bool* present = nullptr) {
    for (std::size_t i = 0; i < count; ++i)
        if (attrs[i].name == name) {
            if (present) *present = true;
            return attrs[i].value;
        }
    if (present) *present = false;
    return {};
}

// The meaning of the elements, the same for both readers.
class DatXml {
  public:
    DatXml(DatSink& sink, DatFormat format)
        : sink_(sink), format_(format), collector_(sink), wholeSets_(collector_.wholeSets()) {}

    Role roleOf(std::string_view name) const {
        switch (roles_.empty() ? Role::Other : roles_.back()) {
            case Role::Root:
                if (format_ == DatFormat::SoftwareList)
                    return name == "softwarelist" ? Role::List : Role::Other;
                return name == "machine" || name == "game" ? Role::Set : Role::Other;
            case Role::List:
                return name == "software" ? Role::Set : Role::Other;
            case Role::Set:
                if (name == "description") return Role::Description;
                if (format_ == DatFormat::SoftwareList)
                    return name == "part" ? Role::Part : Role::Other;
                if (name == "rom") return Role::Rom;
                if (wholeSets_) [[unlikely]]
                    return wholeSetChild(name);
                return Role::Other;
            case Role::Part:
                return name == "dataarea" ? Role::DataArea : Role::Other;
            case Role::DataArea:
                return name == "rom" ? Role::Rom : Role::Other;
            default:
                return Role::Other;
        }
    }
    // The role of the document element.
    static Role rootRole(std::string_view name) {
        return name == "softwarelist" ? Role::List : Role::Root;
    }

    // Null, or why the file is malformed.
    const char* start(Role role, const XmlAttr* attrs, std::size_t count) {
        roles_.push_back(role);
        switch (role) {
            case Role::List:
                listName_.assign(attr(attrs, count, "name"));
                break;
            case Role::Set:
                setName_.assign(attr(attrs, count, "name"));
                description_.clear();
                haveDescription_ = false;
                collector_.clear();
                if (wholeSets_) [[unlikely]]
                    startWholeSet(attrs, count);
                break;
            case Role::DeviceRef:
                collector_.addDeviceRef(attr(attrs, count, "name"));
                break;
            case Role::Description:
                collecting_ = !haveDescription_;
                break;
            case Role::DataArea: {
                areaName_.assign(attr(attrs, count, "name"));
                areaEndianness_.assign(attr(attrs, count, "endianness"));
                bool present = false;
                const std::string_view width = attr(attrs, count, "width", &present);
                const auto value = present ? parseDecimal(width) : std::optional<std::uint32_t>(0);
                if (!value) return "width is not a number";
                areaWidth_ = *value;
                break;
            }
            case Role::Rom: {
                RomFields rom;
                for (std::size_t i = 0; i < count; ++i) {
                    const std::string_view n = attrs[i].name, v = attrs[i].value;
                    if (n == "name")
                        rom.name = v;
                    else if (n == "size")
                        rom.size = v;
                    else if (n == "crc")
                        rom.crc = v;
                    else if (n == "sha1")
                        rom.sha1 = v, rom.hasSha1 = true;
                    else if (n == "merge")
                        rom.merge = v, rom.hasMerge = true;
                    else if (n == "status")
                        rom.status = v;
                    else if (n == "region")
                        rom.region = v;
                    else if (n == "offset")
                        rom.offset = v, rom.hasOffset = true;
                    else if (n == "loadflag")
                        rom.loadFlag = v;
                    else if (wholeSets_ && n == "bios")
                        rom.bios = v;
                }
                return collector_.add(rom, {areaName_, areaEndianness_, areaWidth_});
            }
            default:
                break;
        }
        return nullptr;
    }

    void end() {
        if (roles_.empty()) return;
        const Role role = roles_.back();
        roles_.pop_back();
        if (role == Role::Set) {
            collector_.flush(sink_, setName_, description_, listName_);
        } else if (role == Role::Description && collecting_) {
            collecting_ = false;
            haveDescription_ = true;
        } else if (role == Role::DataArea) {
            areaName_.clear();
            areaEndianness_.clear();
            areaWidth_ = 0;
        }
    }

    // Out of line, so that `roleOf` compiles as it would without whole sets.
    [[gnu::noinline]] static Role wholeSetChild(std::string_view name) {
        return name == "device_ref" ? Role::DeviceRef : Role::Other;
    }
    // Out of line, so that `start` stays as small for the entries as without whole sets.
    [[gnu::noinline]] void startWholeSet(const XmlAttr* attrs, std::size_t count) {
        collector_.setFields({attr(attrs, count, "cloneof"), attr(attrs, count, "romof"),
                              attr(attrs, count, "isbios") == "yes",
                              attr(attrs, count, "isdevice") == "yes"});
    }

    bool wantsText() const { return collecting_ && roles_.back() == Role::Description; }
    void text(std::string_view s) {
        if (wantsText()) description_.append(s);
    }

  private:
    DatSink& sink_;
    DatFormat format_;
    std::vector<Role> roles_;
    SetCollector collector_;
    const bool wholeSets_;
    std::string listName_, setName_, description_, areaName_, areaEndianness_;
    std::uint32_t areaWidth_ = 0;
    bool collecting_ = false, haveDescription_ = false;
};

// How a document's attribute list declarations change what its start tags say: the first
// declaration of an attribute of an element is the one that counts.
struct AttributeDecl {
    std::string name;
    bool cdata = true;
    std::optional<std::string> value;  // the default
};
using AttributeDecls = std::map<std::string, std::vector<AttributeDecl>, std::less<>>;

// ---------------------------------------------------------------------------------------------
// expat

struct ExpatRun {
    ExpatRun(DatSink& s, DatResult& r, std::unique_ptr<DatXml>& d) : sink(s), result(r), dat(d) {}
    DatSink& sink;
    DatResult& result;
    std::unique_ptr<DatXml>& dat;
    XML_Parser parser = nullptr;
    bool stopAtRoot = false;  // the scanner reads on after the document element's start tag
    bool replaying = false;   // the events are of bytes the scanner has read already
    bool unknownRoot = false;
    bool scannable = true;       // nothing in the prolog that only expat can read
    bool rootExpected = false;   // the prolog's reader passes the document element's start tag
    std::int64_t lineShift = 0;  // what expat's line numbers lack of the document's
    std::uint64_t rootEnd = 0;   // where the document element's start tag ends
    std::uint64_t rootLine = 0;  // and the line it starts on
    std::string doctype, encoding;
    AttributeDecls decls;
    std::string openNames;  // the open elements, each followed by a NUL
    const char* failure = nullptr;
    std::uint64_t failureLine = 0;
    std::vector<XmlAttr> attrs;

    std::uint64_t line() const {
        return std::uint64_t(std::int64_t(XML_GetCurrentLineNumber(parser)) + lineShift);
    }
};

void XMLCALL onXmlDecl(void* data, const XML_Char*, const XML_Char* encoding, int) {
    auto& run = *static_cast<ExpatRun*>(data);
    if (encoding) run.encoding = encoding;
    if (encoding && strcasecmp(encoding, "UTF-8") != 0) run.scannable = false;
}

// Encodings expat does not know itself (it knows UTF-8, UTF-16, ISO-8859-1 and US-ASCII) are
// read through iconv: expat asks for what each byte is, and for the length of the sequences a
// lead byte starts, and calls back for the character of each such sequence. It takes only
// encodings that write the ASCII characters of markup as ASCII does and need at most four
// bytes for a character, and checks that itself.
class IconvEncoding {
  public:
    enum class Probe { Char, Invalid, Short };

    explicit IconvEncoding(iconv_t cd) : cd_(cd) {}
    ~IconvEncoding() { iconv_close(cd_); }
    IconvEncoding(const IconvEncoding&) = delete;
    IconvEncoding& operator=(const IconvEncoding&) = delete;

    // Converts the `n` bytes at `s` on their own: one character (`c`), not one, or too few.
    Probe probe(const char* s, std::size_t n, std::uint32_t& c) const {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(s);
        std::size_t inLeft = n;
        unsigned char out[8];
        char* to = reinterpret_cast<char*>(out);
        std::size_t outLeft = sizeof out;
        const std::size_t done = iconv(cd_, &in, &inLeft, &to, &outLeft);
        if (done == std::size_t(-1) && errno == EINVAL) return Probe::Short;
        if (done == std::size_t(-1) || inLeft != 0 || sizeof out - outLeft != 4)
            return Probe::Invalid;
        c = load32(out);
        return Probe::Char;
    }

    // Fills expat's table: the character of each byte, -n for a byte that starts sequences of
    // n bytes, -1 for one that is no character. False when the lengths of the sequences a byte
    // starts differ, which expat cannot follow.
    bool fill(int* map) {
        for (int b = 0; b < 256; ++b) {
            const char one = char(b);
            std::uint32_t c = 0;
            const Probe probed = probe(&one, 1, c);
            if (probed == Probe::Char) {
                map[b] = c <= 0xFFFF ? int(c) : -1;  // expat's limit for such encodings
                continue;
            }
            map[b] = -1;
            if (probed == Probe::Invalid) continue;
            const int n = sequenceLength(char(b));
            if (n < 0) return false;
            if (n > 0) map[b] = -n;
            lengths_[std::size_t(b)] = std::uint8_t(n);
        }
        return true;
    }

    static int XMLCALL convert(void* data, const char* s) {
        const auto& self = *static_cast<const IconvEncoding*>(data);
        std::uint32_t c = 0;
        const std::size_t n = self.lengths_[std::uint8_t(*s)];
        return self.probe(s, n, c) == Probe::Char && c <= 0xFFFF ? int(c) : -1;
    }
    static void XMLCALL release(void* data) { delete static_cast<IconvEncoding*>(data); }

  private:
    // The length of every sequence that `lead` starts (2 or 3), 0 when it starts none, -1
    // when they differ or are longer.
    int sequenceLength(char lead) const {
        std::uint32_t c = 0;
        int chars = 0;
        std::vector<char> shortSeconds;
        for (int second = 0; second < 256; ++second) {
            const char two[2] = {lead, char(second)};
            const Probe probed = probe(two, 2, c);
            if (probed == Probe::Char) ++chars;
            if (probed == Probe::Short) shortSeconds.push_back(char(second));
        }
        if (chars > 0) return shortSeconds.empty() ? 2 : -1;
        chars = 0;
        for (const char second : shortSeconds)
            for (int third = 0; third < 256; ++third) {
                const char three[3] = {lead, second, char(third)};
                const Probe probed = probe(three, 3, c);
                if (probed == Probe::Short) return -1;
                if (probed == Probe::Char) ++chars;
            }
        return chars > 0 ? 3 : 0;
    }

    iconv_t cd_;
    std::array<std::uint8_t, 256> lengths_{};
};

int XMLCALL onUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
    // Only a name as XML writes one goes to iconv, which would read more into others.
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!letter(name[0])) return XML_STATUS_ERROR;
    for (const XML_Char* c = name; *c; ++c)
        if (!letter(*c) && !(*c >= '0' && *c <= '9') && *c != '.' && *c != '_' && *c != '-')
            return XML_STATUS_ERROR;
    const iconv_t cd = iconv_open("UTF-32LE", name);
    if (cd == iconv_t(-1)) return XML_STATUS_ERROR;
    auto encoding = std::make_unique<IconvEncoding>(cd);
    if (!encoding->fill(info->map)) return XML_STATUS_ERROR;
    info->data = encoding.release();
    info->convert = IconvEncoding::convert;
    info->release = IconvEncoding::release;
    return XML_STATUS_OK;
}

void XMLCALL onDoctype(void* data, const XML_Char* name, const XML_Char*, const XML_Char*, int) {
    static_cast<ExpatRun*>(data)->doctype = name;
}

void XMLCALL onEntityDecl(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                          const XML_Char*, const XML_Char*, const XML_Char*) {
    static_cast<ExpatRun*>(data)->scannable = false;
}

void XMLCALL onAttlistDecl(void* data, const XML_Char* element, const XML_Char* name,
                           const XML_Char* type, const XML_Char* value, int) {
    auto& decls = static_cast<ExpatRun*>(data)->decls[element];
    for (const auto& d : decls)
        if (d.name == name) return;
    decls.push_back({name, std::strcmp(type, "CDATA") == 0,
                     value ? std::optional<std::string>(value) : std::nullopt});
}

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** atts) {
    auto& run = *static_cast<ExpatRun*>(data);
    run.openNames.append(name).push_back('\0');
    if (run.replaying) return;
    const std::string_view element(name);
    Role role;
    if (!run.dat) {
        run.result.format = formatOfRoot(element);
        if (run.result.format == DatFormat::None) {
            run.unknownRoot = true;
            XML_StopParser(run.parser, XML_FALSE);
            return;
        }
        run.dat = std::make_unique<DatXml>(run.sink, run.result.format);
        role = DatXml::rootRole(element);
    } else {
        role = run.dat->roleOf(element);
    }
    run.attrs.clear();
    if (role != Role::Other)
        for (const XML_Char** a = atts; *a; a += 2) run.attrs.push_back({a[0], a[1]});
    if (const char* failure = run.dat->start(role, run.attrs.data(), run.attrs.size())) {
        run.failure = failure;
        run.failureLine = run.line();
        XML_StopParser(run.parser, XML_FALSE);
        return;
    }
    if (run.stopAtRoot && run.openNames.size() == element.size() + 1) {
        // The prolog is behind: the scanner reads on from here, unless it held what only expat
        // can read.
        if (run.scannable && run.rootExpected) {
            run.rootEnd = std::uint64_t(XML_GetCurrentByteIndex(run.parser) +
                                        XML_GetCurrentByteCount(run.parser));
            run.rootLine = run.line();
            XML_StopParser(run.parser, XML_TRUE);
        } else {
            run.stopAtRoot = false;
        }
    }
}

void XMLCALL onEnd(void* data, const XML_Char*) {
    auto& run = *static_cast<ExpatRun*>(data);
    const std::size_t last = run.openNames.rfind('\0', run.openNames.size() - 2);
    run.openNames.resize(last == std::string::npos ? 0 : last + 1);
    if (!run.replaying && run.dat) run.dat->end();
}

void XMLCALL onText(void* data, const XML_Char* s, int length) {
    auto& run = *static_cast<ExpatRun*>(data);
    if (!run.replaying && run.dat) run.dat->text({s, std::size_t(length)});
}

XML_Parser newParser(ExpatRun& run) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &run);
    XML_SetXmlDeclHandler(parser, onXmlDecl);
    XML_SetStartDoctypeDeclHandler(parser, onDoctype);
    XML_SetEntityDeclHandler(parser, onEntityDecl);
    XML_SetAttlistDeclHandler(parser, onAttlistDecl);
    XML_SetElementHandler(parser, onStart, onEnd);
    XML_SetCharacterDataHandler(parser, onText);
    XML_SetUnknownEncodingHandler(parser, onUnknownEncoding, nullptr);
    run.parser = parser;
    run.openNames.clear();
    return parser;
}

// The innermost open element, for messages.
std::string innermost(const std::string& openNames) {
    if (openNames.empty()) return {};
    const std::size_t last = openNames.rfind('\0', openNames.size() - 2);
    return openNames.substr(last == std::string::npos ? 0 : last + 1,
                            openNames.size() - 1 - (last == std::string::npos ? 0 : last + 1));
}

// Fills in the result after expat stopped with an error.
void expatFailed(ExpatRun& run, bool final) {
    DatResult& result = run.result;
    if (run.failure) {
        result.ok = false;
        result.reason = run.failure;
        result.line = run.failureLine;
        return;
    }
    const XML_Error code = XML_GetErrorCode(run.parser);
    // A document in an encoding that cannot be read might be a DAT: the user hears why it is
    // not read, whatever it is.
    if (code == XML_ERROR_UNKNOWN_ENCODING || code == XML_ERROR_INCORRECT_ENCODING) {
        result.ok = false;
        result.line = run.line();
        result.reason = code == XML_ERROR_UNKNOWN_ENCODING
                            ? "the encoding " + run.encoding + " is not supported"
                            : "the text is not in the encoding " + run.encoding + " it declares";
        return;
    }
    // A document that breaks off before it shows what it is may be anything: it is passed
    // over like any other file of no known format, unless its DTD named a DAT's root.
    if (!run.unknownRoot && result.format == DatFormat::None)
        result.format = formatOfRoot(run.doctype);
    if (run.unknownRoot || result.format == DatFormat::None) {
        result.format = DatFormat::None;
        return;
    }
    result.ok = false;
    result.line = run.line();
    const std::string open = innermost(run.openNames);
    if (final && !open.empty() &&
        (code == XML_ERROR_NO_ELEMENTS || code == XML_ERROR_UNCLOSED_TOKEN ||
         code == XML_ERROR_PARTIAL_CHAR))
        result.reason = "unclosed <" + open + "> element";
    else if (code == XML_ERROR_TAG_MISMATCH && !open.empty())
        result.reason = "end tag does not match <" + open + ">";
    else if (code == XML_ERROR_NO_ELEMENTS)
        result.reason = "no document element";
    else
        result.reason = std::string("not well-formed XML (") + XML_ErrorString(code) + ")";
}

// ---------------------------------------------------------------------------------------------
// The scanner

// Byte classes. In text and attribute values every byte of class Plain is taken as it is.
enum : std::uint8_t { Plain, Special, Blank, NameStart, NameChar };

struct Tables {
    std::array<std::uint8_t, 256> text{}, comment{}, value{}, name{};
    Tables() {
        for (int c = 0; c < 256; ++c) {
            const bool control = c < 0x20 || c >= 0x80;
            // Tabs and LFs stand as they are in text and comments, and are most of the text
            // between tags; a CR becomes LF in text.
            const bool kept = c == '\t' || c == '\n';
            text[c] = (control && !kept) || c == '<' || c == '&' || c == ']' ? Special : Plain;
            comment[c] = (control && !kept && c != '\r') || c == '-' ? Special : Plain;
            value[c] = control || c == '<' || c == '&' || c == '"' || c == '\'' ? Special : Plain;
            const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
            name[c] = letter || c == '_' || c == ':'
                          ? NameStart
                          : ((c >= '0' && c <= '9') || c == '.' || c == '-' ? NameChar : Plain);
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') name[c] = Blank;
        }
    }
};
const Tables kTables;

using Byte = unsigned char;

// Skips from p the bytes a comment (kComment) or text takes as they are, which are most of
// either: 32 at a time while none is one of the others, then one at a time up to the first
// that is, so that a long comment or run of blanks costs about what reading its bytes does.
template <bool kComment>
const Byte* skipPlain(const Byte* p, const Byte* end) {
#if defined(__SSE2__)
    const auto special = [](const Byte* at) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const auto is = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
        // Signed, the bytes from 0x80 on are below a blank too, with the controls.
        const __m128i low = _mm_cmplt_epi8(v, _mm_set1_epi8(' '));
        if constexpr (kComment)
            return _mm_or_si128(
                is('-'),
                _mm_andnot_si128(_mm_or_si128(_mm_or_si128(is('\t'), is('\n')), is('\r')), low));
        else
            return _mm_or_si128(
                _mm_or_si128(is('<'), is('&')),
                _mm_or_si128(is(']'), _mm_andnot_si128(_mm_or_si128(is('\t'), is('\n')), low)));
    };
    for (; end - p >= 32; p += 32)
        if (_mm_movemask_epi8(_mm_or_si128(special(p), special(p + 16))) != 0) break;
#endif
    const auto& table = kComment ? kTables.comment : kTables.text;
    while (p < end && table[*p] == Plain) ++p;
    return p;
}

// The line breaks of [p, end) as XML counts them (LF, CR LF, a lone CR); a CR just before
// `end` counts as one when `crAtEnd`.
std::uint64_t lineBreaks(const Byte* p, const Byte* end, bool crAtEnd) {
    if (p == end) return 0;
    std::uint64_t breaks = 0;
    const bool anyCr = std::memchr(p, '\r', std::size_t(end - p)) != nullptr;
#if defined(__SSE2__)
    // Each byte's lane counts up to 255 blocks before the lanes are summed: one for an LF, one
    // for a CR, less one for a CR before an LF.
    const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    while (end - p > 16) {
        const Byte* stop = p + std::min<std::ptrdiff_t>((end - p - 1) / 16, 255) * 16;
        __m128i counts = _mm_setzero_si128();
        for (; p < stop; p += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(v, lf));
            if (anyCr) {
                const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
                const __m128i crs = _mm_cmpeq_epi8(v, cr);
                counts = _mm_add_epi8(_mm_sub_epi8(counts, crs),
                                      _mm_and_si128(crs, _mm_cmpeq_epi8(next, lf)));
            }
        }
        std::uint64_t lanes[2];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes),
                         _mm_sad_epu8(counts, _mm_setzero_si128()));
        breaks += lanes[0] + lanes[1];
    }
#endif
    if (!anyCr) return breaks + std::uint64_t(std::count(p, end, Byte('\n')));
    for (; p < end; ++p)
        if (*p == '\n' || (*p == '\r' && (p + 1 == end ? crAtEnd : p[1] != '\n'))) ++breaks;
    return breaks;
}

// skipPlain<true>, adding to `breaks` the line breaks of the bytes passed; a CR at `end` is
// left for the bytes that follow it.
const Byte* skipCommentPlain(const Byte* p, const Byte* end, std::uint64_t& breaks) {
    const Byte* const start = p;
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        std::uint64_t lineFeeds = 0;
        bool carriageReturn = false;
        p = detail::skipCommentAvx2(p, end, lineFeeds, carriageReturn);
        if (!carriageReturn) {
            const Byte* counted = p;
            p = skipPlain<true>(p, end);
            breaks += lineFeeds + lineBreaks(counted, p, p < end);
            return p;
        }
    }
#endif
    p = skipPlain<true>(p, end);
    breaks += lineBreaks(start, p, p < end);
    return p;
}

const Byte* bytesOf(std::string_view s) { return reinterpret_cast<const Byte*>(s.data()); }
std::string_view viewOf(const Byte* p, const Byte* end) {
    return {reinterpret_cast<const char*>(p), std::size_t(end - p)};
}

// Line breaks as XML counts them: LF, CR LF and a lone CR are one each.
class LineCounter {
  public:
    LineCounter() = default;
    // Counts on from the start of line `line`.
    explicit LineCounter(std::uint64_t line) : breaks_(line - 1) {}

    // Counts the breaks of the bytes that follow those already counted.
    void add(const Byte* p, const Byte* end) {
        if (p == end) return;
        if (afterCr_ && *p == '\n') ++p;
        breaks_ += lineBreaks(p, end, true);
        afterCr_ = end[-1] == '\r';
    }
    void add(std::string_view s) { add(bytesOf(s), bytesOf(s) + s.size()); }
    // Counts `breaks` counted elsewhere, of bytes that do not end in CR.
    void addCounted(std::uint64_t breaks) {
        breaks_ += breaks;
        afterCr_ = false;
    }
    std::uint64_t line() const { return breaks_ + 1; }

  private:
    std::uint64_t breaks_ = 0;
    bool afterCr_ = false;
};

// The length of the valid UTF-8 sequence at p (p < end, *p >= 0x80) that XML allows as a
// character, 0 when it is not one, -1 when it runs past `end`. As for expat, a byte that
// leads sequences of n bytes runs past `end` when fewer follow, whatever they are: that is
// what tells a character cut short by the document's end from a wrong one.
int utf8Length(const Byte* p, const Byte* end) {
    const Byte b = *p;
    int n;
    if (b >= 0xC0 && b <= 0xDF)
        n = 2;
    else if (b >= 0xE0 && b <= 0xEF)
        n = 3;
    else if (b >= 0xF0 && b <= 0xF4)
        n = 4;
    else
        return 0;
    if (end - p < n) return -1;
    for (int i = 1; i < n; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    if (n == 2) {
        if (b < 0xC2) return 0;  // overlong
    } else if (n == 3) {
        if (b == 0xE0 && p[1] < 0xA0) return 0;                   // overlong
        if (b == 0xED && p[1] > 0x9F) return 0;                   // surrogates
        if (b == 0xEF && p[1] == 0xBF && p[2] >= 0xBE) return 0;  // U+FFFE, U+FFFF
    } else {
        if (b == 0xF0 && p[1] < 0x90) return 0;  // overlong
        if (b == 0xF4 && p[1] > 0x8F) return 0;  // past U+10FFFF
    }
    return n;
}

void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | c >> 6));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | c >> 12));
        out.push_back(char(0x80 | (c >> 6 & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | c >> 18));
        out.push_back(char(0x80 | (c >> 12 & 0x3F)));
        out.push_back(char(0x80 | (c >> 6 & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

bool isXmlChar(std::uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// The outcome of reading one token or part of one.
enum class Step { Done, More, Expat };

// Reads the reference at p (*p == '&') into `out`: a character reference or one of the five
// entities every document has. Anything else is expat's to judge.
Step reference(const Byte*& p, const Byte* end, std::string& out) {
    const Byte* q = p + 1;
    if (q < end && *q == '#') {
        ++q;
        const bool hex = q < end && *q == 'x';
        if (hex) ++q;
        std::uint32_t value = 0;
        const Byte* digits = q;
        for (; q < end && *q != ';'; ++q) {
            int d;
            if (*q >= '0' && *q <= '9')
                d = *q - '0';
            else if (hex && *q >= 'a' && *q <= 'f')
                d = *q - 'a' + 10;
            else if (hex && *q >= 'A' && *q <= 'F')
                d = *q - 'A' + 10;
            else
                return Step::Expat;
            value = value * (hex ? 16 : 10) + std::uint32_t(d);
            if (value > 0x10FFFF) return Step::Expat;
        }
        if (q == end) return Step::More;
        if (q == digits || !isXmlChar(value)) return Step::Expat;
        appendUtf8(out, value);
        p = q + 1;
        return Step::Done;
    }
    const Byte* name = q;
    while (q < end && *q != ';') {
        if (kTables.name[*q] != NameStart && kTables.name[*q] != NameChar) return Step::Expat;
        ++q;
    }
    if (q == end) return Step::More;
    const std::string_view entity(reinterpret_cast<const char*>(name), std::size_t(q - name));
    char c;
    if (entity == "lt")
        c = '<';
    else if (entity == "gt")
        c = '>';
    else if (entity == "amp")
        c = '&';
    else if (entity == "quot")
        c = '"';
    else if (entity == "apos")
        c = '\'';
    else
        return Step::Expat;
    out.push_back(c);
    p = q + 1;
    return Step::Done;
}

// Checks the text of a comment from p (just past "<!--", or where the last piece left off)
// as expat does, holding none of it: Done with p past "-->"; More with p where the next piece
// must go on, every byte before it checked; Expat with p at the first byte a comment cannot
// hold (a "--" that does not end it, or no character XML allows). Unless Expat, `breaks`
// gains the line breaks of the bytes passed: a piece never ends inside one.
Step commentText(const Byte*& p, const Byte* end, std::uint64_t& breaks) {
    const Byte* q = p;
    for (;;) {
        q = skipCommentPlain(q, end, breaks);
        if (q == end) {
            p = q > p && q[-1] == '\r' ? q - 1 : q;
            return Step::More;
        }
        const Byte c = *q;
        if (c == '-') {
            if (end - q < 3) {
                p = q;
                return Step::More;
            }
            if (q[1] == '-') {
                p = q;
                if (q[2] != '>') return Step::Expat;
                p = q + 3;
                return Step::Done;
            }
            ++q;
        } else if (c >= 0x80) {
            const int n = utf8Length(q, end);
            if (n <= 0) {
                p = q;
                return n < 0 ? Step::More : Step::Expat;
            }
            q += n;
        } else {
            p = q;
            return Step::Expat;  // a control character
        }
    }
}

class Scanner {
  public:
    // Reads on inside the document element `root`, or after it when `rootClosed`, from the
    // start of line `line`.
    Scanner(DatXml& dat, const AttributeDecls& decls, std::string root, bool rootClosed,
            std::uint64_t line)
        : dat_(dat), decls_(decls), root_(std::move(root)), afterRoot_(rootClosed), lines_(line) {}

    // Reads the complete tokens of [begin, end) (`final`: nothing follows) and says why it
    // stopped: More (where the next piece must go on), Expat (at a token it leaves to expat)
    // or Done after a failure of the DAT's own (see failure()). `at` is where it stopped.
    // Comments and text are read on from where a piece ends, and only what the DAT keeps of
    // them is held; any other token is read again from its start.
    Step scan(const Byte* begin, const Byte* end, bool final, const Byte*& at) {
        counted_ = begin;
        const Step step = tokens(begin, end, final, at);
        lines_.add(counted_, at);
        return step;
    }

    const char* failure() const { return failure_; }
    // The open elements below the document element, outermost first.
    std::vector<std::string_view> openNames() const {
        std::vector<std::string_view> names;
        for (std::size_t i = 0; i < marks_.size(); ++i) {
            const std::size_t e = i + 1 < marks_.size() ? marks_[i + 1] : names_.size();
            names.push_back(std::string_view(names_).substr(marks_[i], e - marks_[i]));
        }
        return names;
    }
    bool rootClosed() const { return afterRoot_; }
    // The line where the last scan() stopped.
    std::uint64_t line() const { return lines_.line(); }
    // After Expat: it stopped inside a comment begun in an earlier piece, and `at` is where
    // that piece's bytes of it begin; whether the document ends before the comment does; and
    // the line the comment began on.
    bool inComment() const { return inComment_; }
    bool commentLeftOpen() const { return commentLeftOpen_; }
    std::uint64_t commentLine() const { return commentLine_; }

  private:
    static bool blank(Byte c) { return kTables.name[c] == Blank; }

    Step tokens(const Byte* begin, const Byte* end, bool final, const Byte*& at) {
        const Byte* p = begin;
        at = begin;
        if (inComment_) {
            std::uint64_t breaks = 0;
            const Step step = commentText(p, end, breaks);
            if (step == Step::More && !final) {
                passComment(p, breaks);
                at = p;
                return Step::More;
            }
            if (step != Step::Done) {
                commentLeftOpen_ = step == Step::More;
                return Step::Expat;  // expat reads on from `begin`, after an opening "<!--"
            }
            passComment(p, breaks);
            inComment_ = false;
        }
        for (;;) {
            at = p;
            if (p == end) return final ? Step::Expat : Step::More;
            Step step;
            if (afterRoot_ && *p != '<') {
                // Only blanks and comments may follow the document element.
                if (!blank(*p)) return Step::Expat;
                while (p < end && blank(*p)) ++p;
                continue;
            }
            if (*p != '<') {
                step = text(p, end);
            } else if (p + 1 == end) {
                step = Step::More;
            } else if (p[1] == '/') {
                step = afterRoot_ ? Step::Expat : endTag(p, end);
            } else if (p[1] == '!') {
                step = comment(p, end, final);
            } else {
                step = afterRoot_ ? Step::Expat : startTag(p, end);
            }
            if (step == Step::More) {
                at = p;
                return final ? Step::Expat : Step::More;
            }
            if (step != Step::Done) return step;
            if (failure_) {
                return Step::Done;
            }
        }
    }

    // The bytes of a comment up to p are read, and their `breaks` counted.
    void passComment(const Byte* p, std::uint64_t breaks) {
        lines_.addCounted(breaks);
        counted_ = p;
    }

    Step name(const Byte*& p, const Byte* end) {
        if (p == end) return Step::More;
        if (kTables.name[*p] != NameStart) return Step::Expat;
        ++p;
        while (p < end && kTables.name[*p] >= NameStart) ++p;
        return p == end ? Step::More : Step::Done;
    }

    // Reads text from p up to the next tag (Done), or up to where the next piece must go on
    // (More, with p there), giving the DAT what it keeps of it; Expat leaves p where it was,
    // and gives nothing of the text from there.
    Step text(const Byte*& p, const Byte* end) {
        const Byte* q = p;
        const bool keep = dat_.wantsText();
        scratch_.clear();
        const Byte* run = q;  // the start of bytes not yet copied to scratch_
        Step result = Step::Done;
        for (;;) {
            q = skipPlain<false>(q, end);
            if (q == end) {
                result = Step::More;
                break;
            }
            const Byte c = *q;
            if (c == '<') break;
            if (c >= 0x80) {
                const int n = utf8Length(q, end);
                if (n == 0) return Step::Expat;
                if (n < 0) {
                    result = Step::More;
                    break;
                }
                q += n;
            } else if (c == '\r') {
                // A line break is one LF whatever the file used.
                if (q + 1 == end) {
                    result = Step::More;
                    break;
                }
                if (keep) scratch_.append(run, q).push_back('\n');
                q += q[1] == '\n' ? 2 : 1;
                run = q;
            } else if (c == ']') {
                if (end - q < 3) {
                    result = Step::More;
                    break;
                }
                if (q[1] == ']' && q[2] == '>') return Step::Expat;
                ++q;
            } else if (c == '&') {
                if (keep) scratch_.append(run, q);
                run = q;
                std::string& out = keep ? scratch_ : discard_;
                const Byte* r = q;
                const Step step = reference(r, end, out);
                if (step == Step::Expat) return step;
                discard_.clear();
                if (step == Step::More) {
                    result = Step::More;
                    break;
                }
                q = r;
                run = q;
            } else {
                return Step::Expat;  // a control character
            }
        }
        if (keep && q > p) {
            if (scratch_.empty())
                dat_.text({reinterpret_cast<const char*>(run), std::size_t(q - run)});
            else
                dat_.text(scratch_.append(run, q));
        }
        p = q;
        return result;
    }

    // A comment that goes on past `end` is read on from there, unless nothing follows, when
    // expat takes it from its start.
    Step comment(const Byte*& p, const Byte* end, bool final) {
        if (end - p < 4) return Step::More;
        if (p[2] != '-' || p[3] != '-') return Step::Expat;
        const Byte* q = p + 4;
        std::uint64_t breaks = 0;
        const Step step = commentText(q, end, breaks);
        if (step == Step::Expat || (step == Step::More && final)) return step;
        lines_.add(counted_, p);
        if (step == Step::More) {
            inComment_ = true;
            commentLine_ = lines_.line();
        }
        passComment(q, breaks);
        p = q;
        return step;
    }

    Step endTag(const Byte*& p, const Byte* end) {
        const Byte* q = p + 2;
        const Byte* n = q;
        if (const Step step = name(q, end); step != Step::Done) return step;
        const std::string_view element(reinterpret_cast<const char*>(n), std::size_t(q - n));
        while (q < end && blank(*q)) ++q;
        if (q == end) return Step::More;
        if (*q != '>') return Step::Expat;
        if (marks_.empty()) {
            if (element != root_) return Step::Expat;
            afterRoot_ = true;
        } else {
            if (std::string_view(names_).substr(marks_.back()) != element) return Step::Expat;
            names_.resize(marks_.back());
            marks_.pop_back();
        }
        dat_.end();
        p = q + 1;
        return Step::Done;
    }

    // Reads an attribute value from the opening quote at p, normalized as XML has it (its
    // white space as blanks, a line break as one blank, references replaced); `decoded`
    // tells whether it differs from the bytes between the quotes.
    Step value(const Byte*& p, const Byte* end, std::string& out, bool& decoded) {
        const Byte quote = *p;
        const Byte* q = p + 1;
        const Byte* run = q;
        decoded = false;
        for (;;) {
            while (q < end && kTables.value[*q] == Plain) ++q;
            if (q == end) return Step::More;
            const Byte c = *q;
            if (c == quote) break;
            if (c == '"' || c == '\'') {
                ++q;
            } else if (c >= 0x80) {
                const int n = utf8Length(q, end);
                if (n < 0) return Step::More;
                if (n == 0) return Step::Expat;
                q += n;
            } else if (c == '\t' || c == '\n' || c == '\r') {
                if (q + 1 == end) return Step::More;
                if (!decoded) out.clear();
                decoded = true;
                out.append(run, q).push_back(' ');
                q += c == '\r' && q[1] == '\n' ? 2 : 1;
                run = q;
            } else if (c == '&') {
                if (!decoded) out.clear();
                decoded = true;
                out.append(run, q);
                const Step step = reference(q, end, out);
                if (step != Step::Done) return step;
                run = q;
            } else {
                return Step::Expat;  // '<' or a control character
            }
        }
        if (decoded) out.append(run, q);
        p = q + 1;
        return Step::Done;
    }

    Step startTag(const Byte*& p, const Byte* end) {
        const Byte* q = p + 1;
        if (const Step step = name(q, end); step != Step::Done) return step;
        const std::string_view element(reinterpret_cast<const char*>(p + 1),
                                       std::size_t(q - p - 1));
        const Role role = dat_.roleOf(element);
        std::size_t count = 0;
        bool empty = false;
        for (;;) {
            const Byte* before = q;
            while (q < end && blank(*q)) ++q;
            if (q == end) return Step::More;
            if (*q == '>') {
                ++q;
                break;
            }
            if (*q == '/') {
                if (q + 1 == end) return Step::More;
                if (q[1] != '>') return Step::Expat;
                q += 2;
                empty = true;
                break;
            }
            if (q == before) return Step::Expat;  // attributes are set apart by blanks
            const Byte* n = q;
            if (const Step step = name(q, end); step != Step::Done) return step;
            const std::string_view attribute(reinterpret_cast<const char*>(n), std::size_t(q - n));
            while (q < end && blank(*q)) ++q;
            if (q == end) return Step::More;
            if (*q != '=') return Step::Expat;
            ++q;
            while (q < end && blank(*q)) ++q;
            if (q == end) return Step::More;
            if (*q != '"' && *q != '\'') return Step::Expat;
            const Byte* v = q + 1;
            if (count == values_.size()) {
                values_.emplace_back();
                attrs_.emplace_back();
            }
            bool decoded = false;
            if (const Step step = value(q, end, values_[count], decoded); step != Step::Done)
                return step;
            for (std::size_t i = 0; i < count; ++i)
                if (attrs_[i].name == attribute) return Step::Expat;  // twice in one tag
            attrs_[count].name = attribute;
            attrs_[count].value = decoded ? std::string_view(values_[count])
                                          : std::string_view(reinterpret_cast<const char*>(v),
                                                             std::size_t(q - 1 - v));
            ++count;
        }
        if (role != Role::Other && !decls_.empty()) count = declared(element, count);
        if (!empty) {
            marks_.push_back(names_.size());
            names_.append(element);
        }
        failure_ = dat_.start(role, attrs_.data(), count);
        if (empty && !failure_) dat_.end();
        p = q;
        return Step::Done;
    }

    // Applies the declarations of the document's DTD to the attributes of `element`: a value
    // declared as other than CDATA loses its outer blanks and runs of blanks, and a declared
    // default stands in for an attribute the tag leaves out. Returns the new count.
    std::size_t declared(std::string_view element, std::size_t count) {
        const auto found = decls_.find(element);
        if (found == decls_.end()) return count;
        const std::size_t given = count;
        for (const AttributeDecl& decl : found->second) {
            std::size_t i = 0;
            while (i < given && attrs_[i].name != decl.name) ++i;
            if (i < given) {
                if (decl.cdata) continue;
                std::string tokens;
                for (char c : attrs_[i].value)
                    if (c != ' ' || (!tokens.empty() && tokens.back() != ' ')) tokens.push_back(c);
                if (!tokens.empty() && tokens.back() == ' ') tokens.pop_back();
                values_[i] = std::move(tokens);
                attrs_[i].value = values_[i];
            } else if (decl.value) {
                if (count == attrs_.size()) {
                    values_.emplace_back();
                    attrs_.emplace_back();
                }
                attrs_[count++] = {decl.name, *decl.value};
            }
        }
        return count;
    }

    DatXml& dat_;
    const AttributeDecls& decls_;
    std::string root_;
    bool afterRoot_, inComment_ = false, commentLeftOpen_ = false;
    LineCounter lines_;    // of the bytes up to counted_
    const Byte* counted_;  // in the bytes scan() reads
    std::uint64_t commentLine_ = 0;
    std::string names_;
    std::vector<std::size_t> marks_;
    std::vector<XmlAttr> attrs_;
    std::deque<std::string> values_;  // a deque, so the views of earlier values stay
    std::string scratch_, discard_;
    const char* failure_ = nullptr;
};

// Feeds expat, in calls of a size its int lengths can take. A piece that ends in CR keeps the
// CR back for the next one: outside the document element expat counts a CR LF split across
// two calls as two line breaks, and so lines would depend on where pieces happen to end.
// And expat reads a token it has not seen the end of again from its start at every call: while
// it holds one, calls are put off until as many bytes again have come, so that a token as
// long as the file costs time in proportion to its length, not to its square.
class Feeder {
  public:
    // `now`: expat reads the bytes before this returns.
    XML_Status feed(XML_Parser parser, std::string_view bytes, bool final, bool now = false) {
        if (!saved_.empty()) bytes = saved_.append(bytes);
        const bool holdCr = !final && bytes.ends_with('\r');
        std::string_view ready = bytes.substr(0, bytes.size() - (holdCr ? 1 : 0));
        if (!final && (ready.empty() || (!now && ready.size() < waiting_))) {
            if (bytes.data() != saved_.data()) saved_.assign(bytes);
            return XML_STATUS_OK;
        }
        constexpr std::size_t kMost = 1 << 30;
        XML_Status status = XML_STATUS_OK;
        for (; ready.size() > kMost && status == XML_STATUS_OK; ready.remove_prefix(kMost)) {
            status = XML_Parse(parser, ready.data(), int(kMost), XML_FALSE);
            given_ += kMost;
        }
        if (status == XML_STATUS_OK) {
            status = XML_Parse(parser, ready.data(), int(ready.size()), final);
            given_ += ready.size();
        }
        // Between calls expat's position is where the bytes it has not read yet begin.
        const XML_Index read = XML_GetCurrentByteIndex(parser);
        waiting_ = read >= 0 && std::uint64_t(read) <= given_ ? given_ - std::uint64_t(read) : 0;
        if (holdCr)
            saved_.assign(1, '\r');
        else
            saved_.clear();
        return status;
    }

  private:
    std::string saved_;
    std::uint64_t given_ = 0, waiting_ = 0;
};

// Gives expat the prolog and the document element's start tag, and the rest of the document
// when the scanner does not read it. Before the scanner, a comment of the prolog (between its
// parts or between the DTD's declarations) is checked here and given to expat as an empty one,
// and the blanks between the parts are left out of the copy of the prolog that a hand-over
// reads again: no comment is held, however long, by expat or by us. Everything else reaches
// expat as it is. The start tag of the document element and the bytes after it are kept for
// the scanner.
class Prolog {
  public:
    // `filter`: the scanner reads on after the document element's start tag.
    Prolog(ExpatRun& run, XML_Parser parser, bool filter)
        : run_(run), parser_(parser), state_(filter ? State::Top : State::Pass) {}

    // From now on expat gets every byte as it is.
    void passAll() { state_ = State::Pass; }

    // Takes the next piece (empty: the end); returns expat's status.
    XML_Status push(std::string_view piece, bool final) {
        if (state_ == State::Pass) return give(piece, final);
        std::string joined;
        if (!held_.empty()) {
            joined = std::exchange(held_, {}).append(piece);
            piece = joined;
        }
        const Byte* p = bytesOf(piece);
        const Byte* end = p + piece.size();
        const Byte* from = p;  // the first byte expat has not been given
        // Keeps [p, end) for the next piece, as too few bytes are here to tell what they are.
        const auto hold = [&] {
            if (final) {
                state_ = State::Pass;
            } else {
                held_.assign(viewOf(p, end));
                end = p;
            }
        };
        const auto keep = [&](const Byte* to) {
            kept_.append(viewOf(p, to));
            p = to;
        };
        XML_Status status = XML_STATUS_OK;
        // Expat gets the bytes before the comment at p now, and nothing of the comment until
        // it ends.
        const auto openComment = [&](State after) {
            status = give(viewOf(from, p));
            p += 4;
            from = p;
            commentBreaks_ = 0;
            enter(State::Comment, after);
        };
        while (p < end && status == XML_STATUS_OK) {
            switch (state_) {
                case State::Top:
                    if (!bomChecked_) {
                        constexpr std::string_view kBom = "\xef\xbb\xbf";
                        const std::string_view rest = viewOf(p, end);
                        if (rest.size() < kBom.size() && kBom.starts_with(rest)) {
                            hold();
                            break;
                        }
                        bomChecked_ = true;
                        if (rest.starts_with(kBom)) keep(p + kBom.size());
                        break;
                    }
                    if (kTables.name[*p] == Blank) {
                        while (p < end && kTables.name[*p] == Blank) ++p;
                    } else if (*p != '<') {
                        passOn();  // expat says what is wrong
                    } else if (end - p < 2) {
                        hold();
                    } else if (p[1] == '?') {
                        keep(p + 2);
                        enter(State::Pi, State::Top);
                    } else if (p[1] != '!') {
                        status = give(viewOf(from, p));
                        from = p;
                        rootAt_ = given_;
                        run_.rootExpected = true;
                        state_ = State::Root;
                    } else if (end - p < 4) {
                        hold();
                    } else if (p[2] == '-' && p[3] == '-') {
                        openComment(State::Top);
                    } else {
                        keep(p + 2);
                        subset_ = false;
                        state_ = State::Decl;
                    }
                    break;
                case State::Pi: {
                    const Byte* q = find(p, end, '?');
                    if (q == end) {
                        keep(end);
                    } else if (q + 1 == end) {
                        keep(q);
                        hold();
                    } else if (q[1] != '>') {
                        keep(q + 1);
                    } else {
                        keep(q + 2);
                        state_ = resume_;
                        if (state_ == State::Top) {
                            // It may be the XML declaration: expat reads it at once, as it
                            // tells how the rest is encoded, and only UTF-8 is checked here.
                            status = give(viewOf(from, p), false, true);
                            from = p;
                            if (!run_.scannable) passOn();
                        }
                    }
                    break;
                }
                case State::Decl: {
                    const Byte* q = p;
                    while (q < end && !declByte(*q)) ++q;
                    keep(q);
                    if (p == end) break;
                    const Byte c = *p;
                    if (c == '"' || c == '\'') {
                        quote_ = c;
                        keep(p + 1);
                        state_ = State::Literal;
                    } else if (c != '<' || !subset_) {
                        if (c == '[') subset_ = true;
                        if (c == ']') subset_ = false;
                        if (c == '>' && !subset_) state_ = State::Top;
                        keep(p + 1);
                    } else if (end - p < 2) {
                        hold();
                    } else if (p[1] == '?') {
                        keep(p + 2);
                        enter(State::Pi, State::Decl);
                    } else if (p[1] != '!') {
                        keep(p + 1);
                    } else if (end - p < 4) {
                        hold();
                    } else if (p[2] == '-' && p[3] == '-') {
                        openComment(State::Decl);
                    } else {
                        keep(p + 2);
                    }
                    break;
                }
                case State::Literal: {
                    const Byte* q = find(p, end, quote_);
                    keep(q == end ? end : q + 1);
                    if (q != end) state_ = State::Decl;
                    break;
                }
                case State::Comment: {
                    const Byte* checked = p;
                    std::uint64_t breaks = 0;
                    const Step step = commentText(p, end, breaks);
                    if (step == Step::Expat) {
                        // Expat reads on from here after an opening "<!--", and finds what is
                        // wrong itself, on the line it is on.
                        run_.lineShift += std::int64_t(commentBreaks_);
                        status = give("<!--");
                        from = checked;
                        passOn();
                        break;
                    }
                    commentBreaks_ += breaks;
                    from = p;
                    if (step == Step::Done) {
                        status = give("<!---->", false, true);
                        run_.lineShift += std::int64_t(commentBreaks_);
                        state_ = resume_;
                    } else if (final) {
                        p = end;  // left open: see below
                    } else {
                        hold();
                    }
                    break;
                }
                case State::Root:
                    root_.append(viewOf(p, end));
                    p = end;
                    break;
                case State::Pass:
                    p = end;
                    break;
            }
        }
        if (status != XML_STATUS_OK) return status;
        if (final && state_ == State::Comment) {
            // A comment left open: expat says so, at the line where it began.
            status = give("<!--");
            if (status != XML_STATUS_OK) return status;
            passOn();
        }
        status = give(viewOf(from, end), final);
        if (state_ == State::Root && !run_.stopAtRoot) {
            // Expat read past the document element's start tag: it reads everything.
            root_.clear();
            state_ = State::Pass;
        }
        return status;
    }

    // After expat stopped at the document element: the prolog as a hand-over gives it to
    // expat again, without the document element's start tag.
    const std::string& kept() const { return kept_; }
    // The start tag, and the bytes that follow it in what the pieces brought.
    std::string_view rootTag() const { return std::string_view(root_).substr(0, rootLength()); }
    std::string_view afterRoot() const { return std::string_view(root_).substr(rootLength()); }

  private:
    enum class State : std::uint8_t { Top, Pi, Decl, Literal, Comment, Root, Pass };

    static bool declByte(Byte c) {
        return c == '"' || c == '\'' || c == '[' || c == ']' || c == '>' || c == '<';
    }
    static const Byte* find(const Byte* p, const Byte* end, Byte c) {
        const void* found = std::memchr(p, c, std::size_t(end - p));
        return found ? static_cast<const Byte*>(found) : end;
    }
    void enter(State state, State after) {
        state_ = state;
        resume_ = after;
    }
    // What follows goes to expat as it is; the scanner does not read this document.
    void passOn() {
        state_ = State::Pass;
        run_.scannable = false;
    }
    XML_Status give(std::string_view bytes, bool final = false, bool now = false) {
        given_ += bytes.size();
        return feeder_.feed(parser_, bytes, final, now);
    }
    std::size_t rootLength() const {
        return std::size_t(std::min<std::uint64_t>(run_.rootEnd - rootAt_, root_.size()));
    }

    ExpatRun& run_;
    XML_Parser parser_;
    Feeder feeder_;
    State state_, resume_ = State::Top;  // resume_: where a comment or PI returns to
    bool bomChecked_ = false, subset_ = false;
    Byte quote_ = 0;
    std::uint64_t commentBreaks_ = 0;  // of the comment being passed over
    std::string held_, kept_, root_;
    std::uint64_t given_ = 0, rootAt_ = 0;  // bytes given to expat; where root_ begins in them
};

}  // namespace

void readXml(ByteSource& source, DatSink& sink, DatResult& result, XmlEngine engine) {
    std::unique_ptr<DatXml> dat;
    ExpatRun run(sink, result, dat);
    std::unique_ptr<std::remove_pointer_t<XML_Parser>, void (*)(XML_Parser)> parser(newParser(run),
                                                                                    XML_ParserFree);
    run.stopAtRoot = engine == XmlEngine::Scanner;

    // expat reads the prolog and the document element's start tag, and then on to the end
    // unless the scanner can take over.
    Prolog prolog(run, parser.get(), run.stopAtRoot);
    bool final = false, firstPiece = true;
    for (;;) {
        const std::string_view piece = source.next();
        final = piece.empty();
        // The scanner reads UTF-8 only; a document in UTF-16 is expat's alone.
        if (firstPiece && piece.size() >= 2 &&
            (piece[0] == '\0' || piece[1] == '\0' || Byte(piece[0]) >= 0xFE)) {
            run.scannable = false;
            prolog.passAll();
        }
        firstPiece = false;
        const auto status = prolog.push(piece, final);
        if (status == XML_STATUS_SUSPENDED) break;
        if (status == XML_STATUS_ERROR) return expatFailed(run, final);
        if (final) return;
    }
    const std::string root = innermost(run.openNames);
    parser.reset();

    const std::string_view tag = prolog.rootTag();
    const bool emptyRoot = tag.ends_with("/>");
    std::string replay = prolog.kept() + std::string(tag);
    LineCounter lines(run.rootLine), replayLines;
    lines.add(tag);
    replayLines.add(replay);
    const std::uint64_t prologLine = replayLines.line();

    Scanner scanner(*dat, run.decls, root, emptyRoot, lines.line());
    std::string carry;
    std::string_view data = prolog.afterRoot();
    const Byte* at = bytesOf(data);
    Step step = Step::More;
    for (;;) {
        step = scanner.scan(bytesOf(data), bytesOf(data) + data.size(), final, at);
        if (step != Step::More) break;
        // Keep the unfinished token and add the next pieces to it. One the scanner reads
        // again from its start waits for as many bytes again as it has, so that a long one
        // is read a few times at most.
        const std::size_t used = std::size_t(at - bytesOf(data)),
                          waitFor = 2 * (data.size() - used);
        if (data.data() == carry.data())
            carry.erase(0, used);
        else
            carry.assign(data.substr(used));
        do {
            const std::string_view piece = source.next();
            final = piece.empty();
            if (carry.empty()) {
                data = piece;  // nothing to add it to
                break;
            }
            carry.append(piece);
            data = carry;
        } while (!final && carry.size() < waitFor);
    }
    const Byte* dataEnd = bytesOf(data) + data.size();
    if (step == Step::Done) {
        result.ok = false;
        result.reason = scanner.failure();
        result.line = scanner.line();
        return;
    }

    // Hand-over: expat reads the prolog again, the start tags of the elements open here (or
    // the document element's end), and then on from the token the scanner stopped at, or
    // from inside the comment it stopped in, after an opening "<!--" of its own.
    run.stopAtRoot = false;
    run.replaying = true;
    run.decls.clear();
    parser.reset(newParser(run));
    std::string opened = std::move(replay);
    for (const std::string_view name : scanner.openNames()) opened.append("<").append(name) += '>';
    if (scanner.rootClosed() && !emptyRoot) opened.append("</").append(root) += '>';
    Feeder rereader;
    if (rereader.feed(parser.get(), opened, false) == XML_STATUS_ERROR)
        return expatFailed(run, false);
    run.replaying = false;
    // A comment left open is reported where it began, anything else where it is.
    const std::uint64_t line = scanner.commentLeftOpen() ? scanner.commentLine() : scanner.line();
    run.lineShift = std::int64_t(line) - std::int64_t(prologLine);
    if (scanner.inComment() && rereader.feed(parser.get(), "<!--", false) == XML_STATUS_ERROR)
        return expatFailed(run, false);
    std::string_view rest = viewOf(at, dataEnd);
    for (;;) {
        if (rereader.feed(parser.get(), rest, final) == XML_STATUS_ERROR)
            return expatFailed(run, final);
        if (final) return;
        rest = source.next();
        final = rest.empty();
    }
}

}  // namespace chipsight::dat
