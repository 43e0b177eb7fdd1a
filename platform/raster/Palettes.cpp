#include "Palettes.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <iterator>

namespace raster {

const std::vector<TColor>& MonochromePalette() {
    static const std::vector<TColor> palette{clBlack, clWhite};
    return palette;
}

const std::vector<TColor>& StandardPalette16() {
    static const std::vector<TColor> palette{
        RGBColor(0, 0, 0),       RGBColor(128, 0, 0),   RGBColor(0, 128, 0),   RGBColor(128, 128, 0),
        RGBColor(0, 0, 128),     RGBColor(128, 0, 128), RGBColor(0, 128, 128), RGBColor(128, 128, 128),
        RGBColor(192, 192, 192), RGBColor(255, 0, 0),   RGBColor(0, 255, 0),   RGBColor(255, 255, 0),
        RGBColor(0, 0, 255),     RGBColor(255, 0, 255), RGBColor(0, 255, 255), RGBColor(255, 255, 255),
    };
    return palette;
}

namespace {

// The 256-colour table of pf8bit, a general-purpose palette for photos and
// drawings alike:
//   0..15    the 16 standard colours (so drawings in those colours stay exact);
//   16..223  the 6 x 6 x 6 colour cube with levels 0, 51, 102, 153, 204, 255
//            (red varying fastest, then green, then blue), less its 8 corners,
//            which are already among the standard colours: 208 entries;
//   224..255 32 greys, ascending. Greys are where a cube is coarsest to the
//            eye (greyscale photos use nothing else), so they fill in the grey
//            ramp made by the cube's 6 greys and the standard gray and silver:
//            the 40 greys that result are at most 8 levels apart.
std::vector<TColor> MakeHalftone() {
    std::vector<TColor> palette = StandardPalette16();
    const auto isStandard = [&](TColor c) {
        return std::find(palette.begin(), palette.begin() + 16, c) != palette.begin() + 16;
    };
    for (int b = 0; b < 6; ++b)
        for (int g = 0; g < 6; ++g)
            for (int r = 0; r < 6; ++r) {
                const TColor c = RGBColor(std::uint8_t(r * 51), std::uint8_t(g * 51), std::uint8_t(b * 51));
                if (!isStandard(c)) palette.push_back(c);
            }

    // Share out the 32 greys among the gaps of the ramp so that the widest
    // step left is as small as possible (each next grey goes to the gap with
    // the widest steps, the darker gap on ties), then space them evenly
    // within each gap, rounded to the nearest level.
    static constexpr int fixed[] = {0, 51, 102, 128, 153, 192, 204, 255};
    constexpr std::size_t kGaps = std::size(fixed) - 1;
    std::array<int, kGaps> count{};
    for (int n = 0; n < 32; ++n) {
        std::size_t widest = 0;
        for (std::size_t i = 1; i < kGaps; ++i) {
            const int len = fixed[i + 1] - fixed[i], widestLen = fixed[widest + 1] - fixed[widest];
            if (len * (count[widest] + 1) > widestLen * (count[i] + 1)) widest = i;
        }
        ++count[widest];
    }
    std::vector<int> added;
    for (std::size_t i = 0; i < kGaps; ++i) {
        const int len = fixed[i + 1] - fixed[i], parts = count[i] + 1;
        for (int m = 1; m < parts; ++m) added.push_back(fixed[i] + (2 * len * m + parts) / (2 * parts));
    }
    for (int v : added) palette.push_back(RGBColor(std::uint8_t(v), std::uint8_t(v), std::uint8_t(v)));
    return palette;
}

}  // namespace

const std::vector<TColor>& HalftonePalette() {
    static const std::vector<TColor> palette = MakeHalftone();
    return palette;
}

const std::vector<TColor>& DefaultPalette(TPixelFormat format) {
    static const std::vector<TColor> none;
    switch (format) {
        case pf1bit: return MonochromePalette();
        case pf4bit: return StandardPalette16();
        case pf8bit: return HalftonePalette();
        default: return none;
    }
}

int NearestIndexByScan(const std::vector<TColor>& palette, TColor color) {
    int best = 0;
    int bestDistance = 0x7FFFFFFF;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const int d = ColorDistance(palette[i], color);
        if (d < bestDistance) {
            bestDistance = d;
            best = int(i);
        }
    }
    return best;
}

namespace {

// Squared distance from value v to the nearest and to the farthest point of
// the interval [lo, lo + 7] along one channel.
inline int NearSq(int v, int lo) {
    const int hi = lo + 7;
    const int d = v < lo ? lo - v : (v > hi ? v - hi : 0);
    return d * d;
}
inline int FarSq(int v, int lo) {
    const int d = std::max(std::abs(v - lo), std::abs(v - (lo + 7)));
    return d * d;
}

}  // namespace

PaletteMatcher::PaletteMatcher(std::vector<TColor> palette)
    : palette_(std::move(palette)), cellStart_(32768, kUnmade), cellCount_(32768, 0) {
    if (palette_.size() > 256) palette_.resize(256);
    const std::size_t n = palette_.size();
    for (auto* table : {&nearR_, &nearG_, &nearB_, &farR_, &farG_, &farB_}) table->resize(32 * n);
    for (std::size_t cell = 0; cell < 32; ++cell)
        for (std::size_t i = 0; i < n; ++i) {
            const int lo = int(cell) * 8;
            const TColor p = palette_[i];
            nearR_[cell * n + i] = NearSq(GetRValue(p), lo);
            nearG_[cell * n + i] = NearSq(GetGValue(p), lo);
            nearB_[cell * n + i] = NearSq(GetBValue(p), lo);
            farR_[cell * n + i] = FarSq(GetRValue(p), lo);
            farG_[cell * n + i] = FarSq(GetGValue(p), lo);
            farB_[cell * n + i] = FarSq(GetBValue(p), lo);
        }
}

void PaletteMatcher::MakeCell(unsigned cell) {
    const std::size_t n = palette_.size();
    const std::size_t r = (cell >> 10) * n, g = ((cell >> 5) & 31u) * n, b = (cell & 31u) * n;
    int bound = 0x7FFFFFFF;
    for (std::size_t i = 0; i < n; ++i) bound = std::min(bound, farR_[r + i] + farG_[g + i] + farB_[b + i]);
    cellStart_[cell] = std::uint32_t(candidates_.size());
    for (std::size_t i = 0; i < n; ++i)
        if (nearR_[r + i] + nearG_[g + i] + nearB_[b + i] <= bound) candidates_.push_back(std::uint8_t(i));
    cellCount_[cell] = std::uint16_t(candidates_.size() - cellStart_[cell]);
}

std::shared_ptr<PaletteMatcher> MatcherFor(const std::vector<TColor>& palette) {
    // Per thread, since lookups fill in the matchers' cells.
    thread_local const auto halftone = std::make_shared<PaletteMatcher>(HalftonePalette());
    thread_local const auto standard = std::make_shared<PaletteMatcher>(StandardPalette16());
    thread_local std::array<std::shared_ptr<PaletteMatcher>, 4> recent;
    if (palette == HalftonePalette()) return halftone;
    if (palette == StandardPalette16()) return standard;
    for (std::size_t i = 0; i < recent.size(); ++i)
        if (recent[i] && recent[i]->Palette() == palette) {
            std::rotate(recent.begin(), recent.begin() + std::ptrdiff_t(i), recent.begin() + std::ptrdiff_t(i) + 1);
            return recent[0];
        }
    auto made = std::make_shared<PaletteMatcher>(palette);
    std::rotate(recent.begin(), recent.end() - 1, recent.end());
    recent[0] = made;
    return made;
}

Quantizer::Quantizer(const std::vector<TColor>& palette)
    : palette_(palette),
      size_(palette.size()),
      two_(size_ > 0 ? palette[0] : clBlack, size_ > 1 ? palette[1] : (size_ > 0 ? palette[0] : clBlack)) {
    if (size_ > 2) matcher_ = MatcherFor(palette_);
}

}  // namespace raster
