// The yardstick for the converter's PNG speed: a plain libpng decode of one
// PNG file into one full-size buffer, with the simplest use of the library
// (read the header, allocate every row, png_read_image, done). No transform
// is asked for, so the rows arrive exactly as stored: for an 8-bit RGB file
// that is 3 bytes per pixel. The converter has more work than this (it
// samples and writes an icon as well), so matching this figure means its
// reading costs nothing beyond the library's own inflate and unfiltering.
//
// The convert_bench.py harness runs this as its own process, beside the
// converters, and measures its wall time and peak memory from outside.
//
//     gloxen_bench_plain_png [--time] PICTURE.png
//
// Prints nothing unless --time is given; then it prints the decode time in
// milliseconds (excluding process start-up) on one line. Exit status 1 when
// the file cannot be read or decoded.

#include <png.h>

#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

[[noreturn]] void Die(const char* what, const char* detail) {
    std::fprintf(stderr, "gloxen_bench_plain_png: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
    std::exit(1);
}

void PngError(png_structp png, png_const_charp message) {
    std::fprintf(stderr, "gloxen_bench_plain_png: libpng: %s\n", message);
    png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// Decodes the file and returns the number of bytes of the decoded picture.
// The buffer is touched by the decoder, so its pages count in the peak
// resident size exactly as a real full-frame decode would.
std::size_t Decode(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) Die("cannot open", path);
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (!png) Die("out of memory", nullptr);
    png_infop info = png_create_info_struct(png);
    if (!info) Die("out of memory", nullptr);

    // Declared before setjmp; a libpng error ends the program, so nothing
    // set after setjmp is used on that path.
    std::unique_ptr<png_byte[]> pixels;
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        Die("cannot decode", path);
    }
    png_init_io(png, file);
    png_read_info(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const std::size_t stride = png_get_rowbytes(png, info);
    const std::size_t size = stride * height;
    pixels.reset(new png_byte[size]);
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels.get() + stride * y;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return size;
}

}  // namespace

int main(int argc, char** argv) {
    const bool printTime = argc == 3 && std::strcmp(argv[1], "--time") == 0;
    const char* path = argc == 2 && std::strcmp(argv[1], "--time") != 0 ? argv[1] : printTime ? argv[2] : nullptr;
    if (!path) {
        std::fprintf(stderr, "usage: gloxen_bench_plain_png [--time] PICTURE.png\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const std::size_t size = Decode(path);
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    if (printTime) std::printf("%.1f\n", elapsed.count());
    return size > 0 ? 0 : 1;
}
