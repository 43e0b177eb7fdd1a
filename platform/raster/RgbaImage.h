#pragma once
// A plain picture with straight (not premultiplied) opacity: the currency of
// the smooth-scaling and multi-image paths, between the resampler and the
// icon entries. No palette, no padding: 4 bytes per pixel in the order
// B, G, R, A (as a pf32bit scan line stores them), rows top-down.

#include <cstddef>
#include <cstdint>
#include <vector>

struct TRgbaImage {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint8_t> Pixels;  // Width * Height * 4 bytes

    TRgbaImage() = default;
    // Every pixel (0, 0, 0, 0): transparent black.
    TRgbaImage(int width, int height)
        : Width(width), Height(height), Pixels(std::size_t(width) * std::size_t(height) * 4, 0) {}

    std::uint8_t* Row(int y) { return Pixels.data() + std::size_t(y) * std::size_t(Width) * 4; }
    const std::uint8_t* Row(int y) const { return Pixels.data() + std::size_t(y) * std::size_t(Width) * 4; }
};
