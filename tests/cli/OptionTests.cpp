// gloxen-convert's options: each choice reaches the conversion core as the
// settings it names, icons land under the documented names, and every wrong
// command line ends with status 2 before anything is written.

#include "CliTestSupport.h"
#include "PictureConverter.h"

#include <gtest/gtest.h>

using namespace clitest;

namespace {

constexpr TColor kBlue = RGBColor(0x33, 0x66, 0xCC);
constexpr TColor kOrange = RGBColor(0xE0, 0x70, 0x10);

// 7 x 5 with many colours and stripes of kBlue, so that every depth and every
// transparent colour changes the icon. The top-left pixel is `corner`.
Bytes Picture(TColor corner) {
    return Bmp24(7, 5, [corner](int x, int y) -> TColor {
        if (x == 0 && y == 0)
            return corner;
        if ((x + y) % 3 == 0)
            return kBlue;
        return RGBColor(std::uint8_t(37 * x + 11), std::uint8_t(53 * y + 7), std::uint8_t(29 * (x ^ y) + 3));
    });
}

TConvertSettings Defaults() { return {}; }
TConvertSettings Sized(int w, int h, bool allowLarge = false) {
    TConvertSettings s;
    s.Sizes = {TSizeChoice{false, {w, h}}};
    s.AllowLarge = allowLarge;
    return s;
}
TConvertSettings Depth(TPixelFormat depth) {
    TConvertSettings s;
    s.Depth = depth;
    return s;
}
TConvertSettings Transparent(TTransparencyChoice choice, TColor colour = clBlack) {
    TConvertSettings s;
    s.Transparency = choice;
    s.Colour = colour;
    return s;
}

struct OptionCase {
    const char* name;
    std::vector<std::string> args;
    TColor corner;  // the picture's top-left pixel
    TConvertSettings settings;
    bool changesIcon;  // whether the icon differs from the one the defaults give
};

void PrintTo(const OptionCase& c, std::ostream* os) { *os << c.name; }

class Options : public ScratchTest, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(Options, WriteTheBytesOfTheCoreWithTheSameSettings) {
    const OptionCase& c = GetParam();
    const fs::path picture = Put("picture.bmp", Picture(c.corner));
    const Bytes expected = ConvertPicture(picture.string(), c.settings).FileBytes();
    // A case whose settings give the default icon could not tell an ignored
    // option from an honoured one.
    EXPECT_EQ(expected != ConvertPicture(picture.string(), Defaults()).FileBytes(), c.changesIcon);

    std::vector<std::string> args = c.args;
    args.push_back("picture.bmp");
    const TRun run = RunConvert(Root(), args);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(ReadFile(Path("picture.ico")), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, Options,
    ::testing::Values(
        OptionCase{"defaults_black_corner", {}, clBlack, Defaults(), false},
        OptionCase{"defaults_coloured_corner", {}, kOrange, Defaults(), false},
        OptionCase{"size_original", {"--size", "original"}, clBlack, Defaults(), false},
        OptionCase{"size_16", {"--size", "16"}, clBlack, Sized(16, 16), true},
        OptionCase{"size_32", {"--size", "32"}, clBlack, Sized(32, 32), true},
        OptionCase{"size_48", {"--size", "48"}, clBlack, Sized(48, 48), true},
        OptionCase{"size_64", {"--size", "64"}, clBlack, Sized(64, 64), true},
        OptionCase{"size_128", {"--size", "128"}, clBlack, Sized(128, 128), true},
        OptionCase{"size_256", {"--size", "256"}, clBlack, Sized(256, 256), true},
        OptionCase{"size_w_by_h", {"--size", "40x3"}, clBlack, Sized(40, 3), true},
        OptionCase{"size_side_outside_the_window_list", {"--size", "24"}, clBlack, Sized(24, 24), true},
        OptionCase{"size_256_by_1_is_not_large", {"--size", "256x1"}, clBlack, Sized(256, 1), true},
        OptionCase{"size_large_allowed", {"--size", "300x20", "--allow-large"}, clBlack, Sized(300, 20, true), true},
        OptionCase{"depth_1", {"--depth", "1"}, clBlack, Depth(pf1bit), true},
        OptionCase{"depth_4", {"--depth", "4"}, clBlack, Depth(pf4bit), true},
        OptionCase{"depth_8", {"--depth", "8"}, clBlack, Depth(pf8bit), true},
        OptionCase{"depth_15", {"--depth", "15"}, clBlack, Depth(pf15bit), true},
        OptionCase{"depth_16", {"--depth", "16"}, clBlack, Depth(pf16bit), true},
        OptionCase{"depth_24", {"--depth", "24"}, clBlack, Depth(pf24bit), false},
        OptionCase{"depth_32", {"--depth", "32"}, clBlack, Depth(pf32bit), true},
        OptionCase{"transparent_off", {"--transparent", "off"}, clBlack, Transparent(TTransparencyChoice::Off), true},
        OptionCase{"transparent_colour", {"--transparent", "#3366CC"}, clBlack,
                   Transparent(TTransparencyChoice::Colour, kBlue), true},
        OptionCase{"transparent_colour_lower_case", {"--transparent", "#3366cc"}, kOrange,
                   Transparent(TTransparencyChoice::Colour, kBlue), true},
        OptionCase{"transparent_top_left", {"--transparent", "top-left"}, kOrange,
                   Transparent(TTransparencyChoice::TopLeft), true},
        OptionCase{"all_together",
                   {"--size", "20x30", "--depth", "8", "--transparent", "#3366CC", "-j", "1", "--allow-large"},
                   kOrange,
                   [] {
                       TConvertSettings s = Sized(20, 30, true);
                       s.Depth = pf8bit;
                       s.Transparency = TTransparencyChoice::Colour;
                       s.Colour = kBlue;
                       return s;
                   }(),
                   true}),
    [](const auto& info) { return std::string(info.param.name); });

// Where icons are written: each case makes its pictures, runs in the scratch
// folder, and expects exactly the listed new files.
struct NameCase {
    const char* name;
    std::vector<std::string> pictures;  // written before the run
    std::vector<std::string> folders;   // made before the run
    std::vector<std::string> args;
    std::vector<std::string> icons;  // the new files the run leaves
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

class Names : public ScratchTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(Names, PutEachIconWhereTheRuleSays) {
    const NameCase& c = GetParam();
    for (const std::string& folder : c.folders)
        fs::create_directories(Path(folder));
    for (const std::string& picture : c.pictures)
        Put(picture, Picture(clBlack));
    std::map<std::string, std::intmax_t> expected = Listing(Root());

    const TRun run = RunConvert(Root(), c.args);
    ASSERT_EQ(run.Status, 0) << run.Err;
    const Bytes icon = ConvertPicture(Path(c.pictures.front()).string(), Defaults()).FileBytes();
    for (const std::string& name : c.icons) {
        expected[name] = std::intmax_t(icon.size());
        EXPECT_EQ(ReadFile(Path(name)), icon) << name;
    }
    EXPECT_EQ(Listing(Root()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, Names,
    ::testing::Values(
        NameCase{"beside_the_picture", {"photo.bmp", "sub/other.bmp"}, {}, {"photo.bmp", "sub/other.bmp"},
                 {"photo.ico", "sub/other.ico"}},
        NameCase{"upper_case_extension", {"PHOTO.BMP"}, {}, {"PHOTO.BMP"}, {"PHOTO.ico"}},
        NameCase{"folder_with_a_dot", {"my.pics/photo.bmp"}, {}, {"my.pics/photo.bmp"}, {"my.pics/photo.ico"}},
        NameCase{"output_file", {"photo.bmp"}, {}, {"-o", "named.ico", "photo.bmp"}, {"named.ico"}},
        NameCase{"output_file_keeps_its_name", {"photo.bmp"}, {"out"}, {"photo.bmp", "--output", "out/icon"},
                 {"out/icon"}},
        NameCase{"output_folder", {"a/one.bmp", "b/two.bmp"}, {"out"}, {"-o", "out/", "a/one.bmp", "b/two.bmp"},
                 {"out/one.ico", "out/two.ico"}},
        NameCase{"output_folder_without_slash", {"one.bmp"}, {"out"}, {"-o", "out", "one.bmp"}, {"out/one.ico"}},
        NameCase{"output_folder_with_a_dot", {"x/one.BMP", "two.bmp"}, {"icons.d"},
                 {"-o", "icons.d", "x/one.BMP", "two.bmp"}, {"icons.d/one.ico", "icons.d/two.ico"}},
        NameCase{"same_base_name_in_two_folders", {"a/photo.bmp", "b/photo.bmp"}, {},
                 {"a/photo.bmp", "b/photo.bmp"}, {"a/photo.ico", "b/photo.ico"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Wrong command lines: status 2, one clear line naming the problem, and
// nothing written, although every picture given is a good one.
struct BadCase {
    const char* name;
    std::vector<std::string> args;
    const char* message;  // expected in stderr after "gloxen-convert: "
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

class BadArguments : public ScratchTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(BadArguments, EndWithStatus2AndWriteNothing) {
    const BadCase& c = GetParam();
    Put("a.bmp", Picture(clBlack));
    Put("a.png", Picture(clBlack));
    Put("b.bmp", Picture(clBlack));
    Put("file", Picture(clBlack));
    const auto before = Listing(Root());

    const TRun run = RunConvert(Root(), c.args);
    EXPECT_EQ(run.Status, 2);
    EXPECT_NE(run.Err.find(std::string("gloxen-convert: ") + c.message), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("--help"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(Listing(Root()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, BadArguments,
    ::testing::Values(
        BadCase{"no_picture", {}, "no picture given"},
        BadCase{"no_picture_with_options", {"--size", "16", "-v"}, "no picture given"},
        BadCase{"unknown_option", {"--colour", "a.bmp"}, "The following argument was not expected: --colour"},
        BadCase{"option_without_value", {"a.bmp", "--size"}, "--size"},
        BadCase{"size_word", {"--size", "big", "a.bmp"}, "--size \"big\": give original, a side such as 16"},
        BadCase{"size_zero", {"--size", "0", "a.bmp"}, "--size \"0\": give original"},
        BadCase{"size_zero_width", {"--size", "0x16", "a.bmp"}, "--size \"0x16\""},
        BadCase{"size_negative", {"--size", "-16x16", "a.bmp"}, "--size \"-16x16\""},
        BadCase{"size_no_height", {"--size", "16x", "a.bmp"}, "--size \"16x\""},
        BadCase{"size_signed", {"--size", "+16x16", "a.bmp"}, "--size \"+16x16\""},
        BadCase{"size_hex", {"--size", "0x10x16", "a.bmp"}, "--size \"0x10x16\""},
        BadCase{"size_beyond_int", {"--size", "99999999999x1", "a.bmp", "--allow-large"}, "--size \"99999999999x1\""},
        BadCase{"size_too_wide", {"--size", "257x16", "a.bmp"}, "--size 257x16: an icon larger than 256 x 256 is written only with --allow-large"},
        BadCase{"size_too_tall", {"--size", "16x300", "a.bmp"}, "--size 16x300: an icon larger than 256 x 256"},
        BadCase{"depth_unknown", {"--depth", "7", "a.bmp"}, "--depth \"7\": give one of 1, 4, 8, 15, 16, 24, 32"},
        BadCase{"depth_with_unit", {"--depth", "24bit", "a.bmp"}, "--depth \"24bit\""},
        BadCase{"transparent_word", {"--transparent", "red", "a.bmp"}, "--transparent \"red\": give off, top-left or a colour as #RRGGBB"},
        BadCase{"transparent_short", {"--transparent", "#12345", "a.bmp"}, "--transparent \"#12345\""},
        BadCase{"transparent_not_hex", {"--transparent", "#12345G", "a.bmp"}, "--transparent \"#12345G\""},
        BadCase{"transparent_empty", {"--transparent", "", "a.bmp"}, "--transparent \"\""},
        BadCase{"jobs_zero", {"-j", "0", "a.bmp"}, "-j 0: give 1 or more jobs"},
        BadCase{"jobs_negative", {"-j", "-3", "a.bmp"}, "-j -3: give 1 or more jobs"},
        BadCase{"jobs_word", {"-j", "many", "a.bmp"}, "Could not convert: --jobs = many"},
        BadCase{"output_empty", {"-o", "", "a.bmp"}, "-o: give a file or folder name"},
        BadCase{"output_file_for_two", {"-o", "x.ico", "a.bmp", "b.bmp"}, "-o x.ico names one icon, but 2 pictures were given"},
        BadCase{"output_folder_missing", {"-o", "missing/", "a.bmp"}, "-o missing/: no such folder"},
        BadCase{"output_folder_is_a_file", {"-o", "file/", "a.bmp"}, "-o file/: not a folder"},
        BadCase{"same_icon_beside", {"a.bmp", "a.png"}, "a.bmp and a.png would both be written to a.ico"},
        BadCase{"same_picture_twice", {"a.bmp", "b.bmp", "./a.bmp"}, "a.bmp and ./a.bmp would both be written"},
        BadCase{"same_icon_after_normalising", {"a.bmp", "sub/../a.png"}, "a.bmp and sub/../a.png would both be written"},
        BadCase{"same_icon_in_output_folder", {"-o", "./", "a.bmp", "sub/a.png"}, "a.bmp and sub/a.png would both be written"},
        BadCase{"size_list_repeat", {"--size", "16,32,16", "a.bmp"}, "--size \"16,32,16\": 16 x 16 is given twice"},
        BadCase{"size_list_repeat_spelled_apart", {"--size", "16,16x16", "a.bmp"}, "--size \"16,16x16\": 16 x 16 is given twice"},
        BadCase{"size_list_original_twice", {"--size", "original,16,original", "a.bmp"}, "--size \"original,16,original\": original is given twice"},
        BadCase{"size_list_empty_item", {"--size", "16,,32", "a.bmp"}, "--size \"16,,32\": give original"},
        BadCase{"size_list_large", {"--size", "16,300", "a.bmp"}, "--size 300: an icon larger than 256 x 256"},
        BadCase{"size_list_large_square", {"--size", "257", "a.bmp"}, "--size 257: an icon larger than 256 x 256"},
        BadCase{"png_not_a_size", {"--size", "16,32", "--png", "128", "a.bmp"}, "--png 128: the icon has no image of that size"},
        BadCase{"png_word", {"--png", "some", "a.bmp"}, "--png \"some\": give all, or sizes of the --size list"},
        BadCase{"alpha_below_32", {"--alpha", "keep", "a.bmp"}, "--alpha keep needs --depth 32"},
        BadCase{"alpha_word", {"--alpha", "yes", "--depth", "32", "a.bmp"}, "--alpha \"yes\": give keep or off"},
        BadCase{"filter_unknown", {"--filter", "bicubic", "a.bmp"}, "--filter \"bicubic\": give nearest, box or lanczos"},
        BadCase{"fit_unknown", {"--fit", "fill", "a.bmp"}, "--fit \"fill\": give stretch, pad or crop"},
        BadCase{"background_without_pad", {"--background", "#FF0000", "a.bmp"}, "--background colours the space around a padded picture"},
        BadCase{"background_not_a_colour", {"--fit", "pad", "--background", "red", "a.bmp"}, "--background \"red\": give a colour as #RRGGBB"},
        BadCase{"icon_over_its_picture", {"b.ico"}, "b.ico: its icon would replace the picture itself; name another icon with -o"},
        BadCase{"icon_over_its_picture_by_name", {"-o", "./b.ico", "b.ico"}, "b.ico: its icon would replace the picture itself"},
        BadCase{"icon_over_its_picture_in_folder", {"-o", "./", "b.ico"}, "b.ico: its icon would replace the picture itself"}),
    [](const auto& info) { return std::string(info.param.name); });

using Informational = ScratchTest;

TEST_F(Informational, VersionIsTheShortVersionOfTheRecord) {
    const TRun run = RunConvert(Root(), {"--version"});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, "4.2.2\n");
    EXPECT_EQ(run.Err, "");
}

TEST_F(Informational, HelpListsEveryOptionAndWritesNothing) {
    Put("a.bmp", Picture(clBlack));
    const TRun run = RunConvert(Root(), {"--help", "a.bmp"});
    EXPECT_EQ(run.Status, 0);
    for (const char* option : {"--output", "--size", "--depth", "--transparent", "--allow-large", "--jobs",
                               "--verbose", "--version", "PICTURE"})
        EXPECT_NE(run.Out.find(option), std::string::npos) << option;
    EXPECT_FALSE(fs::exists(Path("a.ico")));
}

TEST_F(Informational, VerboseGivesOneLinePerIconWritten) {
    Put("a.bmp", Picture(clBlack));
    Put("sub/b.bmp", Picture(clBlack));
    Put("broken.bmp", Bytes{'B', 'M', 1, 2, 3});
    fs::create_directory(Path("out"));
    TRun run = RunConvert(Root(), {"-v", "-j", "1", "a.bmp", "broken.bmp", "sub/b.bmp"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "a.bmp -> a.ico (7 x 5, 24 bits)\nsub/b.bmp -> sub/b.ico (7 x 5, 24 bits)\n");

    run = RunConvert(Root(), {"--verbose", "--size", "40x30", "--depth", "8", "-o", "out/", "a.bmp"});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, "a.bmp -> out/a.ico (40 x 30, 8 bits)\n");

    run = RunConvert(Root(), {"--size", "16", "a.bmp", "sub/b.bmp"});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, "") << "without -v nothing goes to stdout";
    EXPECT_EQ(run.Err, "");
}

}  // namespace
