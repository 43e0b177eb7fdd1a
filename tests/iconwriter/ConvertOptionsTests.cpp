// The conversion rules shared by the window and the command-line converter:
// reading typed sizes, the two option lists, the output name and the colour.

#include "ConvertOptions.h"
#include "Exception.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct IntCase {
    const char* text;
    std::optional<std::int32_t> value;  // nothing: refused
};

void PrintTo(const IntCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class StrToIntCases : public ::testing::TestWithParam<IntCase> {};

TEST_P(StrToIntCases, ReadsOrRefusesWithTheTextInTheMessage) {
    const IntCase c = GetParam();
    if (c.value) {
        EXPECT_EQ(StrToInt(c.text), *c.value);
        return;
    }
    try {
        const std::int32_t got = StrToInt(c.text);
        ADD_FAILURE() << "accepted as " << got;
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), std::string("''") + c.text + "'' is not a valid integer value");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Decimal, StrToIntCases,
    ::testing::Values(IntCase{"32", 32}, IntCase{" 32", 32}, IntCase{"   -7", -7}, IntCase{"+16", 16},
                      IntCase{"0", 0}, IntCase{"-0", 0}, IntCase{"007", 7}, IntCase{"2147483647", 2147483647},
                      IntCase{"-2147483648", INT32_MIN}, IntCase{"2147483648", {}},
                      IntCase{"-2147483649", {}}, IntCase{"99999999999", {}}, IntCase{"32 ", {}},
                      IntCase{"", {}}, IntCase{" ", {}}, IntCase{"-", {}}, IntCase{"+-1", {}},
                      IntCase{"- 1", {}}, IntCase{"abc", {}}, IntCase{"1e3", {}}, IntCase{"3.0", {}},
                      IntCase{"\t32", {}}, IntCase{"1,000", {}}));

INSTANTIATE_TEST_SUITE_P(
    Hexadecimal, StrToIntCases,
    ::testing::Values(IntCase{"$20", 32}, IntCase{"x20", 32}, IntCase{"X20", 32}, IntCase{"0x20", 32},
                      IntCase{"0X1f", 31}, IntCase{" $ff", 255}, IntCase{"-$10", -16}, IntCase{"+x10", 16},
                      IntCase{"$7FFFFFFF", 2147483647}, IntCase{"$80000000", INT32_MIN},
                      IntCase{"$FFFFFFFF", -1}, IntCase{"-$FFFFFFFF", 1}, IntCase{"$000000020", 32},
                      IntCase{"$100000000", {}}, IntCase{"$", {}}, IntCase{"0x", {}}, IntCase{"$g", {}},
                      IntCase{"$20 ", {}}, IntCase{"$ 20", {}}, IntCase{"0$20", {}}, IntCase{"20h", {}}));

TEST(OutputSize, FixedEntriesOriginalSizeAndCustomTexts) {
    struct {
        int item;
        TIconSize expected;
    } const cases[] = {
        {0, {300, 200}}, {1, {16, 16}},   {2, {32, 32}},   {3, {48, 48}},  {4, {64, 64}},
        {5, {128, 128}}, {6, {256, 256}}, {7, {-5, 40}},   {-1, {-5, 40}}, {8, {-5, 40}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(OutputSize(c.item, 300, 200, "-5", " $28"), c.expected) << "item " << c.item;
}

TEST(OutputSize, FixedEntriesDoNotReadTheTexts) {
    for (int item = 0; item < CustomSizeItem; ++item)
        EXPECT_NO_THROW(OutputSize(item, 10, 10, "abc", "")) << "item " << item;
}

TEST(OutputSize, CustomReportsTheWidthBeforeTheHeight) {
    struct {
        const char* width;
        const char* height;
        const char* message;
    } const cases[] = {
        {"abc", "def", "''abc'' is not a valid integer value"},
        {"", "x", "'''' is not a valid integer value"},
        {"16", "32 ", "''32 '' is not a valid integer value"},
    };
    for (const auto& c : cases) {
        try {
            OutputSize(CustomSizeItem, 1, 1, c.width, c.height);
            ADD_FAILURE() << "accepted " << c.width << " x " << c.height;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

TEST(NeedsSizeConfirmation, AsksOnlyAbove256OnEitherSide) {
    struct {
        TIconSize size;
        bool asks;
    } const cases[] = {
        {{256, 256}, false}, {{257, 16}, true}, {{16, 300}, true},   {{300, 200}, true},
        {{0, 0}, false},     {{-1, -1}, false}, {{INT32_MAX, 1}, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NeedsSizeConfirmation(c.size), c.asks) << c.size.Width << " x " << c.size.Height;
}

TEST(OutputPixelFormat, FollowsTheListAndDefaultsTo24Bits) {
    const TPixelFormat expected[] = {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit};
    for (int item = 0; item < 7; ++item)
        EXPECT_EQ(OutputPixelFormat(item), expected[item]) << DepthItems[std::size_t(item)].Text;
    EXPECT_EQ(OutputPixelFormat(-1), pf24bit);
    EXPECT_EQ(OutputPixelFormat(7), pf24bit);
    EXPECT_STREQ(DepthItems[DefaultDepthItem].Text, "24bit");
}

TEST(IconFileName, ReplacesTheExtensionOfTheLastPartOnly) {
    struct {
        const char* given;
        const char* expected;
    } const cases[] = {
        {"/home/u/picture.png", "/home/u/picture.ico"},
        {"/home/u/picture", "/home/u/picture.ico"},
        {"/home/u/icon.ICO", "/home/u/icon.ico"},
        {"/home/u/a.b/c", "/home/u/a.b/c.ico"},
        {"/home/u/photo.tar.gz", "/home/u/photo.tar.ico"},
        {"/home/u/picture.", "/home/u/picture.ico"},
        {"picture.jpeg", "picture.ico"},
        {"", ".ico"},
        {"/home/u/ünï.bmp", "/home/u/ünï.ico"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IconFileName(c.given), c.expected) << c.given;
}

TEST(ConvertColor, TheSwatchOnlyWhenTransparencyIsUsed) {
    EXPECT_EQ(ConvertColor(true, clTeal, clWhite), clTeal);
    EXPECT_EQ(ConvertColor(false, clTeal, clWhite), clWhite);
}

}  // namespace
