#pragma once
// How large a picture the program takes. Every decoder checks a picture's
// size here, right after reading its header and before any buffer sized from
// that header exists; TBitmap applies the byte limit to every bitmap it sizes.
//
// The limits, in one place:
// - a side is at least 1 and at most kMaxImageSide (65535) pixels;
// - a picture holds at most kMaxImagePixels (2^28, about 268 million) pixels;
// - a bitmap's pixel bytes stay within kMaxPixelBytes (1 GiB): room for a
//   16384 x 16384 picture at 32 bits or about 20000 x 15000 at 24.
// Larger requests are refused before anything is allocated, rather than
// trusting an allocator that may promise memory it does not have.

#include <cstddef>
#include <cstdint>

inline constexpr int kMaxImageSide = 65535;
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t(1) << 28;
inline constexpr std::uint64_t kMaxPixelBytes = std::uint64_t(1) << 30;

// Row stride and total pixel bytes of a width x height bitmap at `bits` per
// pixel (rows padded to 4 bytes). Raises EOutOfResources for negative sizes
// and EOutOfMemory when the row size overflows 32 bits or the total exceeds
// kMaxPixelBytes.
std::size_t CheckedPixelBytes(int width, int height, int bits, std::size_t& stride);

// Checks a picture's size as its header states it, for a bitmap of
// `bitsPerPixel`. Raises EInvalidImage("The picture has no pixels (0 x 12)")
// when a side is 0 or below, EInvalidImage naming the size and the limit when
// a side or the pixel count is beyond the limits above, and EOutOfMemory when
// the bitmap's bytes would exceed kMaxPixelBytes.
void CheckImageLimits(int width, int height, int bitsPerPixel);
