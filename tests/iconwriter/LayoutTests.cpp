// The file layout: every header field, at the sizes where the arithmetic has
// a corner (one-byte wrap at 256 and above, non-square, 1 x 1, 32 bits).

#include "Convert_func.h"
#include "Exception.h"
#include "IconTestSupport.h"

#include <gtest/gtest.h>

using namespace icontest;

namespace {

struct SizeCase {
    int width, height;
    TPixelFormat format;
    int bits;
    std::uint32_t colourSize, maskSize;
    int bWidth, bHeight;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
    *os << c.width << "x" << c.height << " at " << c.bits << " bits";
}

class IconLayout : public ::testing::TestWithParam<SizeCase> {};

TEST_P(IconLayout, HeaderFieldsAndSizesAreExact) {
    const SizeCase c = GetParam();
    const TIconImage icon = RenderIconEx(MakeSolid(3, 3, clTeal), c.width, c.height, false, clWhite, c.format);
    const Bytes file = icon.FileBytes();

    ASSERT_EQ(file.size(), 62u + c.colourSize + c.maskSize);
    EXPECT_EQ(icon.FileSize(), file.size());
    // Directory header.
    EXPECT_EQ(U16(file, 0), 0u);
    EXPECT_EQ(U16(file, 2), 1u);
    EXPECT_EQ(U16(file, 4), 1u);
    // Directory entry.
    EXPECT_EQ(file[6], c.bWidth);
    EXPECT_EQ(file[7], c.bHeight);
    EXPECT_EQ(file[8], 0);  // bColorCount
    EXPECT_EQ(file[9], 0);
    EXPECT_EQ(U16(file, 10), 1u);
    EXPECT_EQ(U16(file, 12), std::uint32_t(c.bits));
    EXPECT_EQ(U32(file, 14), c.colourSize + c.maskSize + 40);
    EXPECT_EQ(U32(file, 18), 22u);
    // Bitmap info header.
    EXPECT_EQ(U32(file, 22), 40u);
    EXPECT_EQ(I32(file, 26), c.width);
    EXPECT_EQ(I32(file, 30), 2 * c.height);
    EXPECT_EQ(U16(file, 34), 1u);
    EXPECT_EQ(U16(file, 36), std::uint32_t(c.bits));
    EXPECT_EQ(U32(file, 38), 0u);
    EXPECT_EQ(U32(file, 42), c.colourSize);
    for (std::size_t at = 46; at < 62; at += 4)
        EXPECT_EQ(U32(file, at), 0u) << "offset " << at;
    // Transparency off: the mask is all zero bytes.
    EXPECT_EQ(ReadIcon(file).MaskBytes(), Bytes(c.maskSize, 0));
}

// The table of worked sizes; every depth below 32 bits gives a 24-bit file.
INSTANTIATE_TEST_SUITE_P(
    WorkedSizes, IconLayout,
    ::testing::Values(SizeCase{16, 16, pf24bit, 24, 768, 64, 16, 16}, SizeCase{16, 16, pf32bit, 32, 1024, 64, 16, 16},
                      SizeCase{32, 32, pf24bit, 24, 3072, 128, 32, 32}, SizeCase{48, 48, pf24bit, 24, 6912, 384, 48, 48},
                      SizeCase{64, 64, pf24bit, 24, 12288, 512, 64, 64},
                      SizeCase{128, 128, pf24bit, 24, 49152, 2048, 128, 128},
                      SizeCase{256, 256, pf24bit, 24, 196608, 8192, 0, 0},
                      SizeCase{256, 256, pf32bit, 32, 262144, 8192, 0, 0},
                      SizeCase{300, 200, pf24bit, 24, 180000, 8000, 44, 200},
                      SizeCase{512, 2, pf24bit, 24, 3072, 128, 0, 2}, SizeCase{1, 1, pf24bit, 24, 4, 4, 1, 1},
                      SizeCase{1, 1, pf32bit, 32, 4, 4, 1, 1}, SizeCase{7, 3, pf32bit, 32, 84, 12, 7, 3},
                      SizeCase{33, 2, pf24bit, 24, 200, 16, 33, 2}, SizeCase{16, 16, pf1bit, 24, 768, 64, 16, 16},
                      SizeCase{16, 16, pf4bit, 24, 768, 64, 16, 16}, SizeCase{16, 16, pf8bit, 24, 768, 64, 16, 16},
                      SizeCase{16, 16, pf15bit, 24, 768, 64, 16, 16},
                      SizeCase{16, 16, pf16bit, 24, 768, 64, 16, 16}));

TEST(IconLayout, WorkedFileSizes) {
    struct {
        int size;
        std::uint32_t bytesInRes;
        std::size_t fileSize;
    } const cases[] = {{16, 872, 894}, {1, 48, 70}};
    for (const auto& c : cases) {
        const TIconImage icon = RenderIconEx(MakeSolid(2, 2, clGray), c.size, c.size, true, clGray, pf24bit);
        EXPECT_EQ(icon.Directory.IdEntries[0].dwBytesInRes, c.bytesInRes) << c.size;
        EXPECT_EQ(icon.FileBytes().size(), c.fileSize) << c.size;
    }
}

TEST(IconRecords, SerialiseFieldByFieldLittleEndian) {
    TIcondir dir;
    dir.idReserved = 0x0201;
    dir.idType = 0x0403;
    dir.idCount = 2;
    dir.IdEntries[0] = {0x11, 0x12, 0x13, 0x14, 0x1615, 0x1817, 0x1C1B1A19, 0x201F1E1D};
    dir.IdEntries[1] = {0x21, 0x22, 0x23, 0x24, 0x2625, 0x2827, 0x2C2B2A29, 0x302F2E2D};
    dir.IdEntries[2].bWidth = 0xEE;  // beyond idCount: never written

    Bytes expected = {0x01, 0x02, 0x03, 0x04, 0x02, 0x00};
    for (std::uint8_t base : {0x10, 0x20})
        for (std::uint8_t i = 1; i <= 16; ++i)
            expected.push_back(std::uint8_t(base + i));
    EXPECT_EQ(IconDirBytes(dir), expected);

    TBitmapInfoHeader header;
    header.biSize = 0x04030201;
    header.biWidth = -2;
    header.biHeight = 0x0C0B0A09;
    header.biPlanes = 0x0E0D;
    header.biBitCount = 0x100F;
    header.biCompression = 0x14131211;
    header.biSizeImage = 0x18171615;
    header.biXPelsPerMeter = 0x1C1B1A19;
    header.biYPelsPerMeter = 0x201F1E1D;
    header.biClrUsed = 0x24232221;
    header.biClrImportant = 0x28272625;
    std::array<std::uint8_t, 40> expectedHeader{};
    for (std::size_t i = 0; i < 40; ++i)
        expectedHeader[i] = std::uint8_t(i + 1);
    // biWidth -2 in two's complement.
    expectedHeader[4] = 0xFE;
    expectedHeader[5] = expectedHeader[6] = expectedHeader[7] = 0xFF;
    EXPECT_EQ(BitmapInfoHeaderBytes(header), expectedHeader);

    dir.idCount = 21;
    try {
        IconDirBytes(dir);
        ADD_FAILURE() << "21 images accepted";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "An icon directory holds at most 20 images");
    }
}

TEST(IconLayout, DIBSizeArithmeticIsChecked) {
    EXPECT_EQ(IconDIBSize(1, 1, 24), 4u);
    EXPECT_EQ(IconDIBSize(31, 3, 1), 12u);
    EXPECT_EQ(IconDIBSize(33, 3, 1), 24u);
    EXPECT_EQ(IconDIBSize(0, 5, 32), 0u);
    // Row sizes or totals beyond 32 bits are refused, not wrapped.
    EXPECT_THROW(IconDIBSize(0x7FFFFFFF, 1, 32), EOutOfResources);
    EXPECT_THROW(IconDIBSize(100000, 100000, 24), EOutOfResources);
    EXPECT_THROW(IconDIBSize(-1, 1, 24), EOutOfResources);
}

}  // namespace
