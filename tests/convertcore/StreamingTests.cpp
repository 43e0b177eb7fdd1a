// The converter never holds the whole picture: it samples rows as the decoder
// delivers them, and decoders skip rows it does not want. Whatever it skips,
// the icon must be byte for byte the one the window's path gives, which
// decodes the whole picture and draws it.

#include "PictureConverter.h"

#include "Exception.h"
#include "ImageCodec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace fs = std::filesystem;

namespace {

fs::path Scratch() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("gloxen-streaming-" + std::to_string(::getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

class TScratchCleanup : public ::testing::Environment {
public:
    void TearDown() override { fs::remove_all(Scratch()); }
};
const auto* const kCleanup = ::testing::AddGlobalTestEnvironment(new TScratchCleanup);

// The window's path: the whole picture decoded, then drawn into the icon.
TIconImage WholePictureIcon(const TBitmap& picture, const TConvertSettings& s) {
    const TSizeChoice& choice = s.Sizes.front();
    const TIconSize size = choice.Original ? TIconSize{picture.Width(), picture.Height()} : choice.Size;
    const TColor corner = picture.Canvas().Pixel(0, 0);
    bool use = false;
    TColor colour = corner;
    switch (s.Transparency) {
        case TTransparencyChoice::WindowDefault: use = corner == clBlack; break;
        case TTransparencyChoice::Off: break;
        case TTransparencyChoice::Colour: use = true; colour = s.Colour; break;
        case TTransparencyChoice::TopLeft: use = true; break;
    }
    return RenderIconEx(picture, size.Width, size.Height, use, ConvertColor(use, colour, corner), s.Depth);
}

const TPixelFormat kDepths[] = {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit};

std::string Describe(const TConvertSettings& s) {
    const TSizeChoice& size = s.Sizes.front();
    std::string text =
        size.Original ? "original" : std::to_string(size.Size.Width) + "x" + std::to_string(size.Size.Height);
    text += ", " + std::to_string(BitsPerPixel(s.Depth)) + (s.Depth == pf15bit ? "(15)" : "") + " bits";
    const char* const choices[] = {"default", "off", "colour", "top-left"};
    return text + ", transparency " + choices[int(s.Transparency)];
}

// Compares the two paths for one picture under every setting given.
void ExpectSameIcons(const fs::path& path, const std::vector<TConvertSettings>& settings) {
    const TImageFormat* format = FormatForExtension(ExtensionOf(path.string()));
    ASSERT_NE(format, nullptr) << path;
    TBitmap picture;
    std::string wholeError;
    try {
        picture = LoadPicture(path.string(), *format);
    } catch (const Exception& e) {
        wholeError = e.what();
    }
    for (const TConvertSettings& s : settings) {
        SCOPED_TRACE(path.string() + ": " + Describe(s));
        if (!wholeError.empty()) {
            // A broken picture is refused by both paths.
            EXPECT_THROW(ConvertPicture(path.string(), s), Exception) << wholeError;
            return;
        }
        const std::vector<std::uint8_t> want = WholePictureIcon(picture, s).FileBytes();
        const std::vector<std::uint8_t> got = ConvertPicture(path.string(), s).FileBytes();
        ASSERT_EQ(got.size(), want.size());
        const auto diff = std::mismatch(got.begin(), got.end(), want.begin());
        ASSERT_TRUE(diff.first == got.end()) << "first difference at byte " << (diff.first - got.begin());
    }
}

TConvertSettings Settings(int width, int height, TPixelFormat depth,
                          TTransparencyChoice choice = TTransparencyChoice::WindowDefault) {
    TConvertSettings s;
    s.Sizes = {TSizeChoice{width == 0, {width, height}}};
    s.Depth = depth;
    s.Transparency = choice;
    s.Colour = RGBColor(0x80, 0x80, 0x80);
    s.AllowLarge = true;
    return s;
}

// A picture with detail at every scale: gradients, stripes one pixel wide
// and noise, so that a wrongly chosen row or column shows.
std::uint8_t Sample(int x, int y, int c, std::mt19937& rng) {
    const int stripe = (x % 7 == 0 || y % 5 == 0) ? 120 : 0;
    return std::uint8_t((x * (c + 1) + y * (3 - c) + stripe + int(rng() % 24)) & 0xFF);
}

struct TJpegKind {
    const char* Name;
    int Components;      // 1 grey, 3 colour, 4 CMYK
    int HSample, VSample;  // of the first component
    bool Progressive;
};

fs::path WriteJpeg(const TJpegKind& kind, int width, int height) {
    const fs::path path = Scratch() / (std::string(kind.Name) + ".jpg");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = kind.Components;
    cinfo.in_color_space = kind.Components == 1 ? JCS_GRAYSCALE : kind.Components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 85, TRUE);
    cinfo.comp_info[0].h_samp_factor = kind.HSample;
    cinfo.comp_info[0].v_samp_factor = kind.VSample;
    if (kind.Progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::mt19937 rng(5);
    std::vector<JSAMPLE> row(std::size_t(width) * std::size_t(kind.Components));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < kind.Components; ++c)
                row[std::size_t(x * kind.Components + c)] = Sample(x, y, c, rng);
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
    return path;
}

void Put(std::vector<std::uint8_t>& v, std::uint32_t x, int bytes) {
    for (int i = 0; i < bytes; ++i) v.push_back(std::uint8_t(x >> (8 * i)));
}

struct TBmpKind {
    const char* Name;
    int Bits;
    bool TopDown;
    // 32-bit pictures with these masks go through the masked path.
    std::uint32_t Masks[3];
};

fs::path WriteBmp(const TBmpKind& kind, int width, int height) {
    const bool masked = kind.Masks[0] != 0;
    const int colours = kind.Bits <= 8 ? 1 << kind.Bits : 0;
    const std::uint32_t stride = (std::uint32_t(width) * std::uint32_t(kind.Bits) + 31) / 32 * 4;
    const std::uint32_t offset = 14 + 40 + (masked ? 12 : 0) + std::uint32_t(colours) * 4;
    std::vector<std::uint8_t> b{'B', 'M'};
    Put(b, offset + stride * std::uint32_t(height), 4);
    Put(b, 0, 4);
    Put(b, offset, 4);
    Put(b, 40, 4);
    Put(b, std::uint32_t(width), 4);
    Put(b, std::uint32_t(kind.TopDown ? -height : height), 4);
    Put(b, 1, 2);
    Put(b, std::uint32_t(kind.Bits), 2);
    Put(b, masked ? 3 : 0, 4);
    for (int i = 0; i < 5; ++i) Put(b, 0, 4);
    for (std::uint32_t m : kind.Masks)
        if (masked) Put(b, m, 4);
    std::mt19937 rng(9);
    for (int i = 0; i < colours; ++i) Put(b, rng() & 0xFFFFFF, 4);
    for (int y = 0; y < height; ++y)
        for (std::uint32_t i = 0; i < stride; ++i) b.push_back(Sample(int(i), y, int(i % 3), rng));
    const fs::path path = Scratch() / (std::string(kind.Name) + ".bmp");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    return path;
}

// Shrinking on both sides, on one side only, enlarging, and the picture's
// own size.
std::vector<TConvertSettings> EverySetting(int width, int height) {
    std::vector<TConvertSettings> all;
    const TIconSize sizes[] = {{16, 16}, {256, 256}, {255, 3}, {3, height - 1}, {width * 2, 20}, {0, 0}};
    for (const TIconSize& size : sizes)
        for (TPixelFormat depth : kDepths) all.push_back(Settings(size.Width, size.Height, depth));
    for (TTransparencyChoice choice : {TTransparencyChoice::Off, TTransparencyChoice::Colour, TTransparencyChoice::TopLeft})
        for (TPixelFormat depth : {pf1bit, pf8bit, pf24bit, pf32bit}) all.push_back(Settings(48, 32, depth, choice));
    return all;
}

}  // namespace

TEST(Streaming, JpegsOfEveryKindGiveTheWholePicturesIcon) {
    const TJpegKind kinds[] = {
        {"colour-420", 3, 2, 2, false}, {"colour-422", 3, 2, 1, false}, {"colour-444", 3, 1, 1, false},
        {"colour-420-progressive", 3, 2, 2, true}, {"grey", 1, 1, 1, false}, {"cmyk", 4, 1, 1, false},
    };
    for (const TJpegKind& kind : kinds) ExpectSameIcons(WriteJpeg(kind, 613, 397), EverySetting(613, 397));
}

TEST(Streaming, BmpsReadOnlyWhereSampledRowsLieGiveTheWholePicturesIcon) {
    const TBmpKind kinds[] = {
        {"rgb24-bottom-up", 24, false, {}},
        {"rgb24-top-down", 24, true, {}},
        {"indexed8", 8, false, {}},
        {"indexed4-top-down", 4, true, {}},
        {"indexed1", 1, false, {}},
        {"rgb16-555", 16, false, {}},
        {"masked32", 32, false, {0x3FF00000, 0x000FFC00, 0x000003FF}},
    };
    for (const TBmpKind& kind : kinds) ExpectSameIcons(WriteBmp(kind, 517, 301), EverySetting(517, 301));
}

TEST(Streaming, EveryCorpusPictureGivesTheWholePicturesIcon) {
    const fs::path corpora = fs::path(GLOXEN_SOURCE_DIR) / ".." / "shared" / "corpora";
    ASSERT_TRUE(fs::is_directory(corpora)) << corpora;
    std::vector<TConvertSettings> settings;
    for (TPixelFormat depth : kDepths) {
        settings.push_back(Settings(16, 16, depth));
        settings.push_back(Settings(48, 20, depth));
    }
    settings.push_back(Settings(0, 0, pf24bit));
    settings.push_back(Settings(0, 0, pf1bit));
    settings.push_back(Settings(256, 256, pf32bit, TTransparencyChoice::TopLeft));
    int pictures = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpora)) {
        if (!entry.is_regular_file()) continue;
        std::string extension(ExtensionOf(entry.path().string()));
        for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (FormatForExtension(extension) == nullptr || extension != ExtensionOf(entry.path().string())) continue;
        ExpectSameIcons(entry.path(), settings);
        ++pictures;
    }
    EXPECT_GT(pictures, 300);
}

// Records which rows a decoder hands over to a sink that wants every tenth.
class TEveryTenthRow : public IRowSink {
public:
    void Begin(const TImageInfo& info) override {
        stride_ = RowStride(info.Width, BitsPerPixel(info.Format));
        rows.assign(std::size_t(info.Height), {});
    }
    bool WantsRow(int y) const override { return y % 10 == 0; }
    std::uint8_t* RowBuffer(int y) override {
        rows[std::size_t(y)].assign(stride_, 0xCD);
        return rows[std::size_t(y)].data();
    }
    void RowDone(int) override {}
    std::vector<std::vector<std::uint8_t>> rows;

private:
    std::size_t stride_ = 0;
};

TEST(Streaming, BmpsAndColourJpegsLeaveOutTheRowsNotWanted) {
    struct TCase {
        fs::path Path;
        bool Skips;
    };
    const TCase cases[] = {
        {WriteBmp({"skip-bmp", 24, false, {}}, 97, 63), true},
        {WriteBmp({"skip-bmp-masked", 32, true, {0xFF0000, 0xFF00, 0xFF}}, 97, 63), true},
        {WriteJpeg({"skip-jpeg", 3, 2, 2, false}, 97, 63), true},
        {WriteJpeg({"skip-jpeg-progressive", 3, 2, 2, true}, 97, 63), true},
        // The dithered greyscale carries its error through every row.
        {WriteJpeg({"skip-jpeg-grey", 1, 1, 1, false}, 97, 63), false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Path.string());
        const TImageFormat& format = *FormatForExtension(ExtensionOf(c.Path.string()));
        const TBitmap whole = LoadPicture(c.Path.string(), format);
        TEveryTenthRow sink;
        DecodeFile(c.Path.string(), format, sink);
        for (int y = 0; y < whole.Height(); ++y) {
            const std::vector<std::uint8_t>& row = sink.rows[std::size_t(y)];
            if (y % 10 == 0 || !c.Skips) {
                ASSERT_EQ(row.size(), RowStride(whole.Width(), BitsPerPixel(whole.PixelFormat()))) << y;
                EXPECT_TRUE(std::equal(row.begin(), row.end(), whole.ScanLine(y))) << "row " << y;
            } else {
                EXPECT_TRUE(row.empty()) << "row " << y << " was delivered";
            }
        }
    }
}

TEST(Streaming, RefusesALargeIconUnlessAllowed) {
    const fs::path path = WriteBmp({"wide", 24, false, {}}, 300, 10);
    TConvertSettings s = Settings(0, 0, pf24bit);
    s.AllowLarge = false;
    try {
        ConvertPicture(path.string(), s);
        FAIL() << "a 300 x 10 icon was made without --allow-large";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(),
                     "The icon would be 300 x 10 pixels, larger than 256 x 256; give --allow-large to write it all "
                     "the same");
    }
    s.Sizes = {TSizeChoice{false, {256, 256}}};
    EXPECT_NO_THROW(ConvertPicture(path.string(), s));
}
