#pragma once
// One description per pixel format: how many bits a pixel takes and how a
// pixel of a stored row is read and written. The generic loops of the raster
// core are templates over these descriptions (see DispatchFormat), so each is
// compiled once per format with its accessors inlined.
//
// The accessors are UNCHECKED: they take a row pointer of a bitmap of that
// format and an x inside its width, and trust both.
//
// 15- and 16-bit channels. Narrowing an 8-bit value picks the 5- or 6-bit
// level whose widened value is nearest to it (the lower level on ties), so a
// write stores the nearest colour the format can hold. Widening replicates the
// level's high bits into the low bits (level 0 gives 0, the top level 255), so
// a 16-bit pixel read back has exactly 5-6-5 precision and narrowing a widened
// value gives the level back.

#include "Graphics.h"

#include <array>
#include <cstdint>

namespace raster {

constexpr std::uint8_t Widen5(unsigned level) { return std::uint8_t((level << 3) | (level >> 2)); }
constexpr std::uint8_t Widen6(unsigned level) { return std::uint8_t((level << 2) | (level >> 4)); }

template <int Bits>
constexpr std::array<std::uint8_t, 256> MakeNarrowTable() {
    std::array<std::uint8_t, 256> table{};
    for (int v = 0; v < 256; ++v) {
        int best = 0, bestDistance = 1 << 20;
        for (int level = 0; level < (1 << Bits); ++level) {
            const int widened = Bits == 5 ? Widen5(unsigned(level)) : Widen6(unsigned(level));
            const int d = widened > v ? widened - v : v - widened;
            if (d < bestDistance) {
                bestDistance = d;
                best = level;
            }
        }
        table[std::size_t(v)] = std::uint8_t(best);
    }
    return table;
}
inline constexpr std::array<std::uint8_t, 256> kNarrow5 = MakeNarrowTable<5>();
inline constexpr std::array<std::uint8_t, 256> kNarrow6 = MakeNarrowTable<6>();

// The colour a 15- or 16-bit pixel holds for `c`, as read back.
inline TColor Reduce15(TColor c) {
    return RGBColor(Widen5(kNarrow5[GetRValue(c)]), Widen5(kNarrow5[GetGValue(c)]), Widen5(kNarrow5[GetBValue(c)]));
}
inline TColor Reduce16(TColor c) {
    return RGBColor(Widen5(kNarrow5[GetRValue(c)]), Widen6(kNarrow6[GetGValue(c)]), Widen5(kNarrow5[GetBValue(c)]));
}

// Indexed formats: Index/SetIndex work on palette indices.
struct Format1 {
    static constexpr int kBits = 1;
    static constexpr bool kIndexed = true;
    static unsigned Index(const std::uint8_t* row, int x) { return (row[x >> 3] >> (7 - (x & 7))) & 1u; }
    static void SetIndex(std::uint8_t* row, int x, unsigned index) {
        const std::uint8_t bit = std::uint8_t(0x80u >> (x & 7));
        row[x >> 3] = std::uint8_t(index & 1u ? row[x >> 3] | bit : row[x >> 3] & ~bit);
    }
};

struct Format4 {
    static constexpr int kBits = 4;
    static constexpr bool kIndexed = true;
    static unsigned Index(const std::uint8_t* row, int x) { return (row[x >> 1] >> (x & 1 ? 0 : 4)) & 15u; }
    static void SetIndex(std::uint8_t* row, int x, unsigned index) {
        std::uint8_t& b = row[x >> 1];
        b = x & 1 ? std::uint8_t((b & 0xF0u) | (index & 15u)) : std::uint8_t((b & 0x0Fu) | ((index & 15u) << 4));
    }
};

struct Format8 {
    static constexpr int kBits = 8;
    static constexpr bool kIndexed = true;
    static unsigned Index(const std::uint8_t* row, int x) { return row[x]; }
    static void SetIndex(std::uint8_t* row, int x, unsigned index) { row[x] = std::uint8_t(index); }
};

// True-colour formats: Color gives the plain colour; SetColor stores the
// nearest colour the format holds, with `fourth` as the fourth byte where
// the format has one.
struct Format15 {
    static constexpr int kBits = 16;
    static constexpr bool kIndexed = false;
    static TColor Color(const std::uint8_t* row, int x) {
        const unsigned w = unsigned(row[2 * x]) | (unsigned(row[2 * x + 1]) << 8);
        return RGBColor(Widen5((w >> 10) & 31u), Widen5((w >> 5) & 31u), Widen5(w & 31u));
    }
    static void SetColor(std::uint8_t* row, int x, TColor c, std::uint8_t) {
        const unsigned w = (unsigned(kNarrow5[GetRValue(c)]) << 10) | (unsigned(kNarrow5[GetGValue(c)]) << 5) |
                           kNarrow5[GetBValue(c)];
        row[2 * x] = std::uint8_t(w);
        row[2 * x + 1] = std::uint8_t(w >> 8);
    }
};

struct Format16 {
    static constexpr int kBits = 16;
    static constexpr bool kIndexed = false;
    static TColor Color(const std::uint8_t* row, int x) {
        const unsigned w = unsigned(row[2 * x]) | (unsigned(row[2 * x + 1]) << 8);
        return RGBColor(Widen5((w >> 11) & 31u), Widen6((w >> 5) & 63u), Widen5(w & 31u));
    }
    static void SetColor(std::uint8_t* row, int x, TColor c, std::uint8_t) {
        const unsigned w = (unsigned(kNarrow5[GetRValue(c)]) << 11) | (unsigned(kNarrow6[GetGValue(c)]) << 5) |
                           kNarrow5[GetBValue(c)];
        row[2 * x] = std::uint8_t(w);
        row[2 * x + 1] = std::uint8_t(w >> 8);
    }
};

struct Format24 {
    static constexpr int kBits = 24;
    static constexpr bool kIndexed = false;
    static TColor Color(const std::uint8_t* row, int x) {
        const std::uint8_t* p = row + 3 * x;
        return RGBColor(p[2], p[1], p[0]);
    }
    static void SetColor(std::uint8_t* row, int x, TColor c, std::uint8_t) {
        std::uint8_t* p = row + 3 * x;
        p[0] = GetBValue(c);
        p[1] = GetGValue(c);
        p[2] = GetRValue(c);
    }
};

// pf32bit and pfDevice.
struct Format32 {
    static constexpr int kBits = 32;
    static constexpr bool kIndexed = false;
    static TColor Color(const std::uint8_t* row, int x) {
        const std::uint8_t* p = row + 4 * x;
        return RGBColor(p[2], p[1], p[0]);
    }
    static std::uint8_t Fourth(const std::uint8_t* row, int x) { return row[4 * x + 3]; }
    static void SetColor(std::uint8_t* row, int x, TColor c, std::uint8_t fourth) {
        std::uint8_t* p = row + 4 * x;
        p[0] = GetBValue(c);
        p[1] = GetGValue(c);
        p[2] = GetRValue(c);
        p[3] = fourth;
    }
};

[[noreturn]] void ThrowInvalidPixelFormat();

// Calls fn(FormatN{}) for the description of `format`; pfCustom raises
// EInvalidGraphic("Invalid pixel format").
template <class Fn>
decltype(auto) DispatchFormat(TPixelFormat format, Fn&& fn) {
    switch (format) {
        case pf1bit: return fn(Format1{});
        case pf4bit: return fn(Format4{});
        case pf8bit: return fn(Format8{});
        case pf15bit: return fn(Format15{});
        case pf16bit: return fn(Format16{});
        case pf24bit: return fn(Format24{});
        case pfDevice:
        case pf32bit: return fn(Format32{});
        default: break;
    }
    ThrowInvalidPixelFormat();
}

inline bool IsIndexed(TPixelFormat format) { return format == pf1bit || format == pf4bit || format == pf8bit; }

// A palette widened to every index the format can store: indices beyond the
// bitmap's own table read as black.
inline std::array<TColor, 256> FullPalette(const std::vector<TColor>& palette) {
    std::array<TColor, 256> full{};
    for (std::size_t i = 0; i < palette.size() && i < full.size(); ++i) full[i] = palette[i] & 0xFFFFFFu;
    return full;
}

}  // namespace raster
