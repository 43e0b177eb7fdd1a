// The JPEG decoder: colour files as 24-bit B, G, R, CMYK converted to RGB,
// greyscale through libjpeg's one-pass quantiser, and the files it refuses.

#include "CodecTestSupport.h"
#include "Exception.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>

using namespace codectest;
namespace fs = std::filesystem;

namespace {

fs::path JpegCorpus() { return CorpusDir() / "jpeg"; }

// Writes a picture with Pillow: `script` runs with the output path as
// sys.argv[1] and `from PIL import Image` already done. Fails the test when
// Python or Pillow is missing.
fs::path MakeWithPillow(const std::string& name, const std::string& script) {
    const fs::path out = ScratchDir() / name;
    const fs::path program = ScratchDir() / (name + ".py");
    {
        std::ofstream file(program);
        file << "import sys\nfrom PIL import Image\n" << script << "\n";
    }
    const std::string command = "/usr/bin/python3 '" + program.string() + "' '" + out.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << "Pillow could not write " << name;
    return out;
}

// Compares every pixel of a colour decode with Pillow's reading of the same
// file. Both use Debian's libjpeg-turbo with its defaults (islow integer
// DCT, fancy upsampling), so the results are expected to be identical: the
// tolerance is 0, and measured so on the corpus.
void ExpectSameAsPillow(const fs::path& path) {
    const TBitmap ours = Decode(path, "JPEG");
    const ReferenceImage ref = ReadWithPillow(path);
    ASSERT_EQ(ours.Width(), ref.width);
    ASSERT_EQ(ours.Height(), ref.height);
    int differing = 0;
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x) {
            const Rgba want = ref.At(x, y), got = PixelOf(ours, x, y);
            if (got.r != want.r || got.g != want.g || got.b != want.b) {
                if (++differing <= 3)
                    ADD_FAILURE() << path.filename() << " (" << x << ", " << y << "): ours " << int(got.r) << ","
                                  << int(got.g) << "," << int(got.b) << " Pillow " << int(want.r) << ","
                                  << int(want.g) << "," << int(want.b);
            }
        }
    EXPECT_EQ(differing, 0) << path.filename();
}

struct CorpusCase {
    const char* file;
    int width, height;
    TPixelFormat format;
    const char* error;  // null: the file loads
};

const CorpusCase kCorpus[] = {
    {"testorig.jpg", 227, 149, pf24bit, nullptr},  // baseline Huffman
    {"testimgint.jpg", 227, 149, pf24bit, nullptr},
    {"testimgari.jpg", 227, 149, pf24bit, nullptr},  // arithmetic coding
    {"monkey12.jpg", 0, 0, pf24bit, "JPEG: Unsupported JPEG data precision 12 (only 8-bit samples are supported)"},
    {"shira_bird8.bmp", 0, 0, pf24bit, "JPEG: Not a JPEG file: starts with 0x42 0x4d"},
};

TEST(JpegCorpus, FilesLoadAtTheirSizeOrAreRefused) {
    for (const CorpusCase& c : kCorpus) {
        SCOPED_TRACE(c.file);
        const fs::path path = JpegCorpus() / c.file;
        if (c.error) {
            EXPECT_EQ(DecodeError(path, "JPEG"), c.error);
            continue;
        }
        const TBitmap bitmap = Decode(path, "JPEG");
        EXPECT_EQ(bitmap.Width(), c.width);
        EXPECT_EQ(bitmap.Height(), c.height);
        EXPECT_EQ(bitmap.PixelFormat(), c.format);
        ExpectSameAsPillow(path);
    }
}

TEST(JpegCorpus, RowsArriveOnceTopDown) {
    TRecordingSink sink;
    DecodeFile((JpegCorpus() / "testorig.jpg").string(), Format("JPEG"), sink);
    ASSERT_TRUE(sink.begun);
    EXPECT_TRUE(sink.ended);
    ASSERT_EQ(sink.order.size(), 149u);
    for (int y = 0; y < 149; ++y) EXPECT_EQ(sink.order[std::size_t(y)], y);
}

// Progressive and 4:2:0-subsampled files made by Pillow, odd sizes so that
// the last block row and column are partial.
TEST(JpegColour, ProgressiveAndSubsampledMatchPillow) {
    const char* gradient =
        "im = Image.new('RGB', (61, 37))\n"
        "im.putdata([(x * 4, y * 6, (x * y) % 256) for y in range(37) for x in range(61)])\n";
    ExpectSameAsPillow(
        MakeWithPillow("progressive.jpg", std::string(gradient) + "im.save(sys.argv[1], progressive=True, quality=80)"));
    ExpectSameAsPillow(
        MakeWithPillow("subsampled.jpg", std::string(gradient) + "im.save(sys.argv[1], subsampling=2, quality=60)"));
}

// Greyscale files go through libjpeg's one-pass quantiser: at most 236 grey
// levels, the palette is the quantiser's evenly spaced map, and dithering
// keeps every pixel close to its true value.
TEST(JpegGrey, QuantisedTo236EvenlySpacedLevels) {
    const fs::path path = MakeWithPillow("grey.jpg",
                                         "im = Image.new('L', (256, 24))\n"
                                         "im.putdata([x for y in range(24) for x in range(256)])\n"
                                         "im.save(sys.argv[1], quality=95)");
    const TBitmap bitmap = Decode(path, "JPEG");
    ASSERT_EQ(bitmap.PixelFormat(), pf8bit);
    ASSERT_EQ(bitmap.Width(), 256);
    ASSERT_EQ(bitmap.Height(), 24);

    const std::vector<TColor>& palette = bitmap.Palette();
    ASSERT_EQ(palette.size(), 236u);
    for (std::size_t i = 0; i < palette.size(); ++i) {
        SCOPED_TRACE(i);
        const TColor c = palette[i];
        EXPECT_EQ(GetRValue(c), GetGValue(c));
        EXPECT_EQ(GetRValue(c), GetBValue(c));
        // Evenly spaced: entry i is i * 255 / 235, rounded to nearest.
        EXPECT_EQ(GetRValue(c), (i * 255 + 117) / 235);
    }

    const ReferenceImage ref = ReadWithPillow(path);
    std::set<TColor> levels;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 256; ++x) {
            const TColor c = bitmap.Canvas().Pixel(x, y);
            levels.insert(c);
            // 236 levels are at most 1.09 apart; Floyd-Steinberg keeps a
            // pixel within about one step of the value it replaces.
            EXPECT_LE(std::abs(int(GetRValue(c)) - int(ref.At(x, y).r)), 2) << x << ", " << y;
        }
    EXPECT_LE(levels.size(), 236u);
    EXPECT_GT(levels.size(), 200u);  // the gradient really uses the levels
}

// A CMYK file as Photoshop writes it (Adobe APP14 marker, stored values
// inverted: 255 minus the ink), and the same bytes without the marker, which
// are then plain ink amounts. Solid 8 x 8 blocks at quality 100 come back
// exactly, so every pixel must follow the conversion formula
// R = (255 - c)(255 - k) / 255 rounded to nearest, for the ink amounts c, k.
TEST(JpegCmyk, ConvertedToRgbWithAndWithoutAdobeMarker) {
    const fs::path adobe = MakeWithPillow("cmyk.jpg",
                                          "im = Image.new('CMYK', (16, 8), (10, 100, 200, 50))\n"
                                          "im.paste((0, 255, 128, 0), (8, 0, 16, 8))\n"
                                          "im.save(sys.argv[1], quality=100)");
    std::vector<std::uint8_t> bytes = ReadBytes(adobe);
    // Pillow writes the APP14 "Adobe" segment (FF EE, length 14) right after SOI.
    ASSERT_GT(bytes.size(), 20u);
    ASSERT_EQ(bytes[2], 0xFF);
    ASSERT_EQ(bytes[3], 0xEE);
    const TBitmap inverted = DecodeBytes(bytes, "JPEG");
    bytes.erase(bytes.begin() + 2, bytes.begin() + 2 + 2 + 14);
    const TBitmap plain = DecodeBytes(bytes, "JPEG");

    struct Case {
        const TBitmap* bitmap;
        int x;
        Rgba want;
    };
    const Case cases[] = {
        // Ink 10, 100, 200, 50: R = 245 * 205 / 255 = 196.96 -> 197,
        // G = 155 * 205 / 255 = 124.6 -> 125, B = 55 * 205 / 255 = 44.2 -> 44.
        {&inverted, 3, {197, 125, 44, 255}},
        // Ink 0, 255, 128, 0: R = 255, G = 0, B = 127.
        {&inverted, 12, {255, 0, 127, 255}},
        // Without the marker the stored 245, 155, 55, 205 are ink amounts:
        // R = 10 * 50 / 255 = 1.96 -> 2, G = 100 * 50 / 255 = 19.6 -> 20,
        // B = 200 * 50 / 255 = 39.2 -> 39.
        {&plain, 3, {2, 20, 39, 255}},
        // Stored 255, 0, 127, 255: K is full ink, so black.
        {&plain, 12, {0, 0, 0, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        ASSERT_EQ(c.bitmap->PixelFormat(), pf32bit);
        EXPECT_FALSE(c.bitmap->HasAlpha());
        for (int y = 0; y < 8; ++y) EXPECT_EQ(PixelOf(*c.bitmap, c.x, y), c.want);
        EXPECT_EQ(c.bitmap->ScanLine(2)[4 * c.x + 3], 0);  // the fourth byte is 0
    }
}

// A file cut anywhere, from inside the header to just before the end marker,
// is refused as truncated: never a grey-filled picture.
TEST(JpegErrors, TruncatedFilesAreRefused) {
    const std::vector<std::uint8_t> whole = ReadBytes(JpegCorpus() / "testorig.jpg");
    ASSERT_GT(whole.size(), 1000u);
    for (std::size_t keep : {std::size_t(100), std::size_t(700), whole.size() / 2, whole.size() - 2}) {
        SCOPED_TRACE(keep);
        const fs::path path = WriteFixture("cut.jpg", {whole.begin(), whole.begin() + std::ptrdiff_t(keep)});
        TRecordingSink sink;
        try {
            DecodeFile(path.string(), Format("JPEG"), sink);
            ADD_FAILURE() << "decoded";
        } catch (const EInvalidImage& e) {
            EXPECT_EQ(e.Message(), "JPEG: the file is truncated");
        }
        EXPECT_FALSE(sink.ended);
    }
}

// Damaged entropy-coded data: libjpeg would go on with grey blocks; we stop
// with its message.
TEST(JpegErrors, DamagedScanDataIsRefused) {
    std::vector<std::uint8_t> bytes = ReadBytes(JpegCorpus() / "testorig.jpg");
    // An end-of-image marker in the middle of the scan: the data segment
    // ends before the picture does.
    const std::size_t middle = bytes.size() / 2;
    bytes[middle] = 0xFF;
    bytes[middle + 1] = 0xD9;
    const std::string message = DecodeError(WriteFixture("damaged.jpg", bytes), "JPEG");
    EXPECT_EQ(message.rfind("JPEG: Corrupt JPEG data", 0), 0u) << message;
}

// The size is checked after the header, before libjpeg allocates anything
// for the picture and before the sink hears of it.
TEST(JpegErrors, OversizedHeaderIsRefusedBeforeBegin) {
    std::vector<std::uint8_t> bytes = ReadBytes(JpegCorpus() / "testorig.jpg");
    // Find the SOF0 marker: FF C0, length, precision, height, width.
    std::size_t sof = 0;
    for (std::size_t i = 2; i + 9 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            sof = i;
            break;
        }
    ASSERT_NE(sof, 0u);
    // 30000 x 30000: within libjpeg's 65500 but beyond our pixel count.
    bytes[sof + 5] = bytes[sof + 7] = 0x75;
    bytes[sof + 6] = bytes[sof + 8] = 0x30;
    const fs::path path = WriteFixture("huge.jpg", bytes);
    TRecordingSink sink;
    try {
        DecodeFile(path.string(), Format("JPEG"), sink);
        ADD_FAILURE() << "decoded";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find("too large"), std::string::npos) << e.Message();
    }
    EXPECT_FALSE(sink.begun);
}

}  // namespace
