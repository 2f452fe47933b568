// Lossless conversion between byte texts and widget texts.
#include "ui/framework/byte_text.h"

namespace {

constexpr char32_t kByteBase = 0xF700;  // byte b travels as kByteBase + b, for b in 80..FF

bool carriesByte(char32_t c) { return c >= kByteBase + 0x80 && c <= kByteBase + 0xFF; }

// The code point of the well-formed UTF-8 sequence at the start of `s`, with its length; a
// length of 0 when the bytes there are not one.
std::pair<char32_t, std::size_t> decodeOne(std::string_view s) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = b(0);
    std::size_t length;
    char32_t c, min;
    if (lead < 0x80) return {lead, 1};
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, c = lead & 0x1F, min = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, c = lead & 0x0F, min = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, c = lead & 0x07, min = 0x10000;
    else
        return {0, 0};
    if (s.size() < length) return {0, 0};
    for (std::size_t i = 1; i < length; ++i) {
        if ((b(i) & 0xC0) != 0x80) return {0, 0};
        c = (c << 6) | (b(i) & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || carriesByte(c)) return {0, 0};
    return {c, length};
}

}  // namespace

QString bytesToText(std::string_view bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    std::size_t i = 0;
    while (i < bytes.size()) {
        // Runs of ASCII, the common case, go in one step.
        std::size_t ascii = i;
        while (ascii < bytes.size() && static_cast<unsigned char>(bytes[ascii]) < 0x80) ++ascii;
        if (ascii > i) {
            text += QLatin1StringView(bytes.data() + i, static_cast<qsizetype>(ascii - i));
            i = ascii;
            continue;
        }
        const auto [c, length] = decodeOne(bytes.substr(i));
        if (length == 0) {
            text += QChar(static_cast<char16_t>(kByteBase + static_cast<unsigned char>(bytes[i])));
            ++i;
        } else {
            const char32_t one[1] = {c};
            text += QString::fromUcs4(one, 1);
            i += length;
        }
    }
    return text;
}

std::string textToBytes(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    qsizetype start = 0;
    const auto flush = [&](qsizetype end) {
        if (end > start) bytes += text.sliced(start, end - start).toStdString();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (carriesByte(u)) {
            flush(i);
            bytes += static_cast<char>(u - kByteBase);
            start = i + 1;
        }
    }
    flush(text.size());
    return bytes;
}
