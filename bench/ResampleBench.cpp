// Figures for the smooth scaling of a large picture into icon sizes: our
// streaming TResampler beside stb_image_resize (Debian's libstb-dev), which
// also scales in linear light with opacity weighting but needs the whole
// picture in memory.
//
// The picture is 6000 x 4000 straight B, G, R, A pixels made up at start-up:
// gradients with noise, hard-edged bars and a disc whose edge fades to
// transparent. It is scaled to 256, 48 and 16 pixels square:
//   - ours: rows handed over one at a time, as the converter does while a
//     decoder runs (here they are read from the made-up picture, which stands
//     in for the decoder and is not counted);
//   - stb: stbir_resize_uint8_generic on the whole picture, sRGB colour space,
//     alpha channel 3 (stb premultiplies by it), edges clamped. stb has box
//     but no Lanczos filter: its Catmull-Rom and Mitchell cubics stand beside
//     our Lanczos-3.
// For reference, the time our JPEG decoder takes for the same picture
// (written at quality 90 by libjpeg) into a sink that drops the rows.
//
// Time: median of the runs. Memory: the largest heap in use during the call,
// above what was in use before it, counted by this program's operator new
// and stb's allocation hook (stb also needs the whole source, 96 MB, which
// the "with source" column adds). Error: PSNR between ours and stb, over
// premultiplied linear light and opacity in 0..1.
//
//     gloxen_bench_resample [runs]      (default 5; 1 to 15)

#include "ImageCodec.h"
#include "Resample.h"

#include <jpeglib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <malloc.h>

// ---------------------------------------------------------------------------
// Heap accounting: every allocation of this program goes through these.

namespace {
std::atomic<std::size_t> gInUse{0}, gPeak{0};

void* Counted(std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) return nullptr;
    const std::size_t now = gInUse += malloc_usable_size(p);
    std::size_t peak = gPeak.load();
    while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
    }
    return p;
}
void Uncounted(void* p) {
    if (!p) return;
    gInUse -= malloc_usable_size(p);
    std::free(p);
}
}  // namespace

void* operator new(std::size_t size) {
    if (void* p = Counted(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { Uncounted(p); }
void operator delete[](void* p) noexcept { Uncounted(p); }
void operator delete(void* p, std::size_t) noexcept { Uncounted(p); }
void operator delete[](void* p, std::size_t) noexcept { Uncounted(p); }

#define STBIR_MALLOC(size, context) ((void)(context), Counted(size))
#define STBIR_FREE(pointer, context) ((void)(context), Uncounted(pointer))
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 6000, kHeight = 4000;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The made-up picture, straight B, G, R, A.
std::vector<std::uint8_t> MakePicture() {
    std::vector<std::uint8_t> p(std::size_t(kWidth) * kHeight * 4);
    std::uint32_t state = 12345;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    const double cx = kWidth * 0.7, cy = kHeight * 0.5, radius = kHeight * 0.3;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            std::uint8_t* q = p.data() + (std::size_t(y) * kWidth + std::size_t(x)) * 4;
            const int noise = int(next() % 17) - 8;
            const bool bar = (x / 150) % 4 == 0 && y < kHeight / 2;
            q[0] = std::uint8_t(std::clamp(y * 255 / kHeight + noise, 0, 255));
            q[1] = bar ? 0 : std::uint8_t(std::clamp(128 + noise * 3, 0, 255));
            q[2] = bar ? 255 : std::uint8_t(std::clamp(x * 255 / kWidth + noise, 0, 255));
            // Opaque, except around the disc, whose edge fades out over 40 pixels.
            const double d = std::hypot(x - cx, y - cy) - radius;
            q[3] = d < 0 ? 255 : d > 40 ? (x > kWidth / 2 ? 0 : 255) : std::uint8_t(255 - d * 255 / 40);
        }
    return p;
}

struct TRun {
    double ms = 0;
    std::size_t peak = 0;
    std::vector<std::uint8_t> bgra;  // the result, straight B, G, R, A
};

TRun Ours(const std::vector<std::uint8_t>& picture, int size, TResampleFilter filter, int runs) {
    std::vector<double> times;
    TRun run;
    for (int r = 0; r < runs; ++r) {
        const std::size_t before = gInUse;
        gPeak = before;
        const auto start = Clock::now();
        TResampler resampler(kWidth, kHeight, {0, 0, kWidth, kHeight}, size, size, {0, 0, size, size}, filter);
        for (int y = 0; y < kHeight; ++y)
            if (resampler.NeedsRow(y)) resampler.AddRow(y, picture.data() + std::size_t(y) * kWidth * 4);
        TRgbaImage result = resampler.Result();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        run.peak = gPeak - before;
        run.bgra = std::move(result.Pixels);
    }
    run.ms = Median(times);
    return run;
}

TRun Stb(const std::vector<std::uint8_t>& picture, int size, stbir_filter filter, int runs) {
    std::vector<double> times;
    TRun run;
    for (int r = 0; r < runs; ++r) {
        std::vector<std::uint8_t> out(std::size_t(size) * size * 4);
        const std::size_t before = gInUse;
        gPeak = before;
        const auto start = Clock::now();
        if (!stbir_resize_uint8_generic(picture.data(), kWidth, kHeight, 0, out.data(), size, size, 0, 4, 3, 0,
                                        STBIR_EDGE_CLAMP, filter, STBIR_COLORSPACE_SRGB, nullptr)) {
            std::fprintf(stderr, "gloxen_bench_resample: stb failed\n");
            std::exit(1);
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        run.peak = gPeak - before;
        run.bgra = std::move(out);
    }
    run.ms = Median(times);
    return run;
}

double Linear(int v) {
    const double c = v / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    double squares = 0;
    for (std::size_t i = 0; i < a.size(); i += 4) {
        const double aa = a[i + 3] / 255.0, ba = b[i + 3] / 255.0;
        for (int c = 0; c < 3; ++c) {
            const double d = Linear(a[i + std::size_t(c)]) * aa - Linear(b[i + std::size_t(c)]) * ba;
            squares += d * d;
        }
        squares += (aa - ba) * (aa - ba);
    }
    const double mse = squares / double(a.size());
    return mse == 0 ? INFINITY : 10 * std::log10(1 / mse);
}

// The picture as a quality-90 JPEG in memory (opacity dropped).
std::vector<std::uint8_t> Jpeg(const std::vector<std::uint8_t>& picture) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = kWidth;
    c.image_height = kHeight;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<std::uint8_t> rgb(std::size_t(kWidth) * 3);
    for (int y = 0; y < kHeight; ++y) {
        const std::uint8_t* p = picture.data() + std::size_t(y) * kWidth * 4;
        for (int x = 0; x < kWidth; ++x) {
            rgb[std::size_t(x) * 3 + 0] = p[x * 4 + 2];
            rgb[std::size_t(x) * 3 + 1] = p[x * 4 + 1];
            rgb[std::size_t(x) * 3 + 2] = p[x * 4 + 0];
        }
        JSAMPROW row = rgb.data();
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

// A sink that takes every row into one reused buffer and drops it.
class TDropSink : public IRowSink {
public:
    void Begin(const TImageInfo& info) override { row_.resize(RowStride(info.Width, BitsPerPixel(info.Format))); }
    std::uint8_t* RowBuffer(int) override { return row_.data(); }
    void RowDone(int) override {}

private:
    std::vector<std::uint8_t> row_;
};

double DecodeMs(const std::vector<std::uint8_t>& jpeg, int runs) {
    const TImageFormat* format = FormatForExtension(".jpg");
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        TDropSink sink;
        const auto start = Clock::now();
        DecodeMemory(jpeg.data(), jpeg.size(), *format, sink);
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return Median(times);
}

std::string Mib(std::size_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", double(bytes) / (1024.0 * 1024.0));
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    if (runs < 1 || runs > 15) {
        std::fprintf(stderr, "usage: gloxen_bench_resample [runs 1..15]\n");
        return 2;
    }
    const std::vector<std::uint8_t> picture = MakePicture();
    const std::size_t sourceBytes = picture.size();
    const double decode = DecodeMs(Jpeg(picture), runs);
    std::printf("6000 x 4000 straight BGRA (%s MiB), %d runs, medians; our JPEG decode of it (q90, rows dropped): "
                "%.0f ms\n\n",
                Mib(sourceBytes).c_str(), runs, decode);
    std::printf("%-5s %-26s %9s %12s %16s %14s\n", "size", "method", "time ms", "heap MiB", "with source MiB",
                "PSNR vs ours");

    struct TPair {
        const char* ours;
        TResampleFilter filter;
        std::vector<std::pair<const char*, stbir_filter>> stb;
    };
    const TPair pairs[] = {
        {"ours nearest", TResampleFilter::Nearest, {}},
        {"ours box", TResampleFilter::Box, {{"stb box", STBIR_FILTER_BOX}}},
        {"ours lanczos-3",
         TResampleFilter::Lanczos3,
         {{"stb catmull-rom", STBIR_FILTER_CATMULLROM}, {"stb mitchell", STBIR_FILTER_MITCHELL}}},
    };
    for (int size : {256, 48, 16}) {
        for (const TPair& pair : pairs) {
            const TRun ours = Ours(picture, size, pair.filter, runs);
            std::printf("%-5d %-26s %9.1f %12s %16s %14s\n", size, pair.ours, ours.ms, Mib(ours.peak).c_str(), "-",
                        "-");
            for (const auto& [name, filter] : pair.stb) {
                const TRun stb = Stb(picture, size, filter, runs);
                char psnr[32];
                std::snprintf(psnr, sizeof psnr, "%.1f dB", Psnr(ours.bgra, stb.bgra));
                std::printf("%-5d %-26s %9.1f %12s %16s %14s\n", size, name, stb.ms, Mib(stb.peak).c_str(),
                            Mib(stb.peak + sourceBytes).c_str(), psnr);
            }
        }
        std::printf("\n");
    }
    return 0;
}
