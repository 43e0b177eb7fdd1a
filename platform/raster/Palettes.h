#pragma once
// Colour tables and nearest-colour search.
//
// Nearest means the smallest squared Euclidean distance in RGB,
//     (r1 - r2)^2 + (g1 - g2)^2 + (b1 - b2)^2,
// with ties going to the lower palette index. Every reduction of the raster
// core (format conversion, pixel writes into indexed bitmaps, the one-bit
// fetch) uses this one measure.

#include "Graphics.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace raster {

// pf1bit's default table: black, white.
const std::vector<TColor>& MonochromePalette();
// pf4bit's default table: the 16 standard colours, black, maroon, green,
// olive, navy, purple, teal, gray, silver, red, lime, yellow, blue, fuchsia,
// aqua, white.
const std::vector<TColor>& StandardPalette16();
// pf8bit's table, 256 distinct colours (construction in Palettes.cpp).
const std::vector<TColor>& HalftonePalette();

// The default table of an indexed format; empty for the others.
const std::vector<TColor>& DefaultPalette(TPixelFormat format);

inline int ColorDistance(TColor a, TColor b) {
    const int dr = int(GetRValue(a)) - int(GetRValue(b));
    const int dg = int(GetGValue(a)) - int(GetGValue(b));
    const int db = int(GetBValue(a)) - int(GetBValue(b));
    return dr * dr + dg * dg + db * db;
}

// The nearest entry by a plain scan; the reference the tables below are
// checked against, and the search for palettes of a few entries.
int NearestIndexByScan(const std::vector<TColor>& palette, TColor color);

// Nearest of two colours by one linear test. d(c, p1) < d(c, p0) expands to
//     2 * c . (p1 - p0) > |p1|^2 - |p0|^2,
// so a pixel costs three multiplications and a compare. Ties give 0.
class TwoColorTest {
public:
    TwoColorTest(TColor p0, TColor p1)
        : dr_(2 * (int(GetRValue(p1)) - int(GetRValue(p0)))),
          dg_(2 * (int(GetGValue(p1)) - int(GetGValue(p0)))),
          db_(2 * (int(GetBValue(p1)) - int(GetBValue(p0)))),
          threshold_(Norm(p1) - Norm(p0)) {}

    // 1 when the colour (r, g, b) is strictly nearer to p1.
    unsigned Index(unsigned r, unsigned g, unsigned b) const {
        return int(r) * dr_ + int(g) * dg_ + int(b) * db_ > threshold_ ? 1u : 0u;
    }
    unsigned Index(TColor c) const { return Index(GetRValue(c), GetGValue(c), GetBValue(c)); }

    // The test's terms, for vectorised loops: index 1 when
    // r * RedWeight() + g * GreenWeight() + b * BlueWeight() > Threshold().
    // Weights lie in [-510, 510].
    int RedWeight() const { return dr_; }
    int GreenWeight() const { return dg_; }
    int BlueWeight() const { return db_; }
    int Threshold() const { return threshold_; }

private:
    static int Norm(TColor c) {
        return int(GetRValue(c)) * GetRValue(c) + int(GetGValue(c)) * GetGValue(c) +
               int(GetBValue(c)) * GetBValue(c);
    }
    int dr_, dg_, db_, threshold_;
};

// Exact nearest-entry search for a palette of up to 256 entries through
// per-cell candidate lists: RGB space is cut into 32 x 32 x 32 cells of 8
// levels per channel, and a cell lists the entries that can be nearest to
// some colour inside it. An entry is listed when its least distance to the
// cell is at most the smallest, over all entries, of their greatest distance
// to the cell; the nearest entry of any colour in the cell always passes that
// test, and so does every entry tied with it, so scanning a cell's list in
// index order gives exactly the result of a full scan.
//
// A cell's list is made the first time a colour falls in it (well under a
// microsecond for 256 entries), so a matcher costs nothing up front and a
// picture pays only for the cells its colours touch. Lookups therefore
// change the matcher: one matcher must not be used by two threads at once
// (MatcherFor keeps one set per thread).
class PaletteMatcher {
public:
    explicit PaletteMatcher(std::vector<TColor> palette);

    const std::vector<TColor>& Palette() const { return palette_; }

    // 0 for an empty palette.
    unsigned Nearest(TColor c) {
        const unsigned r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
        const unsigned cell = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
        if (cellStart_[cell] == kUnmade) MakeCell(cell);
        const std::uint8_t* it = candidates_.data() + cellStart_[cell];
        const std::uint8_t* end = it + cellCount_[cell];
        unsigned best = 0;
        int bestDistance = 0x7FFFFFFF;
        for (; it != end; ++it) {
            const TColor p = palette_[*it];
            const int dr = int(r) - int(GetRValue(p));
            const int dg = int(g) - int(GetGValue(p));
            const int db = int(b) - int(GetBValue(p));
            const int d = dr * dr + dg * dg + db * db;
            if (d < bestDistance) {
                bestDistance = d;
                best = *it;
            }
        }
        return best;
    }

private:
    static constexpr std::uint32_t kUnmade = 0xFFFFFFFFu;
    void MakeCell(unsigned cell);

    std::vector<TColor> palette_;                // at most 256 entries
    // Per channel and cell position (32 x entries, position-major): each
    // entry's least and greatest squared distance to the cell's 8 levels.
    std::vector<std::int32_t> nearR_, nearG_, nearB_, farR_, farG_, farB_;
    std::vector<std::uint32_t> cellStart_;       // per cell: offset into candidates_, or kUnmade
    std::vector<std::uint16_t> cellCount_;       // per cell: length of its list
    std::vector<std::uint8_t> candidates_;       // the lists, each in index order
};

// The matcher of `palette`, shared by the calling thread's users of that
// palette: the built-in tables keep theirs, other tables are kept in a small
// cache of recently used ones.
std::shared_ptr<PaletteMatcher> MatcherFor(const std::vector<TColor>& palette);

// Maps colours to the index of their nearest entry, remembering the last
// answer (runs of one colour are common). Two-entry palettes use the linear
// test, larger ones a matcher.
class Quantizer {
public:
    explicit Quantizer(const std::vector<TColor>& palette);

    unsigned Index(TColor c) {
        c &= 0xFFFFFFu;
        if (c == lastColor_) return lastIndex_;
        const unsigned i = size_ <= 2 ? two_.Index(c) : matcher_->Nearest(c);
        lastColor_ = c;
        lastIndex_ = i;
        return i;
    }
    // The entry a colour is reduced to (black for an empty palette).
    TColor Reduce(TColor c) {
        const unsigned i = Index(c);
        return i < size_ ? palette_[i] : clBlack;
    }

private:
    std::vector<TColor> palette_;
    std::size_t size_;
    TwoColorTest two_;
    std::shared_ptr<PaletteMatcher> matcher_;
    TColor lastColor_ = 0xFFFFFFFFu;  // never a plain colour value
    unsigned lastIndex_ = 0;
};

}  // namespace raster
