#include "CodecTestSupport.h"

#include "Exception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include <unistd.h>

namespace fs = std::filesystem;

namespace codectest {

fs::path CorpusDir() { return fs::path(GLOXEN_SOURCE_DIR).parent_path() / "shared" / "corpora"; }

void ExpectEveryCorpusFileListed(const std::vector<std::string>& folders, const std::string& extension,
                                 const std::vector<std::string>& listed) {
    for (const std::string& folder : folders)
        for (const auto& entry : fs::directory_iterator(CorpusDir() / folder)) {
            if (entry.path().extension() != extension) continue;
            const std::string name = folder + "/" + entry.path().filename().string();
            EXPECT_NE(std::find(listed.begin(), listed.end(), name), listed.end()) << name << " has no expected outcome";
        }
}

namespace {

struct Scratch {
    fs::path dir;
    Scratch() {
        dir = fs::temp_directory_path() / ("gloxen-codecs-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
};

}  // namespace

fs::path ScratchDir() {
    static Scratch scratch;
    return scratch.dir;
}

fs::path WriteFixture(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const fs::path path = ScratchDir() / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) ADD_FAILURE() << "cannot write fixture " << path;
    return path;
}

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) ADD_FAILURE() << "cannot read " << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const TImageFormat& Format(const char* name) {
    for (const TImageFormat& format : ImageFormats())
        if (std::string(format.Name) == name) return format;
    throw std::invalid_argument(std::string("no format ") + name);
}

TBitmap Decode(const fs::path& path, const char* format) { return LoadPicture(path.string(), Format(format)); }

TBitmap DecodeBytes(const std::vector<std::uint8_t>& bytes, const char* format) {
    TBitmapSink sink;
    DecodeMemory(bytes.data(), bytes.size(), Format(format), sink);
    return sink.Bitmap;
}

std::string DecodeError(const fs::path& path, const char* format) {
    try {
        Decode(path, format);
    } catch (const Exception& e) {
        return e.Message();
    }
    ADD_FAILURE() << path << " decoded without an error";
    return "";
}

void TRecordingSink::Begin(const TImageInfo& header) {
    EXPECT_FALSE(begun) << "Begin called twice";
    begun = true;
    info = header;
    row_.assign(RowStride(header.Width, BitsPerPixel(header.Format)), 0);
}

std::uint8_t* TRecordingSink::RowBuffer(int y) {
    EXPECT_TRUE(begun);
    EXPECT_TRUE(y >= 0 && y < info.Height) << "row " << y;
    return row_.data();
}

void TRecordingSink::RowDone(int y) { order.push_back(y); }

ReferenceImage ReadWithPillow(const fs::path& path) {
    ReferenceImage image;
    const std::string command = "/usr/bin/python3 " + std::string(PILREAD_SCRIPT) + " '" + path.string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return image;
    }
    std::string bytes;
    std::array<char, 65536> chunk;
    for (std::size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), pipe.get())) > 0;) bytes.append(chunk.data(), n);
    const int status = ::pclose(pipe.release());
    if (status != 0) {
        ADD_FAILURE() << "Pillow could not read " << path << " (is python3-pil installed? scripts/deps installs it)";
        return image;
    }
    const std::size_t newline = bytes.find('\n');
    std::istringstream header(bytes.substr(0, newline));
    header >> image.width >> image.height >> image.mode;
    const std::size_t count = std::size_t(image.width) * std::size_t(image.height);
    if (newline == std::string::npos || bytes.size() - newline - 1 != count * 4) {
        ADD_FAILURE() << "Pillow's output for " << path << " has the wrong length";
        image.width = image.height = 0;
        return image;
    }
    image.pixels.resize(count);
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data() + newline + 1);
    for (std::size_t i = 0; i < count; ++i, p += 4) image.pixels[i] = {p[0], p[1], p[2], p[3]};
    return image;
}

Rgba PixelOf(const TBitmap& bitmap, int x, int y) {
    const TColor c = bitmap.Canvas().Pixel(x, y);
    std::uint8_t a = 255;
    if (bitmap.PixelFormat() == pf32bit && bitmap.HasAlpha()) a = bitmap.ScanLine(y)[4 * x + 3];
    return {GetRValue(c), GetGValue(c), GetBValue(c), a};
}

}  // namespace codectest
