// The format table and the extension rule the loader applies to a path that
// the window has already lower-cased.

#include "CodecTestSupport.h"
#include "Exception.h"
#include "ImageLimits.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace codectest;

namespace {

struct ExtensionCase {
    const char* path;
    const char* extension;
    const char* format;  // null: not a picture the program reads
};

const ExtensionCase kExtensionCases[] = {
    {"/home/u/photo.jpg", ".jpg", "JPEG"},
    {"a.jpeg", ".jpeg", "JPEG"},
    {"a.png", ".png", "PNG"},
    {"a.bmp", ".bmp", "BMP"},
    {"a.gif", ".gif", "GIF"},
    {"a.ico", ".ico", "ICO"},
    {"a.jpe", ".jpe", nullptr},
    {"a.tif", ".tif", nullptr},
    {"a.tiff", ".tiff", nullptr},
    {"a.wmf", ".wmf", nullptr},
    {"a.emf", ".emf", nullptr},
    {"a.bmp.txt", ".txt", nullptr},
    {"noextension", "", nullptr},
    {"c:\\x.png\\photo", "", nullptr},      // the dot stands in a folder name
    {"c:photo", "", nullptr},               // a colon ends the search too
    {"/tmp/x.png/photo", ".png/photo", nullptr},  // a forward slash is no separator
    {"trailing.", ".", nullptr},
    {"/tmp/\xc3\xa9t\xc3\xa9.png", ".png", "PNG"},
};

class ExtensionTest : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(ExtensionTest, PathGivesExtensionAndFormat) {
    const ExtensionCase& c = GetParam();
    EXPECT_EQ(ExtensionOf(c.path), c.extension);
    const TImageFormat* format = FormatForExtension(ExtensionOf(c.path));
    if (c.format == nullptr) {
        EXPECT_EQ(format, nullptr);
    } else {
        ASSERT_NE(format, nullptr);
        EXPECT_STREQ(format->Name, c.format);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, ExtensionTest, ::testing::ValuesIn(kExtensionCases));

TEST(FormatTable, FormatsInTestingOrderWithTheirExtensions) {
    std::vector<std::tuple<std::string, std::vector<std::string_view>>> seen;
    for (const TImageFormat& format : ImageFormats()) seen.emplace_back(format.Name, format.Extensions);
    const decltype(seen) expected = {{"BMP", {".bmp"}},
                                     {"JPEG", {".jpg", ".jpeg"}},
                                     {"PNG", {".png"}},
                                     {"GIF", {".gif"}},
                                     {"ICO", {".ico"}}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(FormatForExtension(".JPG"), nullptr) << "the caller lower-cases";
}

TEST(FormatTable, OpeningFailuresNameTheFile) {
    const auto missing = ScratchDir() / "missing.png";
    try {
        Decode(missing, "PNG");
        FAIL() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file \"" + missing.string() + "\". No such file or directory");
    }
    try {
        Decode(ScratchDir(), "PNG");
        FAIL() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_NE(e.Message().find("Is a directory"), std::string::npos) << e.Message();
    }
    const auto empty = WriteFixture("empty.gif", {});
    EXPECT_EQ(DecodeError(empty, "GIF"), "GIF: the file is empty");
}

struct LimitCase {
    int width, height, bits;
    const char* message;  // null: accepted
};

const LimitCase kLimitCases[] = {
    {1, 1, 32, nullptr},
    {65535, 1, 32, nullptr},
    {16384, 16384, 32, nullptr},
    {0, 5, 24, "The picture has no pixels (0 x 5)"},
    {5, -1, 24, "The picture has no pixels (5 x -1)"},
    {65536, 1, 8, "The picture is too large (65536 x 1 pixels; at most 65535 on a side)"},
    {20000, 20000, 8, "The picture is too large (20000 x 20000 pixels; at most 268435456 in all)"},
    {16385, 16384, 32, "The picture is too large (16385 x 16384 pixels; at most 268435456 in all)"},
};

class LimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(LimitTest, SizeIsCheckedBeforeAllocating) {
    const LimitCase& c = GetParam();
    if (c.message == nullptr) {
        EXPECT_NO_THROW(CheckImageLimits(c.width, c.height, c.bits));
        return;
    }
    try {
        CheckImageLimits(c.width, c.height, c.bits);
        FAIL() << "accepted";
    } catch (const EInvalidImage& e) {
        EXPECT_EQ(e.Message(), c.message);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, LimitTest, ::testing::ValuesIn(kLimitCases));

}  // namespace
