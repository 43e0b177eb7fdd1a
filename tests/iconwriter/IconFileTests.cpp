// Icon entries and multi-image files: the directory's offsets and sizes, the
// one-entry file against the single-image writer, the refusals, and the
// pixels of an entry made from a straight-alpha picture (depth reduction and
// key through the window's renderer, alpha 0 and key together in the mask,
// straight alpha kept at 32 bits, PNG entries that pngcheck accepts).

#include "Convert_func.h"
#include "Exception.h"
#include "IconFile.h"
#include "IconTestSupport.h"

#include <gtest/gtest.h>

#include <png.h>

#include <cerrno>
#include <cstring>
#include <optional>

using namespace icontest;
namespace fs = std::filesystem;

namespace {

constexpr TColor kKey = RGBColor(255, 0, 255);

// A straight-alpha picture whose pixel (x, y) has colour(x, y) and alpha(x, y).
TRgbaImage MakePicture(int width, int height, const std::function<TColor(int, int)>& colour,
                       const std::function<int(int, int)>& alpha) {
    TRgbaImage picture(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = picture.Row(y);
        for (int x = 0; x < width; ++x, p += 4) {
            const TColor c = colour(x, y);
            p[0] = GetBValue(c);
            p[1] = GetGValue(c);
            p[2] = GetRValue(c);
            p[3] = std::uint8_t(alpha(x, y));
        }
    }
    return picture;
}

// The same colours as a bitmap, for the single-image renderer.
TBitmap ColoursOf(const TRgbaImage& picture) {
    return MakeBitmap(picture.Width, picture.Height, pf24bit, [&picture](int x, int y) {
        const std::uint8_t* p = picture.Row(y) + std::size_t(x) * 4;
        return RGBColor(p[2], p[1], p[0]);
    });
}

// Key pixels on a diagonal band, pattern colours elsewhere.
TColor KeyedPattern(int x, int y) {
    return (x + 2 * y) % 7 == 3 ? kKey : PatternColour(x, y);
}

// One pixel of an entry as a reader of the stored bytes sees it. A 24-bit
// bitmap has no opacity (alpha -1); a PNG has no mask (masked = alpha 0).
struct Pixel {
    TColor colour;
    int alpha;
    bool masked;
};

// Decodes an entry's data from its byte layout alone (bitmap) or with libpng
// (PNG), independently of the writer's code.
std::vector<Pixel> Decode(const TIconEntry& entry, int* widthOut = nullptr, int* heightOut = nullptr) {
    std::vector<Pixel> pixels;
    if (entry.Png) {
        png_image image;
        std::memset(&image, 0, sizeof image);
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_memory(&image, entry.Data.data(), entry.Data.size())) {
            ADD_FAILURE() << "libpng refuses the entry: " << image.message;
            return pixels;
        }
        image.format = PNG_FORMAT_RGBA;
        std::vector<std::uint8_t> rgba(PNG_IMAGE_SIZE(image));
        if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) {
            ADD_FAILURE() << "libpng cannot read the entry: " << image.message;
            return pixels;
        }
        if (widthOut)
            *widthOut = int(image.width);
        if (heightOut)
            *heightOut = int(image.height);
        for (std::size_t i = 0; i + 3 < rgba.size(); i += 4)
            pixels.push_back({RGBColor(rgba[i], rgba[i + 1], rgba[i + 2]), rgba[i + 3], rgba[i + 3] == 0});
        return pixels;
    }
    const Bytes& d = entry.Data;
    const int width = I32(d, 4), height = I32(d, 8) / 2, bits = int(U16(d, 14));
    if (widthOut)
        *widthOut = width;
    if (heightOut)
        *heightOut = height;
    const std::size_t colourStride = (std::size_t(width) * std::size_t(bits) + 31) / 32 * 4;
    const std::size_t maskStride = (std::size_t(width) + 31) / 32 * 4;
    const std::size_t maskStart = 40 + colourStride * std::size_t(height);
    EXPECT_EQ(d.size(), maskStart + maskStride * std::size_t(height)) << "data size";
    for (int y = 0; y < height; ++y) {
        const std::size_t row = std::size_t(height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const std::size_t at = 40 + colourStride * row + std::size_t(x) * std::size_t(bits / 8);
            const bool masked = (d.at(maskStart + maskStride * row + std::size_t(x / 8)) >> (7 - x % 8)) & 1;
            pixels.push_back({RGBColor(d.at(at + 2), d.at(at + 1), d.at(at)), bits == 32 ? d.at(at + 3) : -1, masked});
        }
    }
    return pixels;
}

// ---------------------------------------------------------------- layout --

class IconFileLayout : public ScratchFolderTest {};

TEST_F(IconFileLayout, OffsetsAndSizesOfAMixOfBitmapAndPngEntries) {
    struct Planned {
        int size;
        TPixelFormat depth;
        bool keepAlpha, png;
        int bitCount;
    };
    const Planned planned[] = {
        {16, pf24bit, false, false, 24},
        {32, pf32bit, false, true, 32},
        {48, pf32bit, true, false, 32},
        {256, pf32bit, true, true, 32},
    };
    std::vector<TIconEntry> entries;
    for (const Planned& p : planned)
        entries.push_back(EntryFromRgba(MakePicture(p.size, p.size, KeyedPattern, [](int x, int y) { return (x * y) % 256; }),
                                        p.depth, true, kKey, p.keepAlpha, p.png));

    const Bytes file = IconFileBytes(entries);
    EXPECT_EQ(U16(file, 0), 0u);
    EXPECT_EQ(U16(file, 2), 1u);
    ASSERT_EQ(U16(file, 4), 4u);
    // The data follow the directory PNG images first (32, 256), then the
    // bitmaps (16, 48): a streaming reader must not pass a bitmap before it
    // knows a larger image exists.
    std::vector<std::size_t> offsets(entries.size());
    std::size_t offset = 6 + 16 * 4;
    for (const std::size_t i : {1, 3, 0, 2}) {
        offsets[i] = offset;
        offset += entries[i].Data.size();
    }
    EXPECT_EQ(offset, file.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE("entry of " + std::to_string(planned[i].size));
        const TIconEntry& e = entries[i];
        const std::size_t record = 6 + 16 * i;
        EXPECT_EQ(e.Width, planned[i].size);
        EXPECT_EQ(e.Height, planned[i].size);
        EXPECT_EQ(e.Png, planned[i].png);
        EXPECT_EQ(e.BitCount, planned[i].bitCount);
        EXPECT_EQ(file[record], planned[i].size & 0xFF);  // 256 is stored as 0
        EXPECT_EQ(file[record + 1], planned[i].size & 0xFF);
        EXPECT_EQ(file[record + 2], 0);
        EXPECT_EQ(file[record + 3], 0);
        EXPECT_EQ(U16(file, record + 4), 1u);
        EXPECT_EQ(U16(file, record + 6), std::uint32_t(planned[i].bitCount));
        EXPECT_EQ(U32(file, record + 8), e.Data.size());
        EXPECT_EQ(U32(file, record + 12), offsets[i]);
        ASSERT_LE(offsets[i] + e.Data.size(), file.size());
        EXPECT_TRUE(std::equal(e.Data.begin(), e.Data.end(), file.begin() + std::ptrdiff_t(offsets[i])));
    }

    // A bitmap entry is its info header, colour rows and mask rows.
    EXPECT_EQ(entries[0].Data.size(), 40u + 16 * 16 * 3 + 16 * 4);
    EXPECT_EQ(entries[2].Data.size(), 40u + 48 * 48 * 4 + 48 * 8);

    const fs::path path = Path("mix.ico");
    WriteIconEntries(path.string(), entries);
    EXPECT_EQ(ReadFileBytes(path), file);
}

struct SingleCase {
    int width, height;
    TPixelFormat depth;
    bool useKey;
};

void PrintTo(const SingleCase& c, std::ostream* os) {
    *os << c.width << "x" << c.height << " depth " << int(c.depth) << (c.useKey ? " keyed" : "");
}

class OneEntryFile : public ScratchFolderTest, public ::testing::WithParamInterface<SingleCase> {};

TEST_P(OneEntryFile, IsByteForByteTheSingleImageFile) {
    const SingleCase c = GetParam();
    const TIconImage icon =
        RenderIconEx(MakeBitmap(19, 11, pf24bit, KeyedPattern), c.width, c.height, c.useKey, kKey, c.depth);
    const TIconEntry entry = BmpEntry(icon);
    EXPECT_EQ(entry.Width, c.width);
    EXPECT_EQ(entry.Height, c.height);
    EXPECT_FALSE(entry.Png);
    EXPECT_EQ(IconFileBytes({entry}), icon.FileBytes());

    WriteIconFile(Path("single.ico").string(), icon);
    WriteIconEntries(Path("entries.ico").string(), {entry});
    EXPECT_EQ(ReadFileBytes(Path("entries.ico")), ReadFileBytes(Path("single.ico")));
}

INSTANTIATE_TEST_SUITE_P(Cases, OneEntryFile,
                         ::testing::Values(SingleCase{1, 1, pf32bit, false}, SingleCase{16, 16, pf24bit, true},
                                           SingleCase{33, 7, pf8bit, true}, SingleCase{256, 256, pf32bit, true},
                                           SingleCase{300, 300, pf4bit, false}));

// ------------------------------------------------------------- refusals --

TIconEntry SmallEntry(int size, bool png) {
    return EntryFromRgba(MakePicture(size, size, PatternColour, [](int, int) { return 255; }), pf32bit, false, 0,
                         false, png);
}

struct Refusal {
    const char* name;
    std::function<std::vector<TIconEntry>()> entries;
    const char* message;  // a part of the message
};

void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }

class IconFileRefusals : public ScratchFolderTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(IconFileRefusals, RaiseAClearErrorAndTouchNoFile) {
    const Refusal c = GetParam();
    const Bytes old = {'o', 'l', 'd'};
    WriteFileBytes(Path("existing.ico"), old);
    const std::vector<TIconEntry> entries = c.entries();

    try {
        IconFileBytes(entries);
        ADD_FAILURE() << "no error in memory";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find(c.message), std::string::npos) << e.Message();
    }
    for (const char* name : {"fresh.ico", "existing.ico"}) {
        try {
            WriteIconEntries(Path(name).string(), entries);
            ADD_FAILURE() << "no error writing " << name;
        } catch (const Exception& e) {
            EXPECT_NE(e.Message().find(c.message), std::string::npos) << e.Message();
        }
    }
    EXPECT_EQ(FolderEntries(folder_), std::set<std::string>{"existing.ico"});
    EXPECT_EQ(ReadFileBytes(Path("existing.ico")), old);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IconFileRefusals,
    ::testing::Values(
        Refusal{"NoEntry", [] { return std::vector<TIconEntry>{}; }, "An icon file needs at least one image"},
        Refusal{"SameSizeAsBitmapAndPng",
                [] { return std::vector<TIconEntry>{SmallEntry(16, false), SmallEntry(32, false), SmallEntry(16, true)}; },
                "two images of 16 x 16; each size may appear only once"},
        Refusal{"StatedSizeDiffersFromTheBitmap",
                [] {
                    TIconEntry e = SmallEntry(16, false);
                    e.Width = e.Height = 20;
                    return std::vector<TIconEntry>{e};
                },
                "does not hold a bitmap of that size"},
        Refusal{"StatedSizeDiffersFromThePng",
                [] {
                    TIconEntry e = SmallEntry(16, true);
                    e.Height = 15;
                    return std::vector<TIconEntry>{e};
                },
                "does not hold a PNG picture of that size"},
        Refusal{"BitmapDataMarkedAsPng",
                [] {
                    TIconEntry e = SmallEntry(16, false);
                    e.Png = true;
                    return std::vector<TIconEntry>{e};
                },
                "does not hold a PNG picture"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(IconFileLayout, AFullDiskLeavesTheOldFileInPlace) {
    const Bytes old = {'o', 'l', 'd'};
    WriteFileBytes(Path("icon.ico"), old);
    const std::vector<TIconEntry> entries{SmallEntry(16, false), SmallEntry(32, true)};
    int calls = 0;
    // The directory gets through; the first image meets a full disk.
    auto write = [&calls](int fd, const void* data, std::size_t size) -> ssize_t {
        if (++calls > 1) {
            errno = ENOSPC;
            return -1;
        }
        return ::write(fd, data, size);
    };
    EXPECT_THROW(WriteIconEntries(Path("icon.ico").string(), entries, write), EWriteError);
    EXPECT_EQ(FolderEntries(folder_), std::set<std::string>{"icon.ico"});
    EXPECT_EQ(ReadFileBytes(Path("icon.ico")), old);
}

// ------------------------------------------------------------- pipeline --

class OpaquePicture : public ::testing::TestWithParam<std::tuple<TPixelFormat, bool>> {};

// Without alpha 0 anywhere, an entry is the window's single image: the depth
// reduction, the key and the mask come from RenderIconEx, and an alpha other
// than 0 changes nothing.
TEST_P(OpaquePicture, EntryIsTheSingleImage) {
    const auto [depth, useKey] = GetParam();
    const TRgbaImage picture = MakePicture(37, 21, KeyedPattern, [](int x, int y) { return 1 + (x * 7 + y) % 255; });
    const TIconEntry entry = EntryFromRgba(picture, depth, useKey, kKey, false, false);
    const TIconEntry single = BmpEntry(RenderIconEx(ColoursOf(picture), 37, 21, useKey, kKey, depth));
    EXPECT_EQ(entry.Width, 37);
    EXPECT_EQ(entry.Height, 21);
    EXPECT_EQ(entry.BitCount, depth == pf32bit ? 32 : 24);
    EXPECT_FALSE(entry.Png);
    EXPECT_EQ(entry.Data, single.Data);
}

INSTANTIATE_TEST_SUITE_P(Depths, OpaquePicture,
                         ::testing::Combine(::testing::Values(pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit,
                                                              pf32bit),
                                            ::testing::Bool()));

struct TransparencyCase {
    const char* name;
    TPixelFormat depth;
    bool useKey, keepAlpha, png;
};

void PrintTo(const TransparencyCase& c, std::ostream* os) { *os << c.name; }

class Transparency : public ScratchFolderTest, public ::testing::WithParamInterface<TransparencyCase> {};

// Every alpha from 0 to 255 once, key pixels among them. The colours an
// opaque render gives (reduced, key masked) are the reference: on top of
// them a pixel is transparent when its alpha is 0 or the key masked it, and
// transparent pixels are black with opacity 0.
TEST_P(Transparency, AlphaZeroAndKeyCombineInTheMask) {
    const TransparencyCase c = GetParam();
    const TRgbaImage picture = MakePicture(16, 16, KeyedPattern, [](int x, int y) { return y * 16 + x; });
    const TIconEntry entry = EntryFromRgba(picture, c.depth, c.useKey, kKey, c.keepAlpha, c.png);
    EXPECT_EQ(entry.Png, c.png);
    EXPECT_EQ(entry.BitCount, c.png || c.depth == pf32bit ? 32 : 24);

    const std::vector<Pixel> reference = Decode(BmpEntry(RenderIconEx(ColoursOf(picture), 16, 16, c.useKey, kKey, c.depth)));
    int width = 0, height = 0;
    const std::vector<Pixel> got = Decode(entry, &width, &height);
    ASSERT_EQ(width, 16);
    ASSERT_EQ(height, 16);
    ASSERT_EQ(got.size(), reference.size());

    int byAlphaOnly = 0, byKeyOnly = 0;
    for (int i = 0; i < 256; ++i) {
        SCOPED_TRACE("pixel " + std::to_string(i % 16) + ", " + std::to_string(i / 16));
        const int alpha = i;
        const bool transparent = alpha == 0 || reference[std::size_t(i)].masked;
        byAlphaOnly += alpha == 0 && !reference[std::size_t(i)].masked;
        byKeyOnly += alpha != 0 && reference[std::size_t(i)].masked;
        const Pixel& p = got[std::size_t(i)];
        EXPECT_EQ(p.masked, transparent);
        EXPECT_EQ(p.colour, transparent ? clBlack : reference[std::size_t(i)].colour);
        if (c.png || c.depth == pf32bit) {
            EXPECT_EQ(p.alpha, transparent ? 0 : c.keepAlpha ? alpha : 255);
        }
    }
    EXPECT_EQ(byAlphaOnly, 1);  // pixel 0 is not a key pixel
    EXPECT_EQ(byKeyOnly, c.useKey && c.depth != pf1bit ? 37 : 0);  // one bit has no magenta

    if (c.png) {
        // The PNG itself, checked by a tool that knows the format in detail.
        const fs::path path = Path("entry.png");
        WriteFileBytes(path, entry.Data);
        std::string output;
        const int status = RunCapture("pngcheck " + ShellQuote(path.string()) + " 2>&1", output);
        EXPECT_EQ(status, 0) << output;
        EXPECT_NE(output.find("OK: " + path.string() + " (16x16, 32-bit RGB+alpha, non-interlaced"), std::string::npos)
            << output;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Transparency,
    ::testing::Values(TransparencyCase{"Bmp24Keyed", pf24bit, true, false, false},
                      TransparencyCase{"Bmp32Keyed", pf32bit, true, false, false},
                      TransparencyCase{"Bmp32KeepAlphaKeyed", pf32bit, true, true, false},
                      TransparencyCase{"Bmp32KeepAlpha", pf32bit, false, true, false},
                      TransparencyCase{"Bmp8Keyed", pf8bit, true, false, false},
                      TransparencyCase{"Bmp1Keyed", pf1bit, true, false, false},
                      TransparencyCase{"Png24Keyed", pf24bit, true, false, true},
                      TransparencyCase{"Png4Keyed", pf4bit, true, false, true},
                      TransparencyCase{"Png32KeepAlphaKeyed", pf32bit, true, true, true},
                      TransparencyCase{"Png32", pf32bit, false, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KeepAlpha, IsRefusedBelow32Bits) {
    const TRgbaImage picture = MakePicture(4, 4, PatternColour, [](int x, int) { return x * 80; });
    for (TPixelFormat depth : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit}) {
        for (bool png : {false, true}) {
            try {
                EntryFromRgba(picture, depth, false, 0, true, png);
                ADD_FAILURE() << "no error at depth " << int(depth);
            } catch (const Exception& e) {
                EXPECT_NE(e.Message().find("can only be kept in a 32-bit icon"), std::string::npos) << e.Message();
            }
        }
    }
}

TEST(EntryFromRgba, AnAllTransparentPictureIsAllMasked) {
    const TRgbaImage picture = MakePicture(9, 5, PatternColour, [](int, int) { return 0; });
    for (TPixelFormat depth : {pf24bit, pf32bit}) {
        for (bool png : {false, true}) {
            SCOPED_TRACE(std::string(depth == pf32bit ? "32" : "24") + (png ? " png" : " bitmap"));
            const TIconEntry entry = EntryFromRgba(picture, depth, false, 0, depth == pf32bit, png);
            for (const Pixel& p : Decode(entry)) {
                EXPECT_TRUE(p.masked);
                EXPECT_EQ(p.colour, clBlack);
                EXPECT_LE(p.alpha, 0);
            }
        }
    }
}

TEST(EntryFromRgba, RefusesAPictureItCannotRender) {
    TRgbaImage shortRows(4, 4);
    shortRows.Pixels.pop_back();
    EXPECT_THROW(EntryFromRgba(shortRows, pf24bit, false, 0, false, false), EInvalidGraphic);
    EXPECT_THROW(EntryFromRgba(TRgbaImage(0, 3), pf24bit, false, 0, false, true), EInvalidGraphic);
    EXPECT_THROW(EntryFromRgba(TRgbaImage(2, 2), pfCustom, false, 0, false, false), EInvalidGraphic);
}

}  // namespace
