#pragma once
// Reading gloxen-convert's icons back in the tests with a small reader of
// our own: the directory, bitmap images (colour rows, mask) and PNG images
// (through libpng's simple API). The independent readers have tests of
// their own; this one gives the tests exact pixels to compare with.

#include "CliTestSupport.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>

namespace clitest {

// One pixel as the icon shows it.
struct TPixel {
    std::uint8_t R = 0, G = 0, B = 0, A = 0;
    bool Masked = false;  // the AND mask says transparent (PNG: alpha 0)
};

struct TImage {
    int Width = 0, Height = 0, BitCount = 0;
    bool Png = false;
    Bytes Data;
    std::vector<TPixel> Pixels;  // top-down
    const TPixel& At(int x, int y) const { return Pixels[std::size_t(y) * std::size_t(Width) + std::size_t(x)]; }
};

inline unsigned U16(const Bytes& b, std::size_t at) { return b.at(at) | unsigned(b.at(at + 1)) << 8; }
inline std::uint32_t U32(const Bytes& b, std::size_t at) { return U16(b, at) | std::uint32_t(U16(b, at + 2)) << 16; }

// Reads every image of an icon file; fails the test on a malformed file.
inline std::vector<TImage> ReadIcon(const Bytes& file) {
    std::vector<TImage> images;
    EXPECT_EQ(U16(file, 0), 0u);
    EXPECT_EQ(U16(file, 2), 1u);
    const unsigned count = U16(file, 4);
    // The images' data must follow the directory back to back, in whatever
    // order, and end the file.
    std::vector<std::pair<std::size_t, std::size_t>> regions;
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t e = 6 + 16 * std::size_t(i);
        TImage image;
        const std::uint32_t size = U32(file, e + 8), offset = U32(file, e + 12);
        regions.push_back({offset, size});
        if (std::size_t(offset) + size > file.size()) {
            ADD_FAILURE() << "image " << i << " lies beyond the file";
            return images;
        }
        image.BitCount = int(U16(file, e + 6));
        image.Data.assign(file.begin() + offset, file.begin() + offset + size);
        image.Png = size >= 8 && std::memcmp(image.Data.data(), "\x89PNG\r\n\x1a\n", 8) == 0;
        if (image.Png) {
            png_image png{};
            png.version = PNG_IMAGE_VERSION;
            EXPECT_TRUE(png_image_begin_read_from_memory(&png, image.Data.data(), image.Data.size()));
            png.format = PNG_FORMAT_RGBA;
            Bytes rgba(PNG_IMAGE_SIZE(png));
            EXPECT_TRUE(png_image_finish_read(&png, nullptr, rgba.data(), 0, nullptr));
            image.Width = int(png.width);
            image.Height = int(png.height);
            for (std::size_t p = 0; p < rgba.size(); p += 4)
                image.Pixels.push_back({rgba[p], rgba[p + 1], rgba[p + 2], rgba[p + 3], rgba[p + 3] == 0});
        } else {
            const Bytes& d = image.Data;
            image.Width = int(U32(d, 4));
            image.Height = int(U32(d, 8)) / 2;
            const int bits = int(U16(d, 14));
            const std::size_t colourStride = (std::size_t(image.Width) * std::size_t(bits) + 31) / 32 * 4;
            const std::size_t maskStride = (std::size_t(image.Width) + 31) / 32 * 4;
            const std::size_t colour = U32(d, 0), mask = colour + colourStride * std::size_t(image.Height);
            for (int y = 0; y < image.Height; ++y)
                for (int x = 0; x < image.Width; ++x) {
                    const std::size_t row = std::size_t(image.Height - 1 - y);
                    const std::uint8_t* p = &d.at(colour + row * colourStride + std::size_t(x) * std::size_t(bits / 8));
                    const bool masked = (d.at(mask + row * maskStride + std::size_t(x) / 8) >> (7 - x % 8)) & 1;
                    image.Pixels.push_back({p[2], p[1], p[0], std::uint8_t(bits == 32 ? p[3] : 255), masked});
                }
        }
        images.push_back(image);
    }
    std::sort(regions.begin(), regions.end());
    std::size_t next = 6 + 16 * std::size_t(count);
    for (const auto& [offset, size] : regions) {
        EXPECT_EQ(offset, next) << "a gap or an overlap between images";
        next = offset + size;
    }
    EXPECT_EQ(next, file.size());
    return images;
}

// An 8-bit RGBA PNG whose pixel (x, y) is pixel(x, y) as {R, G, B, A}.
inline Bytes PngRgba(int width, int height, const std::function<std::array<std::uint8_t, 4>(int, int)>& pixel) {
    Bytes rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto p = pixel(x, y);
            rgba.insert(rgba.end(), p.begin(), p.end());
        }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = png_uint_32(width);
    png.height = png_uint_32(height);
    png.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    EXPECT_TRUE(png_image_write_to_memory(&png, nullptr, &size, 0, rgba.data(), 0, nullptr));
    Bytes out(size);
    EXPECT_TRUE(png_image_write_to_memory(&png, out.data(), &size, 0, rgba.data(), 0, nullptr));
    out.resize(size);
    return out;
}

}  // namespace clitest
