// The resampler against Pillow, a reference nobody here wrote: real photos
// and line art from the shared test pictures, decoded by our decoders,
// shrunk with box and Lanczos-3, and compared with Pillow's BOX and LANCZOS
// done the same way (pil_resample.py: linear light, premultiplied opacity,
// float precision between the passes). The difference is measured as PSNR
// over the premultiplied linear channels and opacity; both sides round to
// 8 bits at the end. The photos agree byte for byte; pictures with opacity
// differ a little because our PNG decoder hands over premultiplied 8-bit
// pixels, which lose colour precision where the opacity is low (about 60 dB).
// The bar is 50 dB: a wrong kernel (Lanczos-2 instead of Lanczos-3) already
// falls to 36..45 dB.

#include "ImageCodec.h"
#include "Resample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

fs::path CorpusDir() { return fs::path(GLOXEN_SOURCE_DIR).parent_path() / "shared" / "corpora"; }

const TImageFormat& FormatOf(const fs::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    const TImageFormat* format = FormatForExtension(extension);
    if (!format) throw std::invalid_argument("no format for " + path.string());
    return *format;
}

// The picture through our decoder and our resampler. The rows go in
// bottom-up, as a BMP file would deliver them.
TRgbaImage OurShrink(const TBitmap& picture, int width, int height, TResampleFilter filter) {
    const int w = picture.Width(), h = picture.Height();
    TResampler resampler(w, h, {0, 0, w, h}, width, height, {0, 0, width, height}, filter);
    std::vector<std::uint8_t> row(std::size_t(w) * 4);
    for (int y = h - 1; y >= 0; --y) {
        RowToStraightBgra(picture.ScanLine(y), w, picture.PixelFormat(), picture.Palette(), picture.HasAlpha(), false,
                          row.data());
        resampler.AddRow(y, row.data());
    }
    return resampler.Result();
}

struct TReference {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
};

// Pillow's answers for the sizes, in order; empty on any failure (reported).
std::vector<TReference> PillowShrinks(const fs::path& path, const std::vector<int>& sizes, const char* filter) {
    std::string command = "/usr/bin/python3 '" PIL_RESAMPLE_SCRIPT "' '" + path.string() + "'";
    for (int size : sizes) command += " " + std::to_string(size) + " " + std::to_string(size) + " " + filter;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::vector<TReference> answers;
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return {};
    }
    for (int size : sizes) {
        std::string line;
        for (int c; (c = std::fgetc(pipe.get())) != EOF && c != '\n';) line.push_back(char(c));
        TReference ref;
        std::istringstream header(line);
        std::string ok;
        header >> ok >> ref.width >> ref.height;
        if (ok != "OK" || ref.width != size || ref.height != size) {
            ADD_FAILURE() << "Pillow gave no answer for " << path << " at " << size
                          << " (is python3-pil installed? scripts/deps installs it): \"" << line << "\"";
            return {};
        }
        ref.rgba.resize(std::size_t(size) * std::size_t(size) * 4);
        if (std::fread(ref.rgba.data(), 1, ref.rgba.size(), pipe.get()) != ref.rgba.size()) {
            ADD_FAILURE() << "Pillow's answer for " << path << " is cut short";
            return {};
        }
        answers.push_back(std::move(ref));
    }
    return answers;
}

double Linear(int v) {
    const double c = v / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// PSNR over premultiplied linear light and opacity, all in 0..1; infinite
// when every byte agrees.
double Psnr(const TRgbaImage& ours, const TReference& ref) {
    double squares = 0;
    const std::size_t count = std::size_t(ref.width) * std::size_t(ref.height);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* o = ours.Pixels.data() + i * 4;  // B, G, R, A
        const std::uint8_t* r = ref.rgba.data() + i * 4;     // R, G, B, A
        const double oa = o[3] / 255.0, ra = r[3] / 255.0;
        for (int c = 0; c < 3; ++c) {
            const double d = Linear(o[2 - c]) * oa - Linear(r[c]) * ra;
            squares += d * d;
        }
        squares += (oa - ra) * (oa - ra);
    }
    const double mse = squares / double(count * 4);
    return mse == 0 ? INFINITY : 10 * std::log10(1 / mse);
}

TEST(ResamplePillow, ShrinksLikePillowInLinearLight) {
    struct Case {
        const char* file;
        const char* what;
        std::vector<int> sizes;
    };
    const Case cases[] = {
        {"jpeg/testorig.jpg", "photo, 227 x 149", {16, 32, 48}},
        {"jpeg/testimgint.jpg", "photo, 227 x 149", {16, 32, 48}},
        {"png-testpngs/rgb-alpha-8.png", "sharp edges and opacity ramps, 256 x 256", {16, 32, 48}},
        {"pngsuite/ftbbn3p08.png", "logo on a transparent palette entry, 32 x 32", {16}},
        {"pngsuite/basn6a08.png", "colour and opacity ramps, 32 x 32", {16}},
    };
    const struct {
        TResampleFilter filter;
        const char* name;
    } filters[] = {{TResampleFilter::Box, "box"}, {TResampleFilter::Lanczos3, "lanczos"}};
    for (const Case& c : cases) {
        const fs::path path = CorpusDir() / c.file;
        const TBitmap picture = LoadPicture(path.string(), FormatOf(path));
        for (const auto& f : filters) {
            const std::vector<TReference> refs = PillowShrinks(path, c.sizes, f.name);
            ASSERT_EQ(refs.size(), c.sizes.size());
            for (std::size_t k = 0; k < c.sizes.size(); ++k) {
                const int size = c.sizes[k];
                const TRgbaImage ours = OurShrink(picture, size, size, f.filter);
                const double psnr = Psnr(ours, refs[k]);
                std::printf("  %-30s %-42s %-7s %3d x %-3d PSNR %6.2f dB\n", c.file, c.what, f.name, size, size, psnr);
                EXPECT_GE(psnr, 50.0) << c.file << " " << f.name << " at " << size;
            }
        }
    }
}

}  // namespace
