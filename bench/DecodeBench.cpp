// Figures for the picture decoders on large files: for each format the time
// of a plain decode of the file straight through the same library into one
// freshly allocated full-size buffer (for BMP: one fread of the pixel rows),
// beside the time of LoadPicture, which decodes through the format table into
// a full TBitmap by way of TBitmapSink. Both are run in the same process,
// interleaved (the order alternating from run to run), and their medians
// shown with the ratio LoadPicture / plain.
//
// Peak memory: each of the two loads is also run once in a forked child that
// executes this program afresh (so that heap pages the parent has touched do
// not hide the child's growth), resets its peak resident size
// (/proc/self/clear_refs, "5") just before the load and reads VmHWM from
// /proc/self/status after it. The figure
// shown is that peak minus the child's resident size before the load, in MiB,
// beside the size of the decoded picture.
//
// The inputs are written at start-up into a temporary folder, with the
// libraries' own encoders (and a hand-written BMP), so no tool or file from
// outside is needed: a 6000 x 4000 JPEG (quality 90), a 6000 x 4000 RGB PNG,
// a 6000 x 4000 24-bit BMP and a 2000 x 2000 GIF with a 256-entry table. The
// pictures are smooth gradients with noise, so the compressors have real work.
//
//     gloxen_bench_decode [runs]      (default 5; 1 to 15)

#include "Graphics.h"
#include "ImageCodec.h"

#include "Exception.h"

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <sys/mman.h>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "gloxen_bench_decode: %s\n", what.c_str());
    std::exit(1);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// ---------------------------------------------------------------------------
// The test pictures

// A deterministic photo-like pixel source: smooth gradients with noise.
class PictureSource {
public:
    PictureSource(int width, int height) : width_(width), height_(height) {}
    // Row y as R, G, B bytes.
    void Row(int y, std::uint8_t* rgb) {
        for (int x = 0; x < width_; ++x, rgb += 3) {
            const int noise = int(Next() % 17) - 8;
            rgb[0] = Clamp(x * 255 / width_ + noise);
            rgb[1] = Clamp(y * 255 / height_ + noise / 2);
            rgb[2] = Clamp(128 + ((x - width_ / 2) * (y - height_ / 2)) / (width_ * height_ / 512) + noise);
        }
    }

private:
    static std::uint8_t Clamp(int v) { return std::uint8_t(std::clamp(v, 0, 255)); }
    std::uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    int width_, height_;
    std::uint32_t state_ = 2463534242u;
};

void WriteJpeg(const fs::path& path, int width, int height) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) Die("cannot write " + path.string());
    jpeg_compress_struct c{};
    jpeg_error_mgr errors{};
    c.err = jpeg_std_error(&errors);  // the default handler exits on errors
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, file);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    PictureSource source(width, height);
    std::vector<std::uint8_t> row(std::size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        source.Row(y, row.data());
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(file);
}

[[noreturn]] void PngError(png_structp, png_const_charp message) { Die(std::string("libpng: ") + message); }
void PngWarning(png_structp, png_const_charp) {}

void WritePng(const fs::path& path, int width, int height) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) Die("cannot write " + path.string());
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    PictureSource source(width, height);
    std::vector<std::uint8_t> row(std::size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        source.Row(y, row.data());
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

void PutLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(std::uint8_t(value >> (8 * i)));
}

// A bottom-up 24-bit BMP with a BITMAPINFOHEADER: 54 bytes of headers, then
// the rows, bottom row first, each padded to 4 bytes.
void WriteBmp(const fs::path& path, int width, int height) {
    const std::uint32_t stride = (std::uint32_t(width) * 3 + 3) & ~3u;
    const std::uint32_t pixelBytes = stride * std::uint32_t(height);
    std::vector<std::uint8_t> header;
    header.push_back('B');
    header.push_back('M');
    PutLe(header, 54 + pixelBytes, 4);
    PutLe(header, 0, 4);
    PutLe(header, 54, 4);
    PutLe(header, 40, 4);
    PutLe(header, std::uint32_t(width), 4);
    PutLe(header, std::uint32_t(height), 4);
    PutLe(header, 1, 2);
    PutLe(header, 24, 2);
    PutLe(header, 0, 4);  // BI_RGB
    PutLe(header, pixelBytes, 4);
    PutLe(header, 2835, 4);
    PutLe(header, 2835, 4);
    PutLe(header, 0, 4);
    PutLe(header, 0, 4);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
    // Rows are made top to bottom and stored bottom-up, so the picture is
    // built in memory first; this is set-up, not measured.
    PictureSource source(width, height);
    std::vector<std::uint8_t> pixels(pixelBytes, 0);
    std::vector<std::uint8_t> rgb(std::size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        source.Row(y, rgb.data());
        std::uint8_t* row = pixels.data() + std::size_t(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            row[3 * x + 0] = rgb[3 * std::size_t(x) + 2];
            row[3 * x + 1] = rgb[3 * std::size_t(x) + 1];
            row[3 * x + 2] = rgb[3 * std::size_t(x) + 0];
        }
    }
    out.write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size()));
    if (!out) Die("cannot write " + path.string());
}

// One opaque frame covering the screen, a 256-entry global table (a colour
// cube of 8 x 8 x 4 levels): the plain palette case of the reader.
void WriteGif(const fs::path& path, int width, int height) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif) Die("EGifOpenFileName failed");
    std::vector<GifColorType> colours(256);
    for (int i = 0; i < 256; ++i)
        colours[std::size_t(i)] = {GifByteType((i >> 5) * 255 / 7), GifByteType(((i >> 2) & 7) * 255 / 7),
                                   GifByteType((i & 3) * 255 / 3)};
    ColorMapObject* map = GifMakeMapObject(256, colours.data());
    if (EGifPutScreenDesc(gif, width, height, 8, 0, map) == GIF_ERROR ||
        EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_ERROR)
        Die("giflib could not start the file");
    GifFreeMapObject(map);
    PictureSource source(width, height);
    std::vector<std::uint8_t> rgb(std::size_t(width) * 3);
    std::vector<GifPixelType> line(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
        source.Row(y, rgb.data());
        for (int x = 0; x < width; ++x)
            line[std::size_t(x)] = GifPixelType((rgb[3 * std::size_t(x)] >> 5) << 5 |
                                                (rgb[3 * std::size_t(x) + 1] >> 5) << 2 |
                                                rgb[3 * std::size_t(x) + 2] >> 6);
        if (EGifPutLine(gif, line.data(), width) == GIF_ERROR) Die("EGifPutLine failed");
    }
    if (EGifCloseFile(gif, &error) == GIF_ERROR) Die("EGifCloseFile failed");
}

// ---------------------------------------------------------------------------
// Plain decodes: the library alone, into one new buffer of the whole picture.
// Each returns the buffer's size in bytes.

// The plain decodes' frame: by default a plain new[], as a program that does
// nothing special would have; or, on request, allocated the way
// our bitmaps are (2 MiB aligned, offered for huge pages), so that the
// comparison is of the decoding path alone. Chosen by the environment
// variable GLOXEN_BENCH_PLAIN_HUGE_PAGES=1 (forked children see it too).
bool g_plainHugePages = false;

struct FrameFree {
    void operator()(std::uint8_t* bytes) const { std::free(bytes); }
};
using Frame = std::unique_ptr<std::uint8_t[], FrameFree>;

Frame NewFrame(std::size_t size) {
    void* bytes = nullptr;
    constexpr std::size_t kHugePage = std::size_t(2) << 20;
    if (g_plainHugePages && size >= 4 * kHugePage) {
        if (::posix_memalign(&bytes, kHugePage, size) != 0) Die("out of memory");
        ::madvise(bytes, size, MADV_HUGEPAGE);
    } else {
        bytes = std::malloc(size);
        if (!bytes) Die("out of memory");
    }
    return Frame(static_cast<std::uint8_t*>(bytes));
}

std::size_t PlainJpeg(const fs::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) Die("cannot read " + path.string());
    jpeg_decompress_struct d{};
    jpeg_error_mgr errors{};
    d.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, file);
    jpeg_read_header(&d, TRUE);
    jpeg_start_decompress(&d);
    const std::size_t stride = std::size_t(d.output_width) * std::size_t(d.output_components);
    const std::size_t size = stride * d.output_height;
    Frame pixels = NewFrame(size);
    while (d.output_scanline < d.output_height) {
        JSAMPROW rows[1] = {pixels.get() + stride * d.output_scanline};
        jpeg_read_scanlines(&d, rows, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    std::fclose(file);
    return size;
}

std::size_t PlainPng(const fs::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) Die("cannot read " + path.string());
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_read_info(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const std::size_t stride = png_get_rowbytes(png, info);
    const std::size_t size = stride * height;
    Frame pixels = NewFrame(size);
    for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, pixels.get() + stride * y, nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return size;
}

std::size_t PlainBmp(const fs::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) Die("cannot read " + path.string());
    std::uint8_t header[54];
    if (std::fread(header, 1, sizeof header, file) != sizeof header) Die("short BMP");
    auto le32 = [&](int at) {
        return std::uint32_t(header[at]) | std::uint32_t(header[at + 1]) << 8 | std::uint32_t(header[at + 2]) << 16 |
               std::uint32_t(header[at + 3]) << 24;
    };
    const std::size_t stride = (std::size_t(le32(18)) * 3 + 3) & ~std::size_t(3);
    const std::size_t size = stride * le32(22);
    Frame pixels = NewFrame(size);
    std::fseek(file, long(le32(10)), SEEK_SET);
    if (std::fread(pixels.get(), 1, size, file) != size) Die("short BMP");
    std::fclose(file);
    return size;
}

std::size_t PlainGif(const fs::path& path) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (!gif) Die("DGifOpenFileName failed");
    for (;;) {
        GifRecordType record;
        if (DGifGetRecordType(gif, &record) == GIF_ERROR) Die("giflib: bad record");
        if (record == IMAGE_DESC_RECORD_TYPE) break;
        if (record != EXTENSION_RECORD_TYPE) Die("giflib: no image");
        int code;
        GifByteType* block;
        DGifGetExtension(gif, &code, &block);
        while (block) DGifGetExtensionNext(gif, &block);
    }
    if (DGifGetImageDesc(gif) == GIF_ERROR) Die("giflib: bad image descriptor");
    const std::size_t width = std::size_t(gif->Image.Width), height = std::size_t(gif->Image.Height);
    const std::size_t size = width * height;
    Frame pixels = NewFrame(size);
    for (std::size_t y = 0; y < height; ++y)
        if (DGifGetLine(gif, pixels.get() + y * width, int(width)) == GIF_ERROR) Die("giflib: bad data");
    DGifCloseFile(gif, &error);
    return size;
}

// ---------------------------------------------------------------------------
// Our loader. Returns the bitmap's pixel bytes, or 0 with `error` set when
// the decoder refuses the file (a decoder not written yet, for instance).

std::size_t Ours(const fs::path& path, const TImageFormat& format, std::string* error) {
    try {
        const TBitmap bitmap = LoadPicture(path.string(), format);
        return RowStride(bitmap.Width(), BitsPerPixel(bitmap.PixelFormat())) * std::size_t(bitmap.Height());
    } catch (const Exception& e) {
        if (error) *error = e.Message();
        return 0;
    }
}

// The window's preview of a loaded picture: a smooth reduction to at most 256
// pixels on the longer side (the window's own rounding of the ratio aside).
TBitmap Preview(const TBitmap& bitmap) {
    const int w = bitmap.Width(), h = bitmap.Height();
    if (w <= 256 && h <= 256) return bitmap;
    const int pw = w >= h ? 256 : std::max(1, int(std::int64_t(w) * 256 / h));
    const int ph = h >= w ? 256 : std::max(1, int(std::int64_t(h) * 256 / w));
    return SmoothShrink(bitmap, pw, ph);
}

// Our loader with the preview the window makes, as the window holds both.
std::size_t OursWithPreview(const fs::path& path, const TImageFormat& format) {
    try {
        const TBitmap bitmap = LoadPicture(path.string(), format);
        const TBitmap preview = Preview(bitmap);
        return RowStride(bitmap.Width(), BitsPerPixel(bitmap.PixelFormat())) * std::size_t(bitmap.Height());
    } catch (const Exception&) {
        return 0;
    }
}

// ---------------------------------------------------------------------------
// Peak memory of one load in a forked child

long StatusKiB(const char* field) {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return -1;
    char line[256];
    long value = -1;
    const std::size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') value = std::atol(line + length + 1);
    std::fclose(status);
    return value;
}

// Run in a child started afresh (fork, then exec of this program with
// "--peak"), so that no memory the parent has already touched can hide the
// child's growth: resets the peak resident size, loads the file once and
// prints the growth of the peak in KiB, or -1.
int PeakChildMain(bool plain, const TImageFormat* format, const fs::path& path,
                  std::size_t (*plainDecode)(const fs::path&)) {
    long result = -1;
    std::FILE* reset = std::fopen("/proc/self/clear_refs", "w");
    if (reset && std::fputs("5", reset) >= 0 && std::fclose(reset) == 0) {
        const long before = StatusKiB("VmRSS");
        const std::size_t bytes = plain ? plainDecode(path) : OursWithPreview(path, *format);
        if (bytes > 0) result = StatusKiB("VmHWM") - before;
    }
    std::printf("%ld\n", result);
    return 0;
}

// The growth of the peak resident size during one load of `path` in a child
// process, in KiB; -1 when it could not be measured or the load failed.
long PeakGrowthKiB(const char* which, const fs::path& path) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return -1;
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        const char* args[] = {"gloxen_bench_decode", "--peak", which, path.c_str(), nullptr};
        ::execv("/proc/self/exe", const_cast<char* const*>(args));
        _exit(127);
    }
    ::close(pipeEnds[1]);
    char text[64] = {};
    std::size_t got = 0;
    for (ssize_t n; got < sizeof text - 1 && (n = ::read(pipeEnds[0], text + got, sizeof text - 1 - got)) > 0;)
        got += std::size_t(n);
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || got == 0) return -1;
    return std::atol(text);
}

// The converter's kind of sink: it keeps 256 sampled rows of the picture
// (one row buffer, copied nowhere). With `skip`, it tells the decoder which
// rows it wants, so a decoder that can pass over rows does; without, every
// row is decoded and dropped.
class SampledRowsSink : public IRowSink {
public:
    explicit SampledRowsSink(bool skip) : skip_(skip) {}
    void Begin(const TImageInfo& info) override {
        height_ = info.Height;
        row_.assign(RowStride(info.Width, BitsPerPixel(info.Format)), 0);
    }
    bool WantsRow(int y) const override {
        if (!skip_) return true;
        // Row y is sampled when some j in [0, 256) has floor(j * height / 256) == y.
        const std::int64_t j = (std::int64_t(y) * 256 + height_ - 1) / height_;
        return j < 256 && j * height_ / 256 == y;
    }
    std::uint8_t* RowBuffer(int) override { return row_.data(); }
    void RowDone(int) override { ++delivered; }
    int delivered = 0;

private:
    bool skip_;
    int height_ = 1;
    std::vector<std::uint8_t> row_;
};

int SampledDecode(const fs::path& path, const TImageFormat& format, bool skip) {
    SampledRowsSink sink(skip);
    DecodeFile(path.string(), format, sink);
    return sink.delivered;
}

struct Input {
    const char* label;
    fs::path path;
    const TImageFormat* format;
    std::function<std::size_t(const fs::path&)> plain;
};

double TimeMs(const std::function<void()>& work) {
    const Clock::time_point start = Clock::now();
    work();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    g_plainHugePages = std::getenv("GLOXEN_BENCH_PLAIN_HUGE_PAGES") != nullptr;
    if (argc == 4 && std::strcmp(argv[1], "--peak") == 0) {
        const fs::path path = argv[3];
        const std::string extension = path.extension().string();
        std::size_t (*plainDecode)(const fs::path&) = extension == ".jpg"   ? PlainJpeg
                                                      : extension == ".png" ? PlainPng
                                                      : extension == ".bmp" ? PlainBmp
                                                                            : PlainGif;
        return PeakChildMain(std::strcmp(argv[2], "plain") == 0, FormatForExtension(extension), path, plainDecode);
    }
    const int runs = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 15) : 5;

    std::string pattern = (fs::temp_directory_path() / "gloxen-decode-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) Die("cannot make a temporary folder");
    const fs::path folder = pattern;
    struct Cleanup {
        fs::path folder;
        ~Cleanup() {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        }
    } cleanup{folder};

    std::printf("Writing the test pictures in %s ...\n", folder.c_str());
    std::fflush(stdout);
    WriteJpeg(folder / "big.jpg", 6000, 4000);
    WritePng(folder / "big.png", 6000, 4000);
    WriteBmp(folder / "big.bmp", 6000, 4000);
    WriteGif(folder / "big.gif", 2000, 2000);

    const std::vector<Input> inputs = {
        {"JPEG 6000x4000 q90", folder / "big.jpg", FormatForExtension(".jpg"), PlainJpeg},
        {"PNG 6000x4000 RGB", folder / "big.png", FormatForExtension(".png"), PlainPng},
        {"BMP 6000x4000 24-bit", folder / "big.bmp", FormatForExtension(".bmp"), PlainBmp},
        {"GIF 2000x2000 8-bit", folder / "big.gif", FormatForExtension(".gif"), PlainGif},
    };

    std::printf("%d runs each, interleaved; medians. plain = the library alone into one new buffer;\n"
                "LoadPicture = our decoder into a TBitmap. peak = growth of peak RSS during one load\n"
                "in a forked child (ours with the window's preview made too). preview = the smooth\n"
                "reduction for the preview alone. picture = bytes of the decoded picture (ours; plain's).\n"
                "GLOXEN_BENCH_PLAIN_HUGE_PAGES=1 gives the plain decode our bitmaps' allocation.\n\n",
                runs);
    std::printf("%-22s %8s %10s %10s %6s %10s %10s %10s %18s\n", "input", "file MB", "plain ms", "ours ms", "ratio",
                "preview ms", "plain MiB", "ours MiB", "picture bytes");

    for (const Input& input : inputs) {
        const double fileMb = double(fs::file_size(input.path)) / 1e6;
        std::string error;
        // One untimed load of each: the file in the page cache, and a decoder
        // that refuses the file is found before any timing.
        const std::size_t plainBytes = input.plain(input.path);
        const std::size_t ourBytes = Ours(input.path, *input.format, &error);
        if (ourBytes == 0) {
            std::vector<double> plain;
            for (int r = 0; r < runs; ++r) plain.push_back(TimeMs([&] { input.plain(input.path); }));
            std::printf("%-22s %8.1f %10.1f %10s %6s  LoadPicture refused the file: %s\n", input.label, fileMb,
                        Median(plain), "-", "-", error.c_str());
            std::fflush(stdout);
            continue;
        }

        std::vector<double> plain, ours;
        for (int r = 0; r < runs; ++r) {
            auto timePlain = [&] { plain.push_back(TimeMs([&] { input.plain(input.path); })); };
            auto timeOurs = [&] { ours.push_back(TimeMs([&] { Ours(input.path, *input.format, nullptr); })); };
            if (r % 2 == 0) {
                timePlain();
                timeOurs();
            } else {
                timeOurs();
                timePlain();
            }
        }
        std::vector<double> preview;
        {
            const TBitmap loaded = LoadPicture(input.path.string(), *input.format);
            for (int r = 0; r < runs; ++r) preview.push_back(TimeMs([&] { Preview(loaded); }));
        }
        const long plainPeak = PeakGrowthKiB("plain", input.path);
        const long ourPeak = PeakGrowthKiB("ours", input.path);
        const double plainMs = Median(plain), ourMs = Median(ours);
        std::printf("%-22s %8.1f %10.1f %10.1f %6.3f %10.1f %10.1f %10.1f %9zu / %zu\n", input.label, fileMb, plainMs,
                    ourMs, ourMs / plainMs, Median(preview), plainPeak / 1024.0, ourPeak / 1024.0, ourBytes,
                    plainBytes);
        std::fflush(stdout);
    }

    std::printf("\nSampling 256 rows, as the converter does (%d runs, medians): every row decoded and\n"
                "dropped, against the rows not sampled left out by the decoder.\n\n",
                runs);
    std::printf("%-22s %14s %14s %6s %10s\n", "input", "all rows ms", "skipping ms", "ratio", "delivered");
    for (const Input& input : inputs) {
        if (std::strcmp(input.format->Name, "JPEG") != 0 && std::strcmp(input.format->Name, "BMP") != 0) continue;
        std::vector<double> all, skipping;
        int delivered = 0;
        for (int r = 0; r < runs; ++r) {
            all.push_back(TimeMs([&] { SampledDecode(input.path, *input.format, false); }));
            skipping.push_back(TimeMs([&] { delivered = SampledDecode(input.path, *input.format, true); }));
        }
        std::printf("%-22s %14.1f %14.1f %6.3f %10d\n", input.label, Median(all), Median(skipping),
                    Median(skipping) / Median(all), delivered);
        std::fflush(stdout);
    }
    return 0;
}
