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

#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace codectest {

fs::path CorpusDir() { return fs::path(GLOXEN_SOURCE_DIR).parent_path() / "shared" / "corpora"; }

void Put16(std::vector<std::uint8_t>& v, unsigned x) {
    v.push_back(std::uint8_t(x));
    v.push_back(std::uint8_t(x >> 8));
}
void Put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

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

namespace {

// One Python with Pillow for the whole test program, answering path after
// path (pilread.py --serve): starting Python once per picture would cost
// most of a corpus test's time.
class PillowServer {
public:
    static PillowServer& Get() {
        static PillowServer server;
        return server;
    }
    bool Usable() const { return to_ != nullptr && from_ != nullptr; }
    // The answer's header line ("OK w h mode" or "ERR reason"), then the
    // caller reads the pixels from From().
    std::string Ask(const std::string& path) {
        if (std::fprintf(to_, "%s\n", path.c_str()) < 0 || std::fflush(to_) != 0) return "";
        std::string line;
        for (int c; (c = std::fgetc(from_)) != EOF && c != '\n';) line.push_back(char(c));
        return line;
    }
    FILE* From() const { return from_; }

private:
    PillowServer() {
        std::signal(SIGPIPE, SIG_IGN);  // a Python that died is reported, not fatal
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::close(in[1]);
            ::close(out[0]);
            ::execl("/usr/bin/python3", "python3", PILREAD_SCRIPT, "--serve", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        to_ = ::fdopen(in[1], "w");
        from_ = ::fdopen(out[0], "r");
    }
    ~PillowServer() {
        if (to_) std::fclose(to_);
        if (from_) std::fclose(from_);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }
    pid_t pid_ = -1;
    FILE* to_ = nullptr;
    FILE* from_ = nullptr;
};

}  // namespace

ReferenceImage ReadWithPillow(const fs::path& path) {
    ReferenceImage image;
    PillowServer& server = PillowServer::Get();
    const std::string answer = server.Usable() ? server.Ask(path.string()) : "";
    if (answer.rfind("OK ", 0) != 0) {
        ADD_FAILURE() << "Pillow could not read " << path << ": "
                      << (answer.empty() ? "no answer (is python3-pil installed? scripts/deps installs it)" : answer);
        return image;
    }
    std::istringstream header(answer.substr(3));
    header >> image.width >> image.height >> image.mode;
    const std::size_t count = std::size_t(image.width) * std::size_t(image.height);
    std::vector<std::uint8_t> bytes(count * 4);
    if (!header || std::fread(bytes.data(), 1, bytes.size(), server.From()) != bytes.size()) {
        ADD_FAILURE() << "Pillow's answer for " << path << " is cut short";
        image.width = image.height = 0;
        return image;
    }
    image.pixels.resize(count);
    const std::uint8_t* p = bytes.data();
    for (std::size_t i = 0; i < count; ++i, p += 4) image.pixels[i] = {p[0], p[1], p[2], p[3]};
    return image;
}

namespace {

class StraightSink : public TBitmapSink {
public:
    bool WantsStraightAlpha() const override {
        asked_ = true;
        return true;
    }
    void Begin(const TImageInfo& header) override {
        EXPECT_TRUE(asked_) << "Begin before WantsStraightAlpha was asked";
        info = header;
        TBitmapSink::Begin(header);
    }
    TImageInfo info;

private:
    mutable bool asked_ = false;
};

}  // namespace

Rgba StraightPicture::At(int x, int y) const {
    if (info.Format == pf32bit && info.HasAlpha) {
        const std::uint8_t* p = bitmap.ScanLine(y) + 4 * std::size_t(x);
        return {p[2], p[1], p[0], p[3]};
    }
    return PixelOf(bitmap, x, y);
}

StraightPicture DecodeStraight(const fs::path& path, const char* format) {
    StraightSink sink;
    DecodeFile(path.string(), Format(format), sink);
    return {sink.info, sink.Bitmap};
}

StraightPicture DecodeStraightBytes(const std::vector<std::uint8_t>& bytes, const char* format) {
    StraightSink sink;
    DecodeMemory(bytes.data(), bytes.size(), Format(format), sink);
    return {sink.info, sink.Bitmap};
}

Rgba PixelOf(const TBitmap& bitmap, int x, int y) {
    const TColor c = bitmap.Canvas().Pixel(x, y);
    std::uint8_t a = 255;
    if (bitmap.PixelFormat() == pf32bit && bitmap.HasAlpha()) a = bitmap.ScanLine(y)[4 * x + 3];
    return {GetRValue(c), GetGValue(c), GetBValue(c), a};
}

int CountDifferentPixels(const StraightPicture& got, const std::vector<Rgba>& want) {
    const int width = got.bitmap.Width(), height = got.bitmap.Height();
    EXPECT_EQ(want.size(), std::size_t(width) * std::size_t(height));
    if (want.size() != std::size_t(width) * std::size_t(height)) return int(want.size());
    int differing = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgba g = got.At(x, y), w = want[std::size_t(y) * std::size_t(width) + std::size_t(x)];
            if (g != w && ++differing <= 3)
                ADD_FAILURE() << "(" << x << ", " << y << "): ours " << int(g.r) << "," << int(g.g) << ","
                              << int(g.b) << "," << int(g.a) << " Pillow " << int(w.r) << "," << int(w.g) << ","
                              << int(w.b) << "," << int(w.a);
        }
    return differing;
}

}  // namespace codectest
