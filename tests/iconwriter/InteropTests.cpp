// Our icons read back by readers nobody here wrote: Pillow, icoutils'
// icotool and ImageMagick. Every pixel's colour and opacity must be what we
// meant, across widths that cross the byte and word boundaries of the rows.

#include "Convert_func.h"
#include "IconTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <sstream>

using namespace icontest;
namespace fs = std::filesystem;

namespace {

constexpr TColor kKey = RGBColor(255, 0, 255);
const int kWidths[] = {1, 7, 8, 9, 15, 31, 32, 33, 255, 256, 300};
const TPixelFormat kFormats[] = {pf24bit, pf32bit};

// Key-coloured pixels on a diagonal band and at the corners, so that every
// row has transparent and opaque pixels at different bit positions.
TBitmap Source(int size) {
    return MakeBitmap(size, size, pf24bit, [size](int x, int y) {
        const bool corner = (x == 0 || x == size - 1) && (y == 0 || y == size - 1);
        return corner || (x + 2 * y) % 5 == 0 ? kKey : PatternColour(x, y);
    });
}

std::string CellName(int width, TPixelFormat format) {
    return "w" + std::to_string(width) + "_" + (format == pf32bit ? "32" : "24") + ".ico";
}

// What a reader is known to get wrong, found by reading the same files with
// the other readers. Such a cell is reported as skipped with the reason; its
// opacity is still compared when the reader gets that right.
struct Limitation {
    const char* reader;
    bool (*applies)(int width, int bits);
    bool opacityStillChecked;
    const char* reason;
};
const Limitation kLimitations[] = {
    {"icotool", [](int width, int bits) { return bits == 24 && (width % 4 == 1 || width % 4 == 2); }, true,
     "icotool 0.32 misplaces 24-bit rows that end in 1 or 2 padding bytes (Pillow and ImageMagick read the same "
     "file right)"},
    {"magick", [](int width, int) { return width > 256; }, false,
     "ImageMagick takes the size from the one-byte directory fields, which cannot hold sizes above 256"},
};

const Limitation* KnownLimitation(const std::string& reader, int width, int bits) {
    for (const Limitation& l : kLimitations)
        if (reader == l.reader && l.applies(width, bits))
            return &l;
    return nullptr;
}

struct Decoded {
    std::string refusal;  // non-empty when the reader refused the file
    int width = 0, height = 0;
    std::vector<std::string> rows;  // RRGGBBAA per pixel
};

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class Interop : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite() {
        std::string pattern = (fs::temp_directory_path() / "gloxen-interop-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        for (int width : kWidths)
            for (TPixelFormat format : kFormats)
                SaveBmpAsIconEx(Source(width), (folder_ / CellName(width, format)).string(), width, width, true,
                                kKey, format);
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    // Runs the helper once for every file; returns its exit status.
    static int RunReader(const std::string& reader, std::map<std::string, Decoded>& out, std::string& log) {
        std::string command = "/usr/bin/python3 " + Quote(ICOREAD_SCRIPT) + " " + reader;
        for (int width : kWidths)
            for (TPixelFormat format : kFormats)
                command += " " + Quote((folder_ / CellName(width, format)).string());
        command += " 2>" + Quote((folder_ / "stderr.txt").string());
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe)
            return -1;
        std::string text;
        char buffer[65536];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            text.append(buffer, n);
        const int status = ::pclose(pipe);
        const Bytes err = ReadFileBytes(folder_ / "stderr.txt");
        log.assign(err.begin(), err.end());

        std::istringstream lines(text);
        std::string line;
        Decoded* current = nullptr;
        while (std::getline(lines, line)) {
            if (line.rfind("FILE ", 0) == 0) {
                current = &out[fs::path(line.substr(5)).filename().string()];
            } else if (!current) {
                continue;
            } else if (line.rfind("REFUSED ", 0) == 0) {
                current->refusal = line.substr(8);
            } else if (line.rfind("SIZE ", 0) == 0) {
                std::istringstream(line.substr(5)) >> current->width >> current->height;
            } else {
                current->rows.push_back(line);
            }
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    static fs::path folder_;
};

fs::path Interop::folder_;

TEST_P(Interop, EveryPixelAndItsOpacityReadBack) {
    const std::string reader = GetParam();
    std::map<std::string, Decoded> decoded;
    std::string log;
    const int status = RunReader(reader, decoded, log);
    // A missing reader is a failure, not a skip: scripts/deps installs them.
    ASSERT_NE(status, 77) << reader << " unavailable: " << log;
    ASSERT_EQ(status, 0) << log;

    for (int width : kWidths) {
        for (TPixelFormat format : kFormats) {
            const std::string name = CellName(width, format);
            SCOPED_TRACE(reader + " reading " + name);
            const Limitation* limitation = KnownLimitation(reader, width, format == pf32bit ? 32 : 24);
            if (limitation) {
                std::cout << "[ SKIPPED  ] " << reader << " " << name
                          << (limitation->opacityStillChecked ? " colours: " : ": ") << limitation->reason << "\n";
                if (!limitation->opacityStillChecked)
                    continue;
            }
            const bool checkColour = !limitation;
            ASSERT_TRUE(decoded.count(name)) << "no output";
            const Decoded& d = decoded.at(name);
            ASSERT_TRUE(d.refusal.empty()) << "refused: " << d.refusal;
            ASSERT_EQ(d.width, width);
            ASSERT_EQ(d.height, width);
            ASSERT_EQ(d.rows.size(), std::size_t(width));

            const TBitmap source = Source(width);
            int mismatches = 0;
            for (int y = 0; y < width; ++y) {
                ASSERT_EQ(d.rows[std::size_t(y)].size(), std::size_t(width) * 8) << "row " << y;
                for (int x = 0; x < width; ++x) {
                    const unsigned long rgba = std::stoul(d.rows[std::size_t(y)].substr(std::size_t(x) * 8, 8), nullptr, 16);
                    const TColor colour = source.Canvas().Pixel(x, y);
                    const bool transparent = colour == kKey;
                    const unsigned alpha = rgba & 0xFF;
                    const TColor got = RGBColor(std::uint8_t(rgba >> 24), std::uint8_t(rgba >> 16), std::uint8_t(rgba >> 8));
                    const bool ok = transparent ? alpha == 0 : alpha == 255 && (!checkColour || got == colour);
                    if (!ok && ++mismatches <= 5)
                        ADD_FAILURE() << "(" << x << ", " << y << "): read " << std::hex << rgba << ", meant "
                                      << (transparent ? std::string("transparent")
                                                      : "colour " + std::to_string(colour) + " opaque");
                }
            }
            EXPECT_EQ(mismatches, 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Readers, Interop, ::testing::Values("pillow", "icotool", "magick"));

}  // namespace
