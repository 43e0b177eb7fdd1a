#pragma once
// Conversions between the UTF-8 of our narrow strings and the UTF-16 of the
// version block. Kept separate from the block code so both the generator and
// the reader agree on the same rules.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace gloxen::version {

// Strict decode: overlong forms, encoded surrogates, code points above
// U+10FFFF and cut-off sequences all give nullopt.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);

// Most bytes Utf16LeToUtf8 writes for `units` code units (terminator not
// included): three per unit covers every case, a pair of surrogates taking
// four bytes for two units and a lone surrogate three (U+FFFD).
constexpr std::size_t MaxUtf8Bytes(std::size_t units) { return units * 3; }

// Converts `units` little-endian UTF-16 code units read from `le` into `out`,
// which must hold MaxUtf8Bytes(units) bytes. A lone surrogate becomes U+FFFD.
// Writes no terminator; returns the number of bytes written.
std::size_t Utf16LeToUtf8(const unsigned char* le, std::size_t units, char* out);

// ASCII-only case folding, as used for the block's keys.
constexpr char16_t FoldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }

} // namespace gloxen::version
