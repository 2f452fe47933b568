// The reader of the XML formats (MAME ListXML, MAME software lists, Logiqx): drives expat, or
// our scanner (dat_xml_scanner.h), which is several times faster, over the bytes, and hands the
// events to the meaning of the elements (dat_xml_meaning.h). The scanner takes only the plain
// XML that DATs are made of and checks it as strictly as expat does; at anything else (an
// entity of a DTD, a processing instruction, any mistake, the document's end) it hands the rest
// of the document to expat, which then reads on from that very token as if it had read
// everything before, so every document means the same, and every mistake is reported the same,
// whichever of the two reads it. A file is read in pieces, and no token is read from its start
// again at every piece: comments and text the DAT does not keep are not held at all, however
// long, so a small compressed file cannot make a start-up slow or large.
#include <expat.h>
#include <iconv.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "core/databases/dat/dat_internal.h"
#include "core/databases/dat/dat_xml_meaning.h"
#include "core/databases/dat/dat_xml_scanner.h"
#include "core/sys/byte_order.h"

namespace chipsight::dat {
namespace {

using namespace xml;

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
