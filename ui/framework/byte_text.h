// The program's texts are bytes; widgets hold Unicode. Bytes are shown as UTF-8, and every byte
// that is not part of well-formed UTF-8 travels as a private-use character of its own, so that
// bytes shown and read back are the same bytes.
#pragma once

#include <QString>
#include <string>
#include <string_view>

// Bytes as text: UTF-8 decoded; each other byte b (80 to FF) becomes U+F700 + b. A well-formed
// sequence that itself encodes one of those characters is carried byte by byte the same way,
// so no two byte strings give the same text.
QString bytesToText(std::string_view bytes);

// Text as bytes: UTF-8, except that U+F780 to U+F7FF become the single bytes 80 to FF.
std::string textToBytes(const QString& text);
