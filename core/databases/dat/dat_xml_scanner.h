// Our own reader of the plain XML that DATs are made of: bytes into the events of the meaning
// (dat_xml_meaning.h), several times faster than expat, and as strict. It reads only what a
// DAT needs; at anything else it stops and tells the driver (dat_xml.cpp) to hand the rest to
// expat. Inline, for the driver alone: its inner loops call the meaning for every element.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "core/databases/dat/dat_xml_meaning.h"

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
}  // namespace chipsight::dat

namespace chipsight::dat::xml {

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
inline const Tables kTables;

using Byte = unsigned char;

// Skips from p the bytes a comment (kComment) or text takes as they are, which are most of
// either: 32 at a time while none is one of the others, then one at a time up to the first
// that is, so that a long comment or run of blanks costs about what reading its bytes does.
template <bool kComment>
inline const Byte* skipPlain(const Byte* p, const Byte* end) {
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
inline std::uint64_t lineBreaks(const Byte* p, const Byte* end, bool crAtEnd) {
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
inline const Byte* skipCommentPlain(const Byte* p, const Byte* end, std::uint64_t& breaks) {
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

inline const Byte* bytesOf(std::string_view s) { return reinterpret_cast<const Byte*>(s.data()); }
inline std::string_view viewOf(const Byte* p, const Byte* end) {
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
inline int utf8Length(const Byte* p, const Byte* end) {
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

inline void appendUtf8(std::string& out, std::uint32_t c) {
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

inline bool isXmlChar(std::uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// The outcome of reading one token or part of one.
enum class Step { Done, More, Expat };

// Reads the reference at p (*p == '&') into `out`: a character reference or one of the five
// entities every document has. Anything else is expat's to judge.
inline Step reference(const Byte*& p, const Byte* end, std::string& out) {
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
inline Step commentText(const Byte*& p, const Byte* end, std::uint64_t& breaks) {
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

}  // namespace chipsight::dat::xml
