// gloxen-convert beyond the window's single image: several sizes in one
// icon, PNG images, the picture's own opacity, smooth scaling and aspect
// fit. Icons are read back here with a small reader of our own (directory,
// bitmap images, PNG images through libpng); the independent readers have
// their own tests.

#include "CliTestSupport.h"
#include "IconReading.h"
#include "PictureConverter.h"

#include <gif_lib.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

using namespace clitest;

namespace {

Bytes Photo(int width, int height) {
    return Bmp24(width, height, [](int x, int y) {
        if (x == 0 && y == 0) return clBlack;  // the default then keys black
        return RGBColor(std::uint8_t(37 * x + 11), std::uint8_t(53 * y + 7), std::uint8_t(29 * (x ^ y) + 3));
    });
}

// The image bytes of an icon file holding exactly one image.
Bytes OnlyImage(const Bytes& file) {
    const std::vector<TImage> images = ReadIcon(file);
    EXPECT_EQ(images.size(), 1u);
    return images.empty() ? Bytes{} : images.front().Data;
}

using IconOptions = ScratchTest;

}  // namespace

TEST_F(IconOptions, EachSizeOfAListIsTheSingleImageOfThatSize) {
    Put("p.bmp", Photo(37, 23));
    for (const char* depth : {"1", "8", "24", "32"}) {
        SCOPED_TRACE(std::string("depth ") + depth);
        ASSERT_EQ(RunConvert(Root(), {"--size", "16,32,48,256,40x3", "--depth", depth, "-o", "all.ico", "p.bmp"}).Status, 0);
        const std::vector<TImage> images = ReadIcon(ReadFile(Path("all.ico")));
        ASSERT_EQ(images.size(), 5u);
        const char* const sizes[] = {"16", "32", "48", "256", "40x3"};
        for (std::size_t i = 0; i < images.size(); ++i) {
            ASSERT_EQ(RunConvert(Root(), {"--size", sizes[i], "--depth", depth, "-o", "one.ico", "p.bmp"}).Status, 0);
            EXPECT_EQ(images[i].Data, OnlyImage(ReadFile(Path("one.ico")))) << sizes[i];
            EXPECT_FALSE(images[i].Png);
        }
    }
}

TEST_F(IconOptions, PngImagesHoldTheRenderedPixelsAndOnlyTheOnesAsked) {
    Put("p.bmp", Photo(37, 23));
    ASSERT_EQ(RunConvert(Root(), {"--size", "256", "-o", "bmp.ico", "p.bmp"}).Status, 0);
    const TImage bmp = ReadIcon(ReadFile(Path("bmp.ico"))).at(0);
    EXPECT_FALSE(bmp.Png);  // a 256 image is a bitmap unless --png names it
    EXPECT_EQ(bmp.BitCount, 24);

    struct TCase {
        std::vector<std::string> png;
        std::vector<bool> expected;  // per image of 16,256
    };
    const TCase cases[] = {{{"--png", "256"}, {false, true}},
                           {{"--png", "all"}, {true, true}},
                           {{"--png", "16,256"}, {true, true}},
                           {{}, {false, false}}};
    for (const TCase& c : cases) {
        std::vector<std::string> args{"--size", "16,256", "-o", "mix.ico", "p.bmp"};
        args.insert(args.end(), c.png.begin(), c.png.end());
        ASSERT_EQ(RunConvert(Root(), args).Status, 0);
        const std::vector<TImage> images = ReadIcon(ReadFile(Path("mix.ico")));
        ASSERT_EQ(images.size(), 2u);
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(images[i].Png, c.expected[i]) << i;
            if (images[i].Png) {
                EXPECT_EQ(images[i].BitCount, 32);
            }
        }
    }
    // The PNG image is the bitmap image's pixels; the black corner is keyed,
    // so it is transparent in both.
    ASSERT_EQ(RunConvert(Root(), {"--size", "256", "--png", "256", "-o", "png.ico", "p.bmp"}).Status, 0);
    const TImage png = ReadIcon(ReadFile(Path("png.ico"))).at(0);
    ASSERT_TRUE(png.Png);
    ASSERT_EQ(png.Pixels.size(), bmp.Pixels.size());
    for (std::size_t i = 0; i < bmp.Pixels.size(); ++i) {
        ASSERT_EQ(png.Pixels[i].Masked, bmp.Pixels[i].Masked) << i;
        if (!bmp.Pixels[i].Masked) {
            ASSERT_EQ(std::tie(png.Pixels[i].R, png.Pixels[i].G, png.Pixels[i].B, png.Pixels[i].A),
                      std::tie(bmp.Pixels[i].R, bmp.Pixels[i].G, bmp.Pixels[i].B, bmp.Pixels[i].A))
                << i;
        }
    }
    EXPECT_TRUE(png.At(0, 0).Masked);
    fs::path file = Path("entry.png");
    WriteFile(file, png.Data);
    EXPECT_EQ(std::system(("pngcheck -q " + file.string() + " > /dev/null").c_str()), 0) << "pngcheck refused it";
}

TEST_F(IconOptions, KeepAlphaKeepsThePicturesOwnOpacityAndTheKeyAddsToIt) {
    // Straight colours with every kind of opacity, a hidden colour under
    // alpha 0, and one opaque pixel of the key colour.
    const auto pixel = [](int x, int y) -> std::array<std::uint8_t, 4> {
        if (x == 3 && y == 2) return {0x33, 0x66, 0xCC, 255};
        return {std::uint8_t(20 * x + 5), std::uint8_t(30 * y + 9), 200, std::uint8_t((x * 41 + y * 13) % 4 == 0 ? 0 : 40 * x + y)};
    };
    Put("a.png", PngRgba(6, 5, pixel));
    for (const bool key : {false, true}) {
        std::vector<std::string> args{"--depth", "32", "--alpha", "keep", "-o", "a.ico", "a.png"};
        if (key) args.insert(args.begin(), {"--transparent", "#3366CC"});
        ASSERT_EQ(RunConvert(Root(), args).Status, 0);
        const TImage image = ReadIcon(ReadFile(Path("a.ico"))).at(0);
        ASSERT_EQ(image.BitCount, 32);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) {
                SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y) + (key ? " keyed" : ""));
                const auto want = pixel(x, y);
                const TPixel& got = image.At(x, y);
                const bool transparent = want[3] == 0 || (key && x == 3 && y == 2);
                EXPECT_EQ(got.Masked, transparent);
                if (transparent) {
                    EXPECT_EQ(std::tie(got.R, got.G, got.B, got.A), std::make_tuple(0, 0, 0, 0));
                } else {
                    EXPECT_EQ(std::tie(got.R, got.G, got.B, got.A), std::tie(want[0], want[1], want[2], want[3]));
                }
            }
    }
    // A logo whose corner is transparent keeps its black lettering: the
    // picture's own opacity decides, not the window's black-corner rule.
    Put("logo.png", PngRgba(8, 4, [](int x, int) -> std::array<std::uint8_t, 4> {
            return x < 4 ? std::array<std::uint8_t, 4>{0, 0, 0, 0} : std::array<std::uint8_t, 4>{0, 0, 0, 255};
        }));
    for (const char* filter : {"nearest", "lanczos"}) {
        ASSERT_EQ(RunConvert(Root(), {"--size", "8x4", "--depth", "32", "--alpha", "keep", "--filter", filter, "-o",
                                      "logo.ico", "logo.png"})
                      .Status,
                  0);
        const TImage logo = ReadIcon(ReadFile(Path("logo.ico"))).at(0);
        EXPECT_TRUE(logo.At(0, 0).Masked) << filter;
        EXPECT_FALSE(logo.At(7, 0).Masked) << filter;
        EXPECT_EQ(logo.At(7, 0).A, 255) << filter;
    }
    // An all-transparent picture stays transparent everywhere.
    Put("clear.png", PngRgba(9, 4, [](int, int) { return std::array<std::uint8_t, 4>{90, 80, 70, 0}; }));
    ASSERT_EQ(RunConvert(Root(), {"--size", "16,32", "--png", "32", "--depth", "32", "--alpha", "keep", "--filter",
                                  "lanczos", "-o", "clear.ico", "clear.png"})
                  .Status,
              0);
    for (const TImage& image : ReadIcon(ReadFile(Path("clear.ico"))))
        for (const TPixel& p : image.Pixels) ASSERT_TRUE(p.Masked && p.A == 0);
}

TEST_F(IconOptions, AGifWhoseTransparentIndexIsTheBackgroundComesOutTransparent) {
    // 4 x 4, colours {red, green}; index 1 is both the background and the
    // transparent index; the left half is red.
    const fs::path path = Path("t.gif");
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    ASSERT_NE(gif, nullptr);
    GifColorType colours[] = {{255, 0, 0}, {0, 255, 0}};
    ColorMapObject* map = GifMakeMapObject(2, colours);
    EGifSetGifVersion(gif, true);
    ASSERT_EQ(EGifPutScreenDesc(gif, 4, 4, 1, 1, map), GIF_OK);
    GraphicsControlBlock gcb{};
    gcb.TransparentColor = 1;
    GifByteType extension[4];
    EGifGCBToExtension(&gcb, extension);
    ASSERT_EQ(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension), GIF_OK);
    ASSERT_EQ(EGifPutImageDesc(gif, 0, 0, 4, 4, false, nullptr), GIF_OK);
    for (int y = 0; y < 4; ++y) {
        GifPixelType row[4] = {0, 0, 1, 1};
        ASSERT_EQ(EGifPutLine(gif, row, 4), GIF_OK);
    }
    GifFreeMapObject(map);
    ASSERT_EQ(EGifCloseFile(gif, &error), GIF_OK);

    ASSERT_EQ(RunConvert(Root(), {"--size", "8", "--depth", "32", "--alpha", "keep", "-o", "t.ico", "t.gif"}).Status, 0);
    const TImage image = ReadIcon(ReadFile(Path("t.ico"))).at(0);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(image.At(x, y).Masked, x >= 4) << x << "," << y;
            if (x < 4) {
                EXPECT_EQ(std::tie(image.At(x, y).R, image.At(x, y).A), std::make_tuple(255, 255));
            }
        }
}

TEST_F(IconOptions, SmoothFiltersKeepThinLinesAndLeaveNoDarkFringe) {
    // A one-pixel black line on white, shrunk four times: nearest sampling
    // never lands on column 5 and loses it; box and Lanczos keep it, a
    // quarter dark in linear light.
    Put("line.bmp", Bmp24(64, 64, [](int x, int) { return x == 5 ? clBlack : clWhite; }));
    for (const char* filter : {"nearest", "box", "lanczos"}) {
        ASSERT_EQ(RunConvert(Root(), {"--size", "16", "--transparent", "off", "--filter", filter, "-o", "l.ico", "line.bmp"}).Status, 0);
        const TImage image = ReadIcon(ReadFile(Path("l.ico"))).at(0);
        int darkest = 255;
        for (int x = 0; x < 16; ++x) darkest = std::min<int>(darkest, image.At(x, 8).G);
        if (std::string(filter) == "nearest")
            EXPECT_EQ(darkest, 255);
        else
            EXPECT_LT(darkest, 235) << filter;  // 225 by the box's arithmetic
    }
    // A red disc on transparent: the edge pixels, partly covered, are still
    // red (a filter that ignored the opacity would pull them towards the
    // black hidden under alpha 0).
    Put("disc.png", PngRgba(200, 200, [](int x, int y) -> std::array<std::uint8_t, 4> {
            const double d = std::hypot(x - 99.5, y - 99.5);
            return d < 80 ? std::array<std::uint8_t, 4>{230, 20, 20, 255} : std::array<std::uint8_t, 4>{0, 0, 0, 0};
        }));
    for (const char* filter : {"box", "lanczos"}) {
        ASSERT_EQ(RunConvert(Root(), {"--size", "16", "--depth", "32", "--alpha", "keep", "--filter", filter, "-o",
                                      "d.ico", "disc.png"})
                      .Status,
                  0);
        int partial = 0;
        const TImage disc = ReadIcon(ReadFile(Path("d.ico"))).at(0);
        for (const TPixel& p : disc.Pixels) {
            if (p.A == 0 || p.A == 255) continue;
            ++partial;
            EXPECT_GE(p.R, 200) << filter;
            EXPECT_LE(std::max(p.G, p.B), 45) << filter;
        }
        EXPECT_GT(partial, 0) << filter;
    }
}

TEST_F(IconOptions, PadCentresThePictureAndCropTakesItsMiddle) {
    // 100 x 10: red, then a green middle (columns 45 to 54), then blue.
    Put("wide.bmp", Bmp24(100, 10, [](int x, int) {
            return x < 45 ? RGBColor(255, 0, 0) : x < 55 ? RGBColor(0, 255, 0) : RGBColor(0, 0, 255);
        }));
    // Padded to 16 x 16 the picture is 16 x 2 (1.6 rounded) on rows 7 and 8.
    ASSERT_EQ(RunConvert(Root(), {"--size", "16", "--fit", "pad", "--transparent", "off", "-o", "pad.ico", "wide.bmp"}).Status, 0);
    TImage image = ReadIcon(ReadFile(Path("pad.ico"))).at(0);
    for (int y = 0; y < 16; ++y) EXPECT_EQ(image.At(0, y).Masked, y != 7 && y != 8) << y;
    EXPECT_EQ(image.At(0, 7).R, 255);
    EXPECT_EQ(image.At(15, 8).B, 255);
    ASSERT_EQ(RunConvert(Root(), {"--size", "16", "--fit", "pad", "--background", "#FFFF00", "--transparent", "off", "-o",
                                  "padbg.ico", "wide.bmp"})
                  .Status,
              0);
    image = ReadIcon(ReadFile(Path("padbg.ico"))).at(0);
    EXPECT_FALSE(image.At(0, 0).Masked);
    EXPECT_EQ(std::tie(image.At(0, 0).R, image.At(0, 0).G, image.At(0, 0).B), std::make_tuple(255, 255, 0));

    for (const char* filter : {"nearest", "box", "lanczos"}) {
        ASSERT_EQ(RunConvert(Root(), {"--size", "16", "--fit", "crop", "--filter", filter, "-o", "crop.ico", "wide.bmp"}).Status, 0);
        const TImage crop = ReadIcon(ReadFile(Path("crop.ico"))).at(0);
        for (const TPixel& p : crop.Pixels)
            ASSERT_TRUE(p.G == 255 && p.R == 0 && p.B == 0 && !p.Masked) << filter;
    }

    // A 10000 x 10 picture both ways, with every filter.
    Put("long.bmp", Bmp24(10000, 10, [](int x, int y) { return RGBColor(std::uint8_t(x), std::uint8_t(y * 20), 128); }));
    for (const char* fit : {"pad", "crop"})
        for (const char* filter : {"nearest", "box", "lanczos"}) {
            ASSERT_EQ(RunConvert(Root(), {"--size", "16,256", "--fit", fit, "--filter", filter, "--transparent", "off",
                                          "-o", "long.ico", "long.bmp"})
                          .Status,
                      0)
                << fit << " " << filter;
            const std::vector<TImage> images = ReadIcon(ReadFile(Path("long.ico")));
            ASSERT_EQ(images.size(), 2u);
            int masked = 0;
            for (const TPixel& p : images[1].Pixels) masked += p.Masked;
            // Padded, 256 x 1 rows of picture stay; cropped, nothing is masked.
            EXPECT_EQ(masked, std::string(fit) == "pad" ? 256 * 255 : 0) << fit << " " << filter;
        }
}

TEST_F(IconOptions, AOnePixelPictureFillsEverySize) {
    Put("dot.bmp", Bmp24(1, 1, [](int, int) { return RGBColor(10, 200, 30); }));
    for (const char* filter : {"nearest", "box", "lanczos"})
        for (const char* fit : {"stretch", "pad", "crop"}) {
            ASSERT_EQ(RunConvert(Root(), {"--size", "16,24,32,48,64,128,256", "--filter", filter, "--fit", fit, "-o",
                                          "dot.ico", "dot.bmp"})
                          .Status,
                      0);
            const std::vector<TImage> images = ReadIcon(ReadFile(Path("dot.ico")));
            ASSERT_EQ(images.size(), 7u);
            for (const TImage& image : images)
                for (const TPixel& p : image.Pixels)
                    ASSERT_TRUE(p.R == 10 && p.G == 200 && p.B == 30 && !p.Masked)
                        << filter << " " << fit << " " << image.Width;
        }
}
