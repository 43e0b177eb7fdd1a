#pragma once
// Shared helpers of the icon writer tests: a private scratch folder, file
// reading, bitmap builders, and a reader of our icon files that works from
// byte offsets alone (so it does not share any code with the writer).

#include "Graphics.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace icontest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// `text` as one word for /bin/sh.
inline std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs `command` through /bin/sh; its standard output goes to `output`.
// Returns the exit status, or -1 when the command could not be run or was
// killed by a signal.
inline int RunCapture(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::set<std::string> FolderEntries(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// A fresh folder for each test, removed with everything in it afterwards.
class ScratchFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "gloxen-iconwriter-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(folder_, ignored);
    }
    std::filesystem::path Path(const std::string& name) const { return folder_ / name; }

    std::filesystem::path folder_;
};

// A true-colour bitmap whose pixel (x, y) is colour(x, y).
inline TBitmap MakeBitmap(int width, int height, TPixelFormat format,
                          const std::function<TColor(int, int)>& colour) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bitmap.Canvas().SetPixel(x, y, colour(x, y));
    return bitmap;
}

inline TBitmap MakeSolid(int width, int height, TColor colour) {
    return MakeBitmap(width, height, pf24bit, [colour](int, int) { return colour; });
}

// A busy deterministic colour for (x, y); its green channel is odd, so it is
// never black, white, magenta or any other colour with an even green.
inline TColor PatternColour(int x, int y) {
    const unsigned r = unsigned(x * 37 + y * 11) & 0xFF;
    const unsigned g = (unsigned(x * 13 ^ y * 29) & 0xFE) | 1;
    const unsigned b = unsigned(x * 5 + y * 3 + 17) & 0xFF;
    return RGBColor(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b));
}

inline std::uint32_t U16(const Bytes& b, std::size_t at) {
    return std::uint32_t(b.at(at)) | std::uint32_t(b.at(at + 1)) << 8;
}
inline std::uint32_t U32(const Bytes& b, std::size_t at) {
    return U16(b, at) | U16(b, at + 2) << 16;
}
inline std::int32_t I32(const Bytes& b, std::size_t at) {
    return std::int32_t(U32(b, at));
}

// Our icon file read back from its bytes.
struct ReadIcon {
    Bytes file;
    int width = 0, height = 0, bits = 0;
    std::size_t colourStride = 0, maskStride = 0;

    explicit ReadIcon(Bytes bytes) : file(std::move(bytes)) {
        width = I32(file, 22 + 4);
        height = I32(file, 22 + 8) / 2;
        bits = int(U16(file, 22 + 14));
        colourStride = (std::size_t(width) * std::size_t(bits) + 31) / 32 * 4;
        maskStride = (std::size_t(width) + 31) / 32 * 4;
    }
    std::size_t ColourOffset(int x, int y) const {
        return 62 + colourStride * std::size_t(height - 1 - y) + std::size_t(x) * std::size_t(bits / 8);
    }
    TColor Pixel(int x, int y) const {
        const std::size_t at = ColourOffset(x, y);
        return RGBColor(file.at(at + 2), file.at(at + 1), file.at(at));
    }
    int Alpha(int x, int y) const { return file.at(ColourOffset(x, y) + 3); }
    std::size_t MaskStart() const { return 62 + colourStride * std::size_t(height); }
    bool Masked(int x, int y) const {
        const std::size_t at = MaskStart() + maskStride * std::size_t(height - 1 - y) + std::size_t(x / 8);
        return (file.at(at) >> (7 - x % 8)) & 1;
    }
    std::set<TColor> Colours() const {
        std::set<TColor> colours;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                colours.insert(Pixel(x, y));
        return colours;
    }
    Bytes MaskBytes() const { return Bytes(file.begin() + std::ptrdiff_t(MaskStart()), file.end()); }
};

}  // namespace icontest
