// The GIF decoder: which picture the first frame gives (the stored palette
// image or the composed 24-bit one), the fill under transparent pixels,
// offsets and clipping, the 32-bit straight-alpha picture for a sink that
// asks for it, the order of interlaced rows, and refusals. Fixtures
// are written by the tests with giflib's own encoder, or byte by byte where
// the encoder would not write the fault.

#include "CodecTestSupport.h"
#include "Exception.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

using namespace codectest;
namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// Writing fixtures

struct Frame {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlace = false;
    std::vector<TColor> local;   // the local colour table; empty for none
    int transparent = -1;        // transparent index; -1 for none
    std::vector<std::uint8_t> pixels;  // width x height indices, top row first
};

struct GifPicture {
    int width = 0, height = 0;
    std::vector<TColor> global;  // the global colour table; empty for none
    int background = 0;
    std::vector<Frame> frames;
};

constexpr TColor kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000, kYellow = 0x00FFFF;
constexpr TColor kGrey = 0x808080, kPurple = 0x800080;
const std::vector<TColor> kGlobal = {kRed, kGreen, kBlue, kYellow};
const std::vector<TColor> kLocal = {kGrey, kPurple};

// Table sizes must be powers of two, as GIF stores them.
ColorMapObject* MakeMap(const std::vector<TColor>& table) {
    if (table.empty()) return nullptr;
    std::vector<GifColorType> colours;
    for (TColor c : table) colours.push_back({GetRValue(c), GetGValue(c), GetBValue(c)});
    ColorMapObject* map = GifMakeMapObject(int(colours.size()), colours.data());
    EXPECT_NE(map, nullptr) << "a colour table of " << table.size() << " entries";
    return map;
}

// The rows of an interlaced frame in the order they are stored.
std::vector<int> InterlacedOrder(int height) {
    std::vector<int> order;
    const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < height; y += step[pass]) order.push_back(y);
    return order;
}

// Writes `picture` with giflib's encoder; returns the file's path.
fs::path WriteGif(const std::string& name, const GifPicture& picture) {
    const fs::path path = ScratchDir() / name;
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif) {
        ADD_FAILURE() << "EGifOpenFileName: " << GifErrorString(error);
        return path;
    }
    EGifSetGifVersion(gif, true);
    ColorMapObject* global = MakeMap(picture.global);
    EXPECT_EQ(EGifPutScreenDesc(gif, picture.width, picture.height, 8, picture.background, global), GIF_OK);
    GifFreeMapObject(global);
    for (const Frame& frame : picture.frames) {
        if (frame.transparent >= 0) {
            GraphicsControlBlock gcb{};
            gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
            gcb.TransparentColor = frame.transparent;
            GifByteType extension[4];
            const std::size_t length = EGifGCBToExtension(&gcb, extension);
            EXPECT_EQ(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(length), extension), GIF_OK);
        }
        ColorMapObject* local = MakeMap(frame.local);
        EXPECT_EQ(EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height, frame.interlace, local),
                  GIF_OK)
            << GifErrorString(gif->Error);
        GifFreeMapObject(local);
        std::vector<int> rows(std::size_t(frame.height));
        std::iota(rows.begin(), rows.end(), 0);
        if (frame.interlace) rows = InterlacedOrder(frame.height);
        for (int y : rows) {
            std::vector<GifPixelType> line(frame.pixels.begin() + std::ptrdiff_t(y) * frame.width,
                                           frame.pixels.begin() + std::ptrdiff_t(y + 1) * frame.width);
            EXPECT_EQ(EGifPutLine(gif, line.data(), frame.width), GIF_OK);
        }
    }
    EXPECT_EQ(EGifCloseFile(gif, &error), GIF_OK);
    return path;
}

// A frame of w x h pixels whose every pixel is `index`.
Frame Solid(int left, int top, int w, int h, std::uint8_t index) {
    Frame f;
    f.left = left, f.top = top, f.width = w, f.height = h;
    f.pixels.assign(std::size_t(w) * std::size_t(h), index);
    return f;
}

// Bytes of a one-frame GIF written by hand, for what giflib's encoder will
// not write: pixel indices beyond the colour table, no colour table at all.
// The LZW data sends every pixel as a literal code, with a clear code often
// enough that the code width never grows.
std::vector<std::uint8_t> HandMadeGif(int width, int height, const std::vector<TColor>& global, int codeSize,
                                      const std::vector<std::uint8_t>& pixels) {
    std::vector<std::uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    auto word = [&](int v) {
        out.push_back(std::uint8_t(v & 0xFF));
        out.push_back(std::uint8_t(v >> 8));
    };
    word(width);
    word(height);
    int tableBits = 0;
    while (!global.empty() && (2u << tableBits) < global.size()) ++tableBits;
    out.push_back(global.empty() ? 0x00 : std::uint8_t(0x80 | tableBits));
    out.push_back(0);  // background index
    out.push_back(0);  // aspect ratio
    for (TColor c : global) out.insert(out.end(), {GetRValue(c), GetGValue(c), GetBValue(c)});
    out.push_back(0x2C);
    word(0);
    word(0);
    word(width);
    word(height);
    out.push_back(0x00);  // no local table, not interlaced
    out.push_back(std::uint8_t(codeSize));

    const int clear = 1 << codeSize, bitsPerCode = codeSize + 1;
    const int literalsPerClear = std::max(1, clear - 3);
    std::vector<std::uint8_t> data;
    std::uint32_t bits = 0;
    int count = 0;
    auto put = [&](int code) {
        bits |= std::uint32_t(code) << count;
        for (count += bitsPerCode; count >= 8; count -= 8, bits >>= 8) data.push_back(std::uint8_t(bits));
    };
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (i % std::size_t(literalsPerClear) == 0) put(clear);
        put(pixels[i]);
    }
    put(clear + 1);
    if (count > 0) data.push_back(std::uint8_t(bits));
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, data.size() - at);
        out.push_back(std::uint8_t(n));
        out.insert(out.end(), data.begin() + std::ptrdiff_t(at), data.begin() + std::ptrdiff_t(at + n));
    }
    out.push_back(0);
    out.push_back(0x3B);
    return out;
}

Rgba RgbaOf(TColor c) { return {GetRValue(c), GetGValue(c), GetBValue(c), 255}; }

// ---------------------------------------------------------------------------
// Which picture the first frame gives, and its pixels

struct PixelCheck {
    int x, y;
    TColor colour;
};

struct CompositionCase {
    const char* name;
    GifPicture picture;
    TPixelFormat format;
    std::vector<PixelCheck> pixels;
};

// A 2 x 1 frame at (1, 1) on a 4 x 3 screen: index 0, then index 1.
Frame SmallFrame(std::vector<TColor> local = {}, int transparent = -1) {
    Frame f = Solid(1, 1, 2, 1, 0);
    f.pixels = {0, 1};
    f.local = std::move(local);
    f.transparent = transparent;
    return f;
}

std::vector<CompositionCase> CompositionCases() {
    std::vector<CompositionCase> cases;
    // Transparency and a global table: the background entry fills the
    // screen and shows through the transparent pixel.
    cases.push_back({"TransparentFillsWithBackground",
                     {4, 3, kGlobal, 2, {SmallFrame({}, 1)}},
                     pf24bit,
                     {{0, 0, kBlue}, {1, 1, kRed}, {2, 1, kBlue}, {3, 2, kBlue}, {0, 1, kBlue}}});
    // Transparency and no global table: white fill.
    cases.push_back({"TransparentWithoutGlobalTableFillsWhite",
                     {4, 3, {}, 2, {SmallFrame(kLocal, 1)}},
                     pf24bit,
                     {{0, 0, clWhite}, {1, 1, kGrey}, {2, 1, clWhite}, {3, 2, clWhite}}});
    // No transparency: the screen starts white whatever the background, and
    // the local table colours the frame.
    cases.push_back({"OpaqueSmallFrameStartsWhite",
                     {4, 3, kGlobal, 2, {SmallFrame(kLocal)}},
                     pf24bit,
                     {{0, 0, clWhite}, {1, 1, kGrey}, {2, 1, kPurple}, {3, 1, clWhite}, {1, 2, clWhite}}});
    // A transparent frame that covers the screen is composed as well.
    {
        Frame f = Solid(0, 0, 2, 2, 3);
        f.pixels = {0, 3, 3, 1};
        f.transparent = 3;
        cases.push_back({"TransparentWholeScreenFrame",
                         {2, 2, kGlobal, 1, {f}},
                         pf24bit,
                         {{0, 0, kRed}, {1, 0, kGreen}, {0, 1, kGreen}, {1, 1, kGreen}}});
    }
    // A frame reaching beyond the right and bottom edges is clipped.
    {
        Frame f = Solid(2, 2, 4, 4, 0);
        for (int i = 0; i < 16; ++i) f.pixels[std::size_t(i)] = std::uint8_t(i % 4);
        cases.push_back({"FrameClippedAtScreenEdges",
                         {4, 4, kGlobal, 0, {f}},
                         pf24bit,
                         {{1, 1, clWhite}, {2, 2, kRed}, {3, 2, kGreen}, {2, 3, kRed}, {3, 3, kGreen}, {0, 3, clWhite}}});
    }
    // A frame wholly outside the screen leaves the fill.
    cases.push_back({"FrameOutsideScreen",
                     {3, 2, kGlobal, 3, {[] {
                          Frame f = Solid(5, 0, 2, 2, 0);
                          f.transparent = 1;
                          return f;
                      }()}},
                     pf24bit,
                     {{0, 0, kYellow}, {2, 1, kYellow}}});
    // An opaque frame covering the screen is its stored palette image, with
    // the local table over the global one.
    {
        Frame f = Solid(0, 0, 2, 1, 0);
        f.pixels = {1, 0};
        f.local = kLocal;
        cases.push_back({"OpaqueWholeScreenFrameKeepsItsPalette",
                         {2, 1, kGlobal, 2, {f}},
                         pf8bit,
                         {{0, 0, kPurple}, {1, 0, kGrey}}});
    }
    // An animation gives its first frame only.
    cases.push_back({"AnimationGivesFirstFrame",
                     {2, 2, kGlobal, 0, {Solid(0, 0, 2, 2, 2), Solid(0, 0, 2, 2, 1), Solid(0, 0, 1, 1, 3)}},
                     pf8bit,
                     {{0, 0, kBlue}, {1, 1, kBlue}}});
    return cases;
}

TEST(GifPicture, FirstFrameComposition) {
    for (const CompositionCase& c : CompositionCases()) {
        SCOPED_TRACE(c.name);
        const TBitmap bitmap = Decode(WriteGif(std::string(c.name) + ".gif", c.picture), "GIF");
        ASSERT_EQ(bitmap.Width(), c.picture.width);
        ASSERT_EQ(bitmap.Height(), c.picture.height);
        EXPECT_EQ(bitmap.PixelFormat(), c.format);
        for (const PixelCheck& p : c.pixels)
            EXPECT_EQ(PixelOf(bitmap, p.x, p.y), RgbaOf(p.colour)) << "pixel " << p.x << ", " << p.y;
    }
}

TEST(GifPicture, PaletteImageHasTheFramesTable) {
    Frame f = Solid(0, 0, 3, 1, 1);
    const TBitmap withGlobal = Decode(WriteGif("global-table.gif", {3, 1, kGlobal, 0, {f}}), "GIF");
    EXPECT_EQ(withGlobal.Palette(), kGlobal);
    f.local = kLocal;
    const TBitmap withLocal = Decode(WriteGif("local-table.gif", {3, 1, kGlobal, 0, {f}}), "GIF");
    EXPECT_EQ(withLocal.Palette(), kLocal);
    EXPECT_EQ(withLocal.ScanLine(0)[2], 1);
}

// Indices beyond a two-entry table read as black, in both kinds of picture;
// the palette image keeps the file's table as its palette.
TEST(GifPicture, IndicesBeyondTheTableAreBlack) {
    const std::vector<std::uint8_t> pixels = {0, 1, 2, 3};
    const TBitmap plain = DecodeBytes(HandMadeGif(4, 1, {kRed, kGreen}, 2, pixels), "GIF");
    EXPECT_EQ(plain.PixelFormat(), pf8bit);
    EXPECT_EQ(plain.Palette(), (std::vector<TColor>{kRed, kGreen}));
    EXPECT_EQ(PixelOf(plain, 1, 0), RgbaOf(kGreen));
    EXPECT_EQ(PixelOf(plain, 2, 0), RgbaOf(clBlack));
    EXPECT_EQ(PixelOf(plain, 3, 0), RgbaOf(clBlack));

    // The same pixels in a frame with a transparent index: composed.
    std::vector<std::uint8_t> bytes = HandMadeGif(4, 1, {kRed, kGreen}, 2, pixels);
    const std::vector<std::uint8_t> gce = {0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x01, 0x00};  // index 1 transparent
    bytes.insert(bytes.begin() + 13 + 6, gce.begin(), gce.end());
    const TBitmap composed = DecodeBytes(bytes, "GIF");
    EXPECT_EQ(composed.PixelFormat(), pf24bit);
    EXPECT_EQ(PixelOf(composed, 0, 0), RgbaOf(kRed));
    EXPECT_EQ(PixelOf(composed, 1, 0), RgbaOf(kRed));  // the background entry 0 shows
    EXPECT_EQ(PixelOf(composed, 2, 0), RgbaOf(clBlack));
    EXPECT_EQ(PixelOf(composed, 3, 0), RgbaOf(clBlack));
}

TEST(GifPicture, NoColourTableReadsAsGrey) {
    const TBitmap bitmap = DecodeBytes(HandMadeGif(3, 1, {}, 8, {0, 7, 255}), "GIF");
    EXPECT_EQ(bitmap.PixelFormat(), pf8bit);
    EXPECT_EQ(bitmap.Palette().size(), 256u);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(PixelOf(bitmap, 1, 0), (Rgba{7, 7, 7, 255}));
    EXPECT_EQ(PixelOf(bitmap, 2, 0), (Rgba{255, 255, 255, 255}));
}

// ---------------------------------------------------------------------------
// Straight alpha for a sink that asks for it: transparent pixels and the
// screen outside the frame are transparent black, as browsers show them.

constexpr Rgba kClear = {0, 0, 0, 0};

struct StraightCase {
    const char* name;
    GifPicture picture;
    bool straight;  // false: the stored palette image, as without asking
    std::vector<std::pair<std::pair<int, int>, Rgba>> pixels;
};

std::vector<StraightCase> StraightCases() {
    std::vector<StraightCase> cases;
    // The transparent index is the background index: without asking, the
    // background colour fills the hole; here it stays a hole.
    {
        Frame f = Solid(0, 0, 3, 1, 0);
        f.pixels = {1, 2, 1};
        f.transparent = 1;
        cases.push_back({"TransparentIndexIsTheBackground",
                         {3, 1, kGlobal, 1, {f}},
                         true,
                         {{{0, 0}, kClear}, {{1, 0}, RgbaOf(kBlue)}, {{2, 0}, kClear}}});
    }
    // An opaque frame smaller than the screen: everything around it is
    // transparent, whatever the background.
    cases.push_back({"FrameSmallerThanTheScreen",
                     {4, 3, kGlobal, 2, {SmallFrame(kLocal)}},
                     true,
                     {{{0, 0}, kClear},
                      {{1, 1}, RgbaOf(kGrey)},
                      {{2, 1}, RgbaOf(kPurple)},
                      {{3, 1}, kClear},
                      {{1, 2}, kClear},
                      {{0, 1}, kClear}}});
    // A small transparent frame with its own table and no global one.
    cases.push_back({"TransparentSmallFrameWithLocalTable",
                     {4, 3, {}, 0, {SmallFrame(kLocal, 1)}},
                     true,
                     {{{0, 0}, kClear}, {{1, 1}, RgbaOf(kGrey)}, {{2, 1}, kClear}, {{3, 2}, kClear}}});
    // Clipped at the right and bottom edges, index 1 transparent.
    {
        Frame f = Solid(2, 2, 4, 4, 0);
        for (int i = 0; i < 16; ++i) f.pixels[std::size_t(i)] = std::uint8_t(i % 4);
        f.transparent = 1;
        cases.push_back({"FrameClippedAtScreenEdges",
                         {4, 4, kGlobal, 0, {f}},
                         true,
                         {{{1, 1}, kClear}, {{2, 2}, RgbaOf(kRed)}, {{3, 2}, kClear}, {{2, 3}, RgbaOf(kRed)},
                          {{0, 3}, kClear}}});
    }
    // An opaque frame covering the screen has no opacity: the palette image.
    cases.push_back({"OpaqueWholeScreenFrame", {2, 1, kGlobal, 1, {Solid(0, 0, 2, 1, 2)}}, false,
                     {{{0, 0}, RgbaOf(kBlue)}, {{1, 0}, RgbaOf(kBlue)}}});
    return cases;
}

TEST(GifStraight, HolesAndTheScreenAroundTheFrameAreTransparent) {
    for (const StraightCase& c : StraightCases()) {
        SCOPED_TRACE(c.name);
        const StraightPicture got = DecodeStraight(WriteGif(std::string(c.name) + ".gif", c.picture), "GIF");
        ASSERT_EQ(got.bitmap.Width(), c.picture.width);
        ASSERT_EQ(got.bitmap.Height(), c.picture.height);
        EXPECT_EQ(got.info.StraightAlpha, c.straight);
        EXPECT_EQ(got.info.HasAlpha, c.straight);
        EXPECT_EQ(got.info.Format, c.straight ? pf32bit : pf8bit);
        for (const auto& [at, want] : c.pixels)
            EXPECT_EQ(got.At(at.first, at.second), want) << "pixel " << at.first << ", " << at.second;
    }
}

// Indices beyond the table are opaque black in the straight picture too.
TEST(GifStraight, IndicesBeyondTheTableAreOpaqueBlack) {
    std::vector<std::uint8_t> bytes = HandMadeGif(4, 1, {kRed, kGreen}, 2, {0, 1, 2, 3});
    const std::vector<std::uint8_t> gce = {0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x01, 0x00};  // index 1 transparent
    bytes.insert(bytes.begin() + 13 + 6, gce.begin(), gce.end());
    const StraightPicture got = DecodeStraightBytes(bytes, "GIF");
    ASSERT_TRUE(got.info.StraightAlpha);
    EXPECT_EQ(got.At(0, 0), RgbaOf(kRed));
    EXPECT_EQ(got.At(1, 0), kClear);
    EXPECT_EQ(got.At(2, 0), RgbaOf(clBlack));
    EXPECT_EQ(got.At(3, 0), RgbaOf(clBlack));
}

// ---------------------------------------------------------------------------
// Row order

// Every row gets its own index so that a row put in the wrong place shows.
Frame Striped(int left, int top, int width, int height, bool interlace) {
    Frame f = Solid(left, top, width, height, 0);
    f.interlace = interlace;
    for (int y = 0; y < height; ++y)
        std::fill_n(f.pixels.begin() + std::ptrdiff_t(y) * width, width, std::uint8_t(y % 4));
    return f;
}

struct OrderCase {
    const char* name;
    GifPicture picture;
    std::vector<int> order;
};

TEST(GifRows, DeliveredInStoredOrder) {
    const OrderCase cases[] = {
        {"Interlaced", {3, 10, kGlobal, 0, {Striped(0, 0, 3, 10, true)}}, {0, 8, 4, 2, 6, 1, 3, 5, 7, 9}},
        // Composed: fill rows above, the frame's rows in pass order, the rows
        // below.
        {"InterlacedComposed", {2, 12, kGlobal, 0, {Striped(0, 2, 2, 9, true)}},
         {0, 1, 2, 10, 6, 4, 8, 3, 5, 7, 9, 11}},
        // Rows beyond the bottom edge are read and dropped.
        {"ClippedBelow", {2, 4, kGlobal, 0, {Striped(1, 2, 2, 5, false)}}, {0, 1, 2, 3}},
        {"ClippedInterlaced", {2, 4, kGlobal, 0, {Striped(0, 1, 2, 6, true)}}, {0, 1, 3, 2}},
    };
    for (const OrderCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = WriteGif(std::string(c.name) + ".gif", c.picture);
        TRecordingSink sink;
        DecodeFile(path.string(), Format("GIF"), sink);
        EXPECT_TRUE(sink.ended);
        EXPECT_EQ(sink.order, c.order);

        // Each row holds its own stripe colour or the fill.
        const TBitmap bitmap = Decode(path, "GIF");
        const Frame& f = c.picture.frames[0];
        for (int y = 0; y < c.picture.height; ++y) {
            const int frameRow = y - f.top;
            const TColor want = frameRow >= 0 && frameRow < f.height ? kGlobal[std::size_t(frameRow % 4)] : clWhite;
            EXPECT_EQ(PixelOf(bitmap, c.picture.width - 1, y), RgbaOf(want)) << "row " << y;
        }
    }
}

// ---------------------------------------------------------------------------
// Refusals

std::vector<std::uint8_t> Cut(std::vector<std::uint8_t> bytes, std::size_t keep) {
    bytes.resize(std::min(keep, bytes.size()));
    return bytes;
}

std::string DecodeBytesError(const std::vector<std::uint8_t>& bytes) {
    try {
        DecodeBytes(bytes, "GIF");
    } catch (const EInvalidImage& e) {
        return e.Message();
    }
    ADD_FAILURE() << "decoded without an error";
    return "";
}

TEST(GifErrors, RefusedWithTheirReason) {
    // A 64 x 64 frame of varied pixels, so that its LZW data is long.
    Frame noisy = Solid(0, 0, 64, 64, 0);
    for (std::size_t i = 0; i < noisy.pixels.size(); ++i) noisy.pixels[i] = std::uint8_t((i * 7 + i / 5) % 4);
    const std::vector<std::uint8_t> good = ReadBytes(WriteGif("noisy.gif", {64, 64, kGlobal, 0, {noisy}}));
    ASSERT_GT(good.size(), 200u);
    const std::vector<std::uint8_t> header = Cut(good, 13 + 12);  // signature, screen, global table

    std::vector<std::uint8_t> onlyTerminator = header;
    onlyTerminator.push_back(0x3B);
    std::vector<std::uint8_t> unknownRecord = header;
    unknownRecord.push_back(0x99);
    std::vector<std::uint8_t> shortGce = header;
    shortGce.insert(shortGce.end(), {0x21, 0xF9, 0x03, 0x01, 0x00, 0x00, 0x00});
    std::vector<std::uint8_t> hugeFrame = header;
    hugeFrame.insert(hugeFrame.end(), {0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x02});
    std::vector<std::uint8_t> notGif = good;
    notGif[0] = 'J';
    std::vector<std::uint8_t> zeroWidth = good;
    zeroWidth[6] = zeroWidth[7] = 0;
    // The LZW data of a 2 x 2 frame ends (end code) after 3 pixels.
    const std::vector<std::uint8_t> endsEarly = HandMadeGif(2, 2, kGlobal, 2, {0, 1, 2});
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::string message;
    } cases[] = {
        {"NotGif", notGif, "GIF: Data is not in GIF format"},
        {"CutInGlobalTable", Cut(good, 13 + 5), "GIF: truncated screen descriptor or global colour table"},
        {"CutInSignature", Cut(good, 4), "GIF: the file ends too early"},
        {"CutAfterHeader", header, "GIF: the file ends too early"},
        {"NoImage", onlyTerminator, "GIF: no image in the file"},
        {"UnknownRecord", unknownRecord, "GIF: Wrong record type detected"},
        {"ShortGraphicsControl", shortGce, "GIF: malformed graphics control extension"},
        {"CutInImageData", Cut(good, good.size() / 2), "GIF: truncated image data"},
        {"CutBeforeDataEnd", Cut(good, good.size() - 2), "GIF: truncated image data"},
        {"LzwEndsEarly", endsEarly, "GIF: Image EOF detected before image complete"},
        {"HugeFrame", hugeFrame, "GIF: frame of 65535 x 65535 pixels is too large"},
        {"ZeroWidth", zeroWidth, "The picture has no pixels (0 x 64)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodeBytesError(c.bytes), c.message);
    }
}

// A refused file never reaches End, whatever rows came before the fault.
TEST(GifErrors, TruncatedFileNeverEnds) {
    const std::vector<std::uint8_t> good =
        ReadBytes(WriteGif("striped.gif", {8, 40, kGlobal, 0, {Striped(0, 0, 8, 40, false)}}));
    const std::vector<std::uint8_t> cut = Cut(good, good.size() - 4);
    TRecordingSink sink;
    EXPECT_THROW(DecodeMemory(cut.data(), cut.size(), Format("GIF"), sink), EInvalidImage);
    EXPECT_FALSE(sink.ended);
}

// ---------------------------------------------------------------------------
// The public test pictures

struct CorpusCase {
    const char* file;
    int width, height;
    TPixelFormat format;
    // Composed pictures: the first frame's place and the fill colour.
    int left, top, frameWidth, frameHeight;
    TColor fill;
    bool transparentIndex = false;  // the first frame has a transparent colour
};

const CorpusCase kCorpus[] = {
    {"sample_1.gif", 10, 10, pf8bit, 0, 0, 10, 10, 0},
    {"interlaced.gif", 32, 32, pf8bit, 0, 0, 32, 32, 0},
    // Transparent whole-screen frame: the global background (blue) fills.
    {"alpha_gif_a.gif", 256, 256, pf24bit, 0, 0, 256, 256, kBlue, true},
    {"any-disposal.gif", 32, 32, pf24bit, 5, 10, 16, 16, clBlack, true},
    {"mixed-disposal.gif", 32, 32, pf24bit, 5, 10, 16, 16, clBlack, true},
    // Opaque frames smaller than the screen: white around them.
    {"border_touching_layers.gif", 100, 100, pf24bit, 0, 25, 100, 50, clWhite},
    {"issue_1455_undersized.gif", 100, 100, pf24bit, 0, 0, 50, 50, clWhite},
    // A 16 x 16 frame on a 10 x 10 screen, and one at (24, 24) on 32 x 32:
    // clipped to the screen.
    {"issue_1455_oversized.gif", 10, 10, pf24bit, 0, 0, 16, 16, clBlack, true},
    {"oob.gif", 32, 32, pf24bit, 24, 24, 16, 16, clBlack, true},
    {"large-gif-anim-combine.gif", 1000, 1000, pf24bit, 370, 130, 630, 870, 0xDEDCD3, true},
    {"large-gif-anim-full-frame-replace.gif", 1000, 1000, pf24bit, 0, 0, 1000, 1000, 0xDEDCD3, true},
};

TEST(GifCorpus, MatchesPillowByOurRule) {
    const fs::path dir = CorpusDir() / "image-rs" / "gif";
    std::size_t listed = 0;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".gif") ++listed;
    EXPECT_EQ(listed, std::size(kCorpus)) << "a corpus file without an expected result";

    for (const CorpusCase& c : kCorpus) {
        SCOPED_TRACE(c.file);
        const fs::path path = dir / c.file;
        const TBitmap bitmap = Decode(path, "GIF");
        ASSERT_EQ(bitmap.Width(), c.width);
        ASSERT_EQ(bitmap.Height(), c.height);
        ASSERT_EQ(bitmap.PixelFormat(), c.format);

        // Pillow widens the canvas to hold frames beyond the screen, but
        // keeps the screen's coordinates. Within the frame it gives the
        // frame's colours, transparent pixels with opacity 0: those show our
        // fill. Outside the frame we expect the fill.
        const ReferenceImage reference = ReadWithPillow(path);
        ASSERT_GE(reference.width, c.width);
        ASSERT_GE(reference.height, c.height);
        int mismatches = 0;
        for (int y = 0; y < c.height && mismatches < 5; ++y)
            for (int x = 0; x < c.width && mismatches < 5; ++x) {
                const bool inFrame =
                    x >= c.left && x < c.left + c.frameWidth && y >= c.top && y < c.top + c.frameHeight;
                Rgba want = RgbaOf(c.fill);
                if (inFrame && reference.At(x, y).a != 0) want = reference.At(x, y);
                ASSERT_EQ(want.a, 255) << "Pillow gave partial opacity";
                const Rgba got = PixelOf(bitmap, x, y);
                if (got != want) {
                    ++mismatches;
                    ADD_FAILURE() << "pixel " << x << ", " << y << ": ours " << int(got.r) << "," << int(got.g) << ","
                                  << int(got.b) << " expected " << int(want.r) << "," << int(want.g) << ","
                                  << int(want.b);
                }
            }

        // Every row reaches the sink once.
        TRecordingSink sink;
        DecodeFile(path.string(), Format("GIF"), sink);
        EXPECT_TRUE(sink.ended);
        std::vector<int> rows = sink.order;
        std::sort(rows.begin(), rows.end());
        std::vector<int> all(std::size_t(c.height));
        std::iota(all.begin(), all.end(), 0);
        EXPECT_EQ(rows, all);
    }
}

// Read for a sink that wants straight alpha: a file whose first frame has a
// transparent colour is transparent exactly where Pillow's first frame is
// (Pillow, like browsers, also clears the screen outside the frame then); a
// smaller opaque frame is transparent exactly outside its place, where Pillow
// shows its own fill. Every other pixel has Pillow's colour, opaque. A frame
// that covers the screen without a transparent colour gives the palette
// image as without asking.
TEST(GifCorpus, StraightAlphaMatchesPillow) {
    int compared = 0;
    for (const CorpusCase& c : kCorpus) {
        SCOPED_TRACE(c.file);
        const fs::path path = CorpusDir() / "image-rs" / "gif" / c.file;
        const StraightPicture got = DecodeStraight(path, "GIF");
        ASSERT_EQ(got.bitmap.Width(), c.width);
        ASSERT_EQ(got.bitmap.Height(), c.height);
        if (c.format == pf8bit) {
            EXPECT_FALSE(got.info.StraightAlpha);
            EXPECT_EQ(got.info.Format, pf8bit);
            continue;
        }
        ASSERT_TRUE(got.info.StraightAlpha);
        ASSERT_EQ(got.info.Format, pf32bit);
        const ReferenceImage reference = ReadWithPillow(path);
        ASSERT_GE(reference.width, c.width);
        ASSERT_GE(reference.height, c.height);
        int mismatches = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const bool inFrame =
                    x >= c.left && x < c.left + c.frameWidth && y >= c.top && y < c.top + c.frameHeight;
                const Rgba pillow = reference.At(x, y);
                const bool clear = c.transparentIndex ? pillow.a == 0 : !inFrame;
                const Rgba want = clear ? kClear : Rgba{pillow.r, pillow.g, pillow.b, 255};
                if (!clear) {
                    ASSERT_EQ(pillow.a, 255) << "Pillow gave partial opacity";
                }
                const Rgba g = got.At(x, y);
                if (g != want && ++mismatches <= 3)
                    ADD_FAILURE() << "pixel " << x << ", " << y << ": ours " << int(g.r) << "," << int(g.g) << ","
                                  << int(g.b) << "," << int(g.a) << " expected " << int(want.r) << "," << int(want.g)
                                  << "," << int(want.b) << "," << int(want.a);
            }
        EXPECT_EQ(mismatches, 0);
        ++compared;
    }
    std::printf("compared %d composed pictures\n", compared);
}

}  // namespace
