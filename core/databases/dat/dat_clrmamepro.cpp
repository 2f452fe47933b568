// ClrMamePro text DATs: blocks of keys and values, `game ( name x rom ( name y size 4 ... ) )`.
// Values are single tokens or quoted strings, which may hold blanks; a value may also be a
// block of its own, and keys this reader does not know are passed over whole.
#include "core/databases/dat/dat_internal.h"

namespace chipsight::dat {
namespace {

class Tokens {
  public:
    enum class Kind { End, Open, Close, Word, Quoted };
    struct Token {
        Kind kind = Kind::End;
        std::string_view text;  // valid until the next call
        std::uint64_t line = 0;
    };

    explicit Tokens(ByteSource& source) : source_(source) {}

    // The next token; a quote left open gives End, with `unclosedQuote` set.
    Token next() {
        for (;;) {
            if (pos_ == buffer_.size() && !fill()) return {Kind::End, {}, line_};
            const char c = buffer_[pos_];
            if (c == '\n' || (c == '\r' && !(pos_ + 1 < buffer_.size() ? buffer_[pos_ + 1] == '\n'
                                                                       : peekLf()))) {
                ++line_;
                ++pos_;
            } else if (std::uint8_t(c) <= ' ') {
                ++pos_;
            } else {
                break;
            }
        }
        const std::uint64_t line = line_;
        const char c = buffer_[pos_];
        if (c == '(' || c == ')') {
            ++pos_;
            return {c == '(' ? Kind::Open : Kind::Close, {}, line};
        }
        const bool quoted = c == '"';
        std::size_t end = pos_ + (quoted ? 1 : 0);
        for (;;) {
            if (end == buffer_.size()) {
                const std::size_t start = pos_;
                const bool more = fill();
                end -= start;  // fill() moved the token to the front
                if (!more) {
                    if (quoted) {
                        unclosedQuote = line;
                        return {Kind::End, {}, line};
                    }
                    break;
                }
                continue;
            }
            const char d = buffer_[end];
            if (quoted) {
                if (d == '"') break;
                if (d == '\n') ++line_;
            } else if (std::uint8_t(d) <= ' ' || d == '(' || d == ')') {
                break;
            }
            ++end;
        }
        const std::string_view all(buffer_);
        const Token token{quoted ? Kind::Quoted : Kind::Word,
                          all.substr(pos_ + (quoted ? 1 : 0), end - pos_ - (quoted ? 1 : 0)), line};
        pos_ = end + (quoted ? 1 : 0);
        return token;
    }

    std::uint64_t unclosedQuote = 0;  // the line of a quote the file leaves open

  private:
    // Moves the unread bytes to the front and adds the next piece; false at the end.
    bool fill() {
        buffer_.erase(0, pos_);
        pos_ = 0;
        const std::string_view piece = source_.next();
        buffer_.append(piece);
        return !piece.empty();
    }
    // Whether a CR at the end of the buffer starts a CR LF.
    bool peekLf() {
        if (!fill()) return false;
        return pos_ + 1 < buffer_.size() && buffer_[pos_ + 1] == '\n';
    }

    ByteSource& source_;
    std::string buffer_;
    std::size_t pos_ = 0;
    std::uint64_t line_ = 1;
};

class Reader {
  public:
    Reader(ByteSource& source, DatSink& sink, DatResult& result)
        : tokens_(source), sink_(sink), result_(result), collector_(sink) {}

    void read() {
        for (;;) {
            const auto token = tokens_.next();
            if (token.kind == Tokens::Kind::End) {
                if (tokens_.unclosedQuote) fail("unclosed quote", tokens_.unclosedQuote);
                return;
            }
            if (token.kind != Tokens::Kind::Word) return fail("expected a block name", token.line);
            const std::string name(token.text);
            if (tokens_.next().kind != Tokens::Kind::Open)
                return fail("expected ( after " + name, token.line);
            const bool set = name == "game" || name == "machine" || name == "resource";
            if (!(set ? readSet(name, token.line) : skipBlock(name, token.line))) return;
        }
    }

  private:
    void fail(const std::string& reason, std::uint64_t line) {
        if (!result_.ok) return;
        result_.ok = false;
        result_.reason = tokens_.unclosedQuote ? "unclosed quote" : reason;
        result_.line = tokens_.unclosedQuote ? tokens_.unclosedQuote : line;
    }

    // The rest of a block whose ( has been read; false after a failure.
    bool skipBlock(const std::string& name, std::uint64_t line) {
        for (int depth = 1; depth > 0;) {
            const auto token = tokens_.next();
            if (token.kind == Tokens::Kind::End) {
                fail("unclosed " + name + " block", line);
                return false;
            }
            if (token.kind == Tokens::Kind::Open) ++depth;
            if (token.kind == Tokens::Kind::Close) --depth;
        }
        return true;
    }

    // The value of `key` as a text; a block is passed over and gives nothing.
    std::optional<std::string_view> value(std::string_view key, std::uint64_t blockLine,
                                          const std::string& block, bool& failed) {
        const auto token = tokens_.next();
        if (token.kind == Tokens::Kind::Word || token.kind == Tokens::Kind::Quoted)
            return token.text;
        if (token.kind == Tokens::Kind::Open) {
            failed = !skipBlock(std::string(key), token.line);
            return std::nullopt;
        }
        failed = true;
        if (token.kind == Tokens::Kind::End)
            fail("unclosed " + block + " block", blockLine);
        else
            fail(std::string(key) + " has no value", token.line);
        return std::nullopt;
    }

    bool readSet(const std::string& block, std::uint64_t line) {
        setName_.clear();
        description_.clear();
        cloneOf_.clear();
        romOf_.clear();
        collector_.clear();
        for (;;) {
            const auto token = tokens_.next();
            if (token.kind == Tokens::Kind::Close) break;
            if (token.kind == Tokens::Kind::End) {
                fail("unclosed " + block + " block", line);
                return false;
            }
            if (token.kind != Tokens::Kind::Word) {
                fail("expected a key in the " + block + " block", token.line);
                return false;
            }
            const std::string key(token.text);
            if (key == "rom") {
                if (tokens_.next().kind != Tokens::Kind::Open) {
                    fail("expected ( after rom", token.line);
                    return false;
                }
                if (!readRom(token.line)) return false;
                continue;
            }
            bool failed = false;
            const auto text = value(key, line, block, failed);
            if (failed) return false;
            if (text && key == "name") setName_.assign(*text);
            if (text && key == "description") description_.assign(*text);
            if (text && key == "cloneof") cloneOf_.assign(*text);
            if (text && key == "romof") romOf_.assign(*text);
        }
        // A resource block holds a BIOS, which the games that name it in romof share.
        if (collector_.wholeSets())
            collector_.setFields({cloneOf_, romOf_, block == "resource", false});
        collector_.flush(sink_, setName_, description_, {});
        return true;
    }

    bool readRom(std::uint64_t line) {
        // The fields are kept as they come, as the tokens they were read from do not last.
        std::string name, size, crc, sha1, md5, merge, status, region, offset, bios;
        bool hasSize = false, hasCrc = false, hasSha1 = false, hasMerge = false, hasOffset = false;
        for (;;) {
            const auto token = tokens_.next();
            if (token.kind == Tokens::Kind::Close) break;
            if (token.kind == Tokens::Kind::End) {
                fail("unclosed rom block", line);
                return false;
            }
            if (token.kind != Tokens::Kind::Word) {
                fail("expected a key in the rom block", token.line);
                return false;
            }
            const std::string key(token.text);
            bool failed = false;
            const auto text = value(key, line, "rom", failed);
            if (failed) return false;
            if (!text) continue;
            if (key == "name")
                name = *text;
            else if (key == "size")
                size = *text, hasSize = true;
            else if (key == "crc")
                crc = *text, hasCrc = true;
            else if (key == "sha1")
                sha1 = *text, hasSha1 = true;
            else if (key == "md5")
                md5 = *text;
            else if (key == "merge")
                merge = *text, hasMerge = true;
            else if (key == "flags" || key == "status")
                status = *text;
            else if (key == "region")
                region = *text;
            else if (key == "offset")
                offset = *text, hasOffset = true;
            else if (key == "bios")
                bios = *text;
        }
        RomFields rom;
        rom.name = name;
        if (hasSize) rom.size = size;
        if (hasCrc) rom.crc = crc;
        rom.sha1 = sha1;
        rom.hasSha1 = hasSha1;
        rom.md5 = md5;
        rom.merge = merge;
        rom.hasMerge = hasMerge;
        rom.status = status;
        rom.region = region;
        rom.offset = offset;
        rom.hasOffset = hasOffset;
        rom.bios = bios;
        if (const char* failure = collector_.add(rom, {})) {
            fail(failure, line);
            return false;
        }
        return true;
    }

    Tokens tokens_;
    DatSink& sink_;
    DatResult& result_;
    SetCollector collector_;
    std::string setName_, description_, cloneOf_, romOf_;
};

}  // namespace

void readClrMamePro(ByteSource& source, DatSink& sink, DatResult& result) {
    result.format = DatFormat::ClrMamePro;
    Reader(source, sink, result).read();
}

}  // namespace chipsight::dat
