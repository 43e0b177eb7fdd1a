// Figures for the icon writer on a large photo-sized source: the time of the
// render step (everything before the file), the time of the whole
// SaveBmpAsIconEx call, and the peak extra heap memory of one call.
//
// Memory is measured by replacing the global operator new/delete and summing
// malloc_usable_size of the live blocks; the figure is the highest live total
// during one call minus the total before it. Memory the raster core takes by
// other means than operator new would not be counted (it takes none today).
//
//     gloxen_bench_iconwriter [repetitions]      (default 15; medians shown)

#include "Convert_func.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <malloc.h>
#include <new>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};

void* Counted(void* p) {
    if (!p)
        throw std::bad_alloc();
    const std::size_t now = liveBytes += malloc_usable_size(p);
    std::size_t peak = peakBytes.load();
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
    return p;
}

void Uncount(void* p) {
    if (p) {
        liveBytes -= malloc_usable_size(p);
        std::free(p);
    }
}

}  // namespace

void* operator new(std::size_t size) { return Counted(std::malloc(size ? size : 1)); }
void* operator new[](std::size_t size) { return Counted(std::malloc(size ? size : 1)); }
void* operator new(std::size_t size, std::align_val_t align) {
    return Counted(std::aligned_alloc(std::size_t(align), (size + std::size_t(align) - 1) / std::size_t(align) * std::size_t(align)));
}
void* operator new[](std::size_t size, std::align_val_t align) { return operator new(size, align); }
void operator delete(void* p) noexcept { Uncount(p); }
void operator delete[](void* p) noexcept { Uncount(p); }
void operator delete(void* p, std::size_t) noexcept { Uncount(p); }
void operator delete[](void* p, std::size_t) noexcept { Uncount(p); }
void operator delete(void* p, std::align_val_t) noexcept { Uncount(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Uncount(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Uncount(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Uncount(p); }

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A deterministic photo-like 24-bit source: smooth gradients with a fine
// texture, so that every reduction has work to do.
TBitmap MakeSource(int width, int height) {
    TBitmap source;
    source.SetPixelFormat(pf24bit);
    source.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = source.ScanLine(y);
        for (int x = 0; x < width; ++x, p += 3) {
            p[0] = std::uint8_t((x * 255 / width) ^ (y & 15));
            p[1] = std::uint8_t((y * 255 / height) + ((x * y) & 7));
            p[2] = std::uint8_t((x + y) * 255 / (width + height));
        }
    }
    return source;
}

const char* FormatName(TPixelFormat format) {
    switch (format) {
    case pf1bit: return "1";
    case pf4bit: return "4";
    case pf8bit: return "8";
    case pf15bit: return "15";
    case pf16bit: return "16";
    case pf24bit: return "24";
    case pf32bit: return "32";
    default: return "?";
    }
}

double RenderTarget(int size, TPixelFormat format) {
    if (size != 256)
        return 0;
    return format == pf1bit ? 60.0 : 5.0;
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const int sourceWidth = 6000, sourceHeight = 4000;

    std::string pattern = (std::filesystem::temp_directory_path() / "gloxen-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path folder = pattern;
    const std::string file = (folder / "bench.ico").string();

    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    const TBitmap source = MakeSource(sourceWidth, sourceHeight);
    const std::size_t sourceBytes = liveBytes.load();

    std::printf("Source %d x %d, 24 bits (%.1f MB). %d runs per row, medians.\n", sourceWidth, sourceHeight,
                double(sourceBytes) / 1e6, repetitions);
    std::printf("render = all work before the file; write = WriteIconFile (includes fsync);\n"
                "whole = SaveBmpAsIconEx; peak = highest extra heap during one whole call.\n\n");
    std::printf("%-8s %5s %11s %10s %10s %12s  %s\n", "size", "bits", "render ms", "write ms", "whole ms",
                "peak KiB", "render target");

    bool allMet = true;
    std::vector<std::pair<TPixelFormat, double>> render256;
    for (int size : {16, 48, 256}) {
        for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit}) {
            std::vector<double> render, write, whole;
            std::size_t peak = 0;
            // One unmeasured run fills the palette tables and the page cache.
            SaveBmpAsIconEx(source, file, size, size, true, clWhite, format);
            for (int i = 0; i < repetitions; ++i) {
                auto t0 = Clock::now();
                const TIconImage icon = RenderIconEx(source, size, size, true, clWhite, format);
                auto t1 = Clock::now();
                WriteIconFile(file, icon);
                auto t2 = Clock::now();
                render.push_back(Milliseconds(t1 - t0));
                write.push_back(Milliseconds(t2 - t1));
            }
            for (int i = 0; i < repetitions; ++i) {
                const std::size_t base = liveBytes.load();
                peakBytes = base;
                auto t0 = Clock::now();
                SaveBmpAsIconEx(source, file, size, size, true, clWhite, format);
                whole.push_back(Milliseconds(Clock::now() - t0));
                peak = std::max(peak, peakBytes.load() - base);
            }
            const double target = RenderTarget(size, format);
            const double medianRender = Median(render);
            if (size == 256)
                render256.emplace_back(format, medianRender);
            const bool met = target == 0 || medianRender < target;
            allMet &= met;
            char targetText[32] = "";
            if (target > 0)
                std::snprintf(targetText, sizeof targetText, "< %.0f ms %s", target, met ? "met" : "MISSED");
            std::printf("%3dx%-4d %5s %11.3f %10.3f %10.3f %12.1f  %s\n", size, size, FormatName(format), medianRender,
                        Median(write), Median(whole), double(peak) / 1024.0, targetText);
        }
    }

    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    std::printf("\nProcess peak RSS of the writer runs %.1f MB (%.1f MB above the start; the source alone is %.1f MB).\n",
                double(after.ru_maxrss) / 1024.0, double(after.ru_maxrss - before.ru_maxrss) / 1024.0,
                double(sourceBytes) / 1e6);

    // The same picture the slow way, in the same run: reduce a full copy of
    // the source, then stretch it. Machines here are shared and noisy, so
    // the ratio says more than either time alone.
    std::printf("\n256x256 against reducing a full copy first (%d runs, medians):\n", std::min(repetitions, 3));
    std::printf("%5s %12s %12s %8s\n", "bits", "render ms", "full-copy ms", "ratio");
    for (const auto& [format, fast] : render256) {
        std::vector<double> slow;
        for (int i = 0; i < std::min(repetitions, 3); ++i) {
            auto t0 = Clock::now();
            TBitmap copy = source;
            copy.SetPixelFormat(format);
            TBitmap target;
            target.SetSize(256, 256);
            target.Canvas().StretchDraw(TRect{0, 0, 256, 256}, copy);
            slow.push_back(Milliseconds(Clock::now() - t0));
        }
        std::printf("%5s %12.3f %12.3f %7.0fx\n", FormatName(format), fast, Median(slow), Median(slow) / fast);
    }

    std::printf("Render targets %s.\n", allMet ? "all met" : "NOT all met");

    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}
