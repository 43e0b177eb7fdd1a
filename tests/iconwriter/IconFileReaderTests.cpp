// Multi-image icons read back by four readers nobody here wrote: Pillow,
// icoutils' icotool, ImageMagick and GdkPixbuf. Every image must come back
// with its size, its colours and its opacity: straight alpha exactly at 32
// bits and in PNG entries, 0 wherever the picture's alpha or the key made a
// pixel transparent. The expected pixels come from the pictures and the rule,
// not from the writer.

#include "Convert_func.h"
#include "IconFile.h"
#include "IconTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <sstream>

using namespace icontest;
namespace fs = std::filesystem;

namespace {

constexpr TColor kKey = RGBColor(255, 0, 255);

// An image as a reader should give it: RRGGBBAA per pixel, top-down. An
// alpha of 0 means transparent, whatever the colour.
struct Image {
    int width = 0, height = 0;
    std::vector<std::uint32_t> rgba;
};

struct PlannedFile {
    std::string name;
    std::vector<TIconEntry> entries;
    std::vector<Image> expected;  // in the same order as the entries
};

std::uint32_t Rgba(TColor c, int alpha) {
    return std::uint32_t(GetRValue(c)) << 24 | std::uint32_t(GetGValue(c)) << 16 | std::uint32_t(GetBValue(c)) << 8 |
           std::uint32_t(alpha);
}

// An entry made from a straight-alpha picture at 24 or 32 bits (no colour
// reduction), and the image the rule promises: transparent where the alpha is
// 0 or the colour is the key (when used), otherwise the picture's colour with
// its own alpha (keepAlpha) or fully opaque.
void AddPicture(PlannedFile& file, int size, TPixelFormat depth, bool useKey, bool keepAlpha, bool png,
                bool allTransparent = false) {
    TRgbaImage picture(size, size);
    Image expected{size, size, {}};
    for (int y = 0; y < size; ++y) {
        std::uint8_t* p = picture.Row(y);
        for (int x = 0; x < size; ++x, p += 4) {
            const TColor colour = (x + 3 * y) % 9 == 4 ? kKey : PatternColour(x, y);
            const int alpha = allTransparent || (x * 5 + y * 3) % 13 == 0 ? 0 : 1 + (x * 7 + y * 11) % 255;
            p[0] = GetBValue(colour);
            p[1] = GetGValue(colour);
            p[2] = GetRValue(colour);
            p[3] = std::uint8_t(alpha);
            const bool transparent = alpha == 0 || (useKey && colour == kKey);
            expected.rgba.push_back(transparent ? 0 : Rgba(colour, keepAlpha ? alpha : 255));
        }
    }
    file.entries.push_back(EntryFromRgba(picture, depth, useKey, kKey, keepAlpha, png));
    file.expected.push_back(std::move(expected));
}

// A 1 x 1 picture rendered by the window's renderer at size x size.
void AddOnePixel(PlannedFile& file, int size, TPixelFormat depth) {
    const TColor colour = RGBColor(12, 201, 77);
    file.entries.push_back(BmpEntry(RenderIconEx(MakeSolid(1, 1, colour), size, size, false, 0, depth)));
    file.expected.push_back({size, size, std::vector<std::uint32_t>(std::size_t(size) * std::size_t(size), Rgba(colour, 255))});
}

std::vector<PlannedFile> PlanFiles() {
    std::vector<PlannedFile> files;

    PlannedFile mixed{"mixed.ico", {}, {}};
    AddPicture(mixed, 16, pf24bit, true, false, false);
    AddPicture(mixed, 32, pf32bit, true, false, false);
    AddPicture(mixed, 48, pf32bit, true, true, false);
    AddPicture(mixed, 64, pf32bit, false, true, true);
    AddPicture(mixed, 256, pf24bit, true, false, true);
    // The same images with the PNG entries listed first.
    PlannedFile pngFirst{"png-first.ico", {}, {}};
    for (std::size_t i : {3, 4, 0, 1, 2}) {
        pngFirst.entries.push_back(mixed.entries[i]);
        pngFirst.expected.push_back(mixed.expected[i]);
    }
    files.push_back(std::move(mixed));
    files.push_back(std::move(pngFirst));

    // 256 stored as a bitmap when no PNG is asked for.
    PlannedFile bitmap256{"bitmap256.ico", {}, {}};
    AddPicture(bitmap256, 256, pf32bit, true, true, false);
    AddPicture(bitmap256, 24, pf24bit, true, false, false);
    files.push_back(std::move(bitmap256));

    PlannedFile pngOnly{"png-only.ico", {}, {}};
    AddPicture(pngOnly, 32, pf32bit, true, true, true);
    AddPicture(pngOnly, 128, pf24bit, false, false, true);
    files.push_back(std::move(pngOnly));

    // Nothing but transparent pixels; the PNG first, so that GdkPixbuf too
    // reads its bitmap.
    PlannedFile clear{"clear.ico", {}, {}};
    AddPicture(clear, 48, pf32bit, false, true, true, true);
    AddPicture(clear, 16, pf24bit, false, false, false, true);
    AddPicture(clear, 32, pf32bit, false, true, false, true);
    files.push_back(std::move(clear));

    // Every size from 16 to 256 in one file, far beyond the 20 entries of the
    // single-image record. The depth alternates between 32 and 24 bits, the
    // latter only where the rows need no 1- or 2-byte padding (icotool 0.32
    // misplaces such 24-bit rows; InteropTests shows that on its own).
    PlannedFile sizes{"every-size.ico", {}, {}};
    for (int size = 16; size <= 256; ++size)
        AddOnePixel(sizes, size, size % 4 == 1 || size % 4 == 2 ? pf32bit : pf24bit);
    files.push_back(std::move(sizes));
    return files;
}

// Parses the helper's --all output: file name -> images, or the refusal.
struct Reading {
    std::string refusal;
    std::vector<Image> images;
};

std::map<std::string, Reading> ParseReadings(const std::string& text) {
    std::map<std::string, Reading> readings;
    std::istringstream lines(text);
    std::string line;
    Reading* file = nullptr;
    while (std::getline(lines, line)) {
        if (line.rfind("FILE ", 0) == 0) {
            file = &readings[fs::path(line.substr(5)).filename().string()];
        } else if (!file) {
            continue;
        } else if (line.rfind("REFUSED ", 0) == 0) {
            file->refusal = line.substr(8);
        } else if (line.rfind("IMAGE ", 0) == 0) {
            file->images.emplace_back();
            std::istringstream(line.substr(6)) >> file->images.back().width >> file->images.back().height;
        } else if (!file->images.empty()) {
            // RRGGBBAA tokens, "*N" for a run of N.
            std::istringstream tokens(line);
            std::string token;
            while (tokens >> token) {
                const std::size_t star = token.find('*');
                const std::uint32_t pixel = std::uint32_t(std::stoul(token.substr(0, 8), nullptr, 16));
                const std::size_t count = star == std::string::npos ? 1 : std::stoul(token.substr(star + 1));
                file->images.back().rgba.insert(file->images.back().rgba.end(), count, pixel);
            }
        }
    }
    return readings;
}

// Compares one image a reader gave with the one we meant; reports at most a
// few pixels.
void ExpectSameImage(const Image& got, const Image& meant) {
    ASSERT_EQ(got.width, meant.width);
    ASSERT_EQ(got.height, meant.height);
    ASSERT_EQ(got.rgba.size(), meant.rgba.size()) << "pixels read";
    int mismatches = 0;
    for (std::size_t i = 0; i < meant.rgba.size(); ++i) {
        const std::uint32_t g = got.rgba[i], m = meant.rgba[i];
        const bool ok = (m & 0xFF) == 0 ? (g & 0xFF) == 0 : g == m;
        if (!ok && ++mismatches <= 5)
            ADD_FAILURE() << "(" << i % std::size_t(meant.width) << ", " << i / std::size_t(meant.width)
                          << "): read " << std::hex << g << ", meant " << ((m & 0xFF) == 0 ? 0u : m)
                          << ((m & 0xFF) == 0 ? " (transparent)" : "");
    }
    EXPECT_EQ(mismatches, 0);
}

class Readers : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite() {
        std::string pattern = (fs::temp_directory_path() / "gloxen-iconfile-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        files_ = PlanFiles();
        for (const PlannedFile& f : files_)
            WriteIconEntries((folder_ / f.name).string(), f.entries);
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        files_.clear();
    }

    static fs::path folder_;
    static std::vector<PlannedFile> files_;
};

fs::path Readers::folder_;
std::vector<PlannedFile> Readers::files_;

TEST_P(Readers, EveryImageWithItsSizeAndTransparency) {
    const std::string reader = GetParam();
    std::string command = "/usr/bin/python3 " + ShellQuote(ICOREAD_SCRIPT) + " --all " + reader;
    for (const PlannedFile& f : files_)
        command += " " + ShellQuote((folder_ / f.name).string());
    const fs::path errors = folder_ / (reader + "-stderr.txt");
    command += " 2>" + ShellQuote(errors.string());
    std::string output;
    const int status = RunCapture(command, output);
    const Bytes err = ReadFileBytes(errors);
    const std::string log(err.begin(), err.end());
    // A missing reader is a failure, not a skip: scripts/deps installs them.
    ASSERT_NE(status, 77) << reader << " unavailable: " << log;
    ASSERT_EQ(status, 0) << log;

    const std::map<std::string, Reading> readings = ParseReadings(output);
    for (const PlannedFile& f : files_) {
        SCOPED_TRACE(reader + " reading " + f.name);
        ASSERT_TRUE(readings.count(f.name)) << "no output";
        const Reading& r = readings.at(f.name);

        if (reader == "gdkpixbuf") {
            // GdkPixbuf 2.42's loader yields one image: the largest bitmap
            // entry. It passes PNG entries over, and refuses a file that has
            // nothing else ("Compressed icons are not supported").
            const bool anyBitmap = std::any_of(f.entries.begin(), f.entries.end(), [](const TIconEntry& e) { return !e.Png; });
            if (!anyBitmap) {
                std::cout << "[ SKIPPED  ] gdkpixbuf " << f.name << ": GdkPixbuf reads no PNG entries\n";
                EXPECT_NE(r.refusal.find("Compressed icons are not supported"), std::string::npos) << r.refusal;
                continue;
            }
            ASSERT_TRUE(r.refusal.empty()) << "refused: " << r.refusal;
            ASSERT_EQ(r.images.size(), 1u);
            std::size_t largest = f.entries.size();
            for (std::size_t i = 0; i < f.entries.size(); ++i)
                if (!f.entries[i].Png && (largest == f.entries.size() || f.expected[i].width > f.expected[largest].width))
                    largest = i;
            // Its loader reads the file as a stream; the writer puts the PNG
            // images' data first so that the bitmap it shows has not gone by
            // when it settles on it (mixed.ico lists a larger PNG image after
            // that bitmap).
            ExpectSameImage(r.images[0], f.expected[largest]);
            continue;
        }
        ASSERT_TRUE(r.refusal.empty()) << "refused: " << r.refusal;
        // The others yield every image; each size appears once, so the
        // images are matched by size whatever order the reader keeps.
        ASSERT_EQ(r.images.size(), f.expected.size());
        for (const Image& meant : f.expected) {
            SCOPED_TRACE("image of " + std::to_string(meant.width));
            const auto got = std::find_if(r.images.begin(), r.images.end(), [&meant](const Image& i) {
                return i.width == meant.width && i.height == meant.height;
            });
            ASSERT_NE(got, r.images.end()) << "not read";
            ExpectSameImage(*got, meant);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, Readers, ::testing::Values("pillow", "icotool", "magick", "gdkpixbuf"));

}  // namespace
