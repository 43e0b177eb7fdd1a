#pragma once
// Row loops over the format descriptions of PixelFormats.h, shared by
// conversion, drawing and fetching. Like the accessors they use, they are
// UNCHECKED: rows, columns and counts must lie inside the bitmap.

#include "Palettes.h"
#include "PixelFormats.h"

#include <cstdint>

namespace raster {

// Plain colours of n pixels of a row: column columns[k] when a column map is
// given, else x0 + k. `palette` is the full 256-entry table of an indexed
// format (ignored for true colour).
template <class F>
void ReadColors(const std::uint8_t* row, const int* columns, int x0, int n, const TColor* palette, TColor* out) {
    if constexpr (F::kIndexed) {
        if (columns)
            for (int k = 0; k < n; ++k) out[k] = palette[F::Index(row, columns[k])];
        else
            for (int k = 0; k < n; ++k) out[k] = palette[F::Index(row, x0 + k)];
    } else {
        if (columns)
            for (int k = 0; k < n; ++k) out[k] = F::Color(row, columns[k]);
        else
            for (int k = 0; k < n; ++k) out[k] = F::Color(row, x0 + k);
    }
}

// Fourth bytes of n pixels of a 32-bit row, columns as for ReadColors.
inline void ReadFourths(const std::uint8_t* row, const int* columns, int x0, int n, std::uint8_t* out) {
    if (columns)
        for (int k = 0; k < n; ++k) out[k] = Format32::Fourth(row, columns[k]);
    else
        for (int k = 0; k < n; ++k) out[k] = Format32::Fourth(row, x0 + k);
}

// Stores colours[k] at x0 + k, nearest colour the format holds, skipping
// pixels whose keep[k] is 0 when `keep` is given. Indexed formats go through
// `quantizer` (the target palette's); 32-bit formats take their fourth byte
// from fourths[k] when given, else `fourth`.
template <class F>
void WriteColors(std::uint8_t* row, int x0, int n, const TColor* colors, const std::uint8_t* keep,
                 Quantizer* quantizer, const std::uint8_t* fourths, std::uint8_t fourth) {
    for (int k = 0; k < n; ++k) {
        if (keep && !keep[k]) continue;
        if constexpr (F::kIndexed) {
            F::SetIndex(row, x0 + k, quantizer->Index(colors[k]));
        } else {
            F::SetColor(row, x0 + k, colors[k], fourths ? fourths[k] : fourth);
        }
    }
}

}  // namespace raster
