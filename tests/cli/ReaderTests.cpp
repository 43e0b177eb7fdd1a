// Icons gloxen-convert writes, read back by four readers nobody here wrote:
// Pillow, icotool, ImageMagick and GdkPixbuf. Every image must come back
// with its size, its colours and its transparency (GdkPixbuf shows one
// image: the largest bitmap, and it leaves PNG images to other loaders).

#include "CliTestSupport.h"
#include "IconReading.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>

using namespace clitest;

namespace {

struct TReadImage {
    int Width = 0, Height = 0;
    std::vector<std::uint32_t> Rgba;  // 0xRRGGBBAA, top-down
};

// Runs the reader through icoread.py --all and parses what it prints.
std::vector<TReadImage> ReadWith(const std::string& reader, const fs::path& icon, std::string& refusal) {
    const std::string command = "/usr/bin/python3 '" ICOREAD_SCRIPT "' --all " + reader + " '" + icon.string() + "' 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    std::string output;
    char buffer[65536];
    for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = pipe ? ::pclose(pipe) : -1;
    EXPECT_EQ(status, 0) << reader << " could not run (a missing reader fails the test): " << output;

    std::vector<TReadImage> images;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("REFUSED ", 0) == 0) refusal = line.substr(8);
        if (line.rfind("IMAGE ", 0) != 0) continue;
        TReadImage image;
        std::istringstream(line.substr(6)) >> image.Width >> image.Height;
        for (int y = 0; y < image.Height && std::getline(lines, line); ++y) {
            std::istringstream runs(line);
            for (std::string run; runs >> run;) {
                const std::size_t star = run.find('*');
                const std::uint32_t pixel = std::uint32_t(std::stoul(run.substr(0, 8), nullptr, 16));
                const int repeat = star == std::string::npos ? 1 : std::stoi(run.substr(star + 1));
                image.Rgba.insert(image.Rgba.end(), std::size_t(repeat), pixel);
            }
        }
        images.push_back(image);
    }
    return images;
}

// The pixel as every reader must show it: transparent ones by their alpha of
// 0 alone (readers differ in the colour they give them).
std::uint32_t Shown(const TPixel& p) {
    return p.Masked ? 0 : std::uint32_t(p.R) << 24 | std::uint32_t(p.G) << 16 | std::uint32_t(p.B) << 8 | p.A;
}

void ExpectSame(const TReadImage& got, const TImage& want, const std::string& what) {
    ASSERT_EQ(got.Width, want.Width) << what;
    ASSERT_EQ(got.Height, want.Height) << what;
    ASSERT_EQ(got.Rgba.size(), want.Pixels.size()) << what;
    int wrong = 0;
    for (std::size_t i = 0; i < got.Rgba.size(); ++i) {
        const std::uint32_t shown = (got.Rgba[i] & 0xFF) == 0 ? 0 : got.Rgba[i];
        if (shown != Shown(want.Pixels[i]) && ++wrong <= 3)
            ADD_FAILURE() << what << ": pixel (" << i % std::size_t(want.Width) << ", " << i / std::size_t(want.Width)
                          << ") reads " << std::hex << shown << ", written " << Shown(want.Pixels[i]);
    }
    EXPECT_EQ(wrong, 0) << what;
}

using Readers = ScratchTest;

}  // namespace

TEST_F(Readers, ReadEveryImageOfWhatTheConverterWrites) {
    Put("photo.bmp", Bmp24(37, 23, [](int x, int y) {
            return x == 0 && y == 0 ? clBlack : RGBColor(std::uint8_t(37 * x), std::uint8_t(53 * y), std::uint8_t(x ^ y));
        }));
    Put("disc.png", PngRgba(120, 80, [](int x, int y) -> std::array<std::uint8_t, 4> {
            const double d = std::hypot(x - 60, y - 40);
            const double a = std::clamp(36 - d, 0.0, 1.0);  // a soft edge
            return {std::uint8_t(40 + x), 90, std::uint8_t(200 - y), std::uint8_t(std::lround(a * 255))};
        }));
    Put("clear.png", PngRgba(5, 5, [](int, int) { return std::array<std::uint8_t, 4>{1, 2, 3, 0}; }));
    Put("wide.bmp", Bmp24(90, 20, [](int x, int) { return RGBColor(std::uint8_t(2 * x), 120, 250); }));

    struct TCase {
        const char* Name;
        std::vector<std::string> Args;
    };
    const TCase cases[] = {
        {"sizes.ico", {"--size", "16,32,48,256", "--png", "256", "photo.bmp"}},
        {"alpha.ico", {"--size", "16,24,32,48,64,128,256", "--png", "256", "--depth", "32", "--alpha", "keep",
                       "--filter", "lanczos", "disc.png"}},
        {"box-bitmaps.ico", {"--size", "256,48,16", "--depth", "32", "--alpha", "keep", "--filter", "box", "disc.png"}},
        {"pad.ico", {"--size", "16,48", "--fit", "pad", "--depth", "8", "wide.bmp"}},
        {"one-bit.ico", {"--size", "256", "--depth", "1", "photo.bmp"}},
        {"clear.ico", {"--size", "16,32", "--png", "32", "--depth", "32", "--alpha", "keep", "clear.png"}},
    };
    for (const TCase& c : cases) {
        std::vector<std::string> args = c.Args;
        args.insert(args.end(), {"-o", c.Name});
        ASSERT_EQ(RunConvert(Root(), args).Status, 0) << c.Name;
        const std::vector<TImage> written = ReadIcon(ReadFile(Path(c.Name)));
        for (const char* reader : {"pillow", "icotool", "magick", "gdkpixbuf"}) {
            const std::string what = std::string(reader) + " on " + c.Name;
            std::string refusal;
            const std::vector<TReadImage> read = ReadWith(reader, Path(c.Name), refusal);
            if (std::string(reader) == "gdkpixbuf") {
                // The largest bitmap image; none when every image is a PNG.
                const TImage* largest = nullptr;
                for (const TImage& image : written)
                    if (!image.Png && (!largest || image.Width > largest->Width)) largest = &image;
                ASSERT_TRUE(largest) << what;
                EXPECT_EQ(refusal, "") << what;
                ASSERT_EQ(read.size(), 1u) << what;
                ExpectSame(read.front(), *largest, what);
                continue;
            }
            EXPECT_EQ(refusal, "") << what;
            ASSERT_EQ(read.size(), written.size()) << what;
            for (const TImage& image : written) {
                const auto same = std::find_if(read.begin(), read.end(), [&](const TReadImage& r) {
                    return r.Width == image.Width && r.Height == image.Height;
                });
                ASSERT_NE(same, read.end()) << what << ": no " << image.Width << " x " << image.Height << " image";
                ExpectSame(*same, image, what + " at " + std::to_string(image.Width));
            }
        }
    }
}
