// TBitmap: size, storage, copy-on-write, attributes and the one-bit mask.

#include "BitmapData.h"
#include "Palettes.h"
#include "RowOps.h"

#include "Exception.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include <sys/mman.h>

namespace raster {

void ThrowInvalidPixelFormat() { throw EInvalidGraphic("Invalid pixel format"); }

void PixelBuffer::Free::operator()(std::uint8_t* bytes) const { std::free(bytes); }

std::shared_ptr<PixelBuffer> AllocatePixels(std::size_t size) {
    constexpr std::size_t kHugePage = std::size_t(2) << 20;
    std::shared_ptr<PixelBuffer> buffer;
    try {
        buffer = std::make_shared<PixelBuffer>();
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
    if (size == 0) return buffer;
    void* bytes = nullptr;
    if (size >= 4 * kHugePage) {
        if (::posix_memalign(&bytes, kHugePage, size) != 0) bytes = nullptr;
        if (bytes != nullptr) ::madvise(bytes, size, MADV_HUGEPAGE);  // a hint; refusal changes nothing
    } else {
        bytes = std::malloc(size);
    }
    if (bytes == nullptr) throw EOutOfMemory();
    buffer->bytes.reset(static_cast<std::uint8_t*>(bytes));
    buffer->size = size;
    return buffer;
}

void FillBlankRow(std::uint8_t* row, std::size_t stride, int width, TPixelFormat format, std::uint8_t fourth) {
    if (IsIndexed(format)) {
        std::memset(row, 0, stride);
        return;
    }
    const std::size_t used = std::size_t(width) * std::size_t(BitsPerPixel(format) / 8);
    std::memset(row, 0xFF, used);
    std::memset(row + used, 0, stride - used);
    if (format == pf15bit)
        for (int x = 0; x < width; ++x) row[2 * x + 1] = 0x7F;  // x1r5g5b5: top bit clear
    if ((format == pf32bit || format == pfDevice) && fourth != 0xFF)
        for (int x = 0; x < width; ++x) row[4 * x + 3] = fourth;
}

}  // namespace raster

using namespace raster;

std::size_t CheckedPixelBytes(int width, int height, int bits, std::size_t& stride) {
    if (width < 0 || height < 0) throw EOutOfResources();
    const std::uint64_t rowBits = std::uint64_t(width) * std::uint64_t(bits) + 31;
    const std::uint64_t rowBytes = rowBits / 32 * 4;
    const auto refuse = [&] {
        throw EOutOfMemory("Not enough memory for a bitmap of " + std::to_string(width) + " x " +
                           std::to_string(height) + " pixels at " + std::to_string(bits) + " bits per pixel");
    };
    if (rowBits > std::uint64_t(std::numeric_limits<std::int32_t>::max())) refuse();
    // rowBytes < 2^28 here, so the product cannot overflow 64 bits.
    if (rowBytes * std::uint64_t(height) > kMaxPixelBytes) refuse();
    stride = std::size_t(rowBytes);
    return std::size_t(rowBytes * std::uint64_t(height));
}

void CheckImageLimits(int width, int height, int bitsPerPixel) {
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width <= 0 || height <= 0) throw EInvalidImage("The picture has no pixels (" + size + ")");
    if (width > kMaxImageSide || height > kMaxImageSide)
        throw EInvalidImage("The picture is too large (" + size + " pixels; at most " +
                            std::to_string(kMaxImageSide) + " on a side)");
    if (std::uint64_t(width) * std::uint64_t(height) > kMaxImagePixels)
        throw EInvalidImage("The picture is too large (" + size + " pixels; at most " +
                            std::to_string(kMaxImagePixels) + " in all)");
    std::size_t stride = 0;
    CheckedPixelBytes(width, height, bitsPerPixel, stride);
}

TBitmap::TBitmap() : data_(std::make_shared<Data>()), canvas_(*this) {}

TBitmap::TBitmap(const TBitmap& other) : data_(std::make_shared<Data>(*other.data_)), canvas_(*this) {
    canvas_.Brush = other.canvas_.Brush;
}

TBitmap& TBitmap::operator=(const TBitmap& other) {
    if (this != &other) {
        data_ = std::make_shared<Data>(*other.data_);
        canvas_.Brush = other.canvas_.Brush;
    }
    return *this;
}

TBitmap::~TBitmap() = default;

int TBitmap::Width() const { return data_->width; }
int TBitmap::Height() const { return data_->height; }
bool TBitmap::Empty() const { return data_->width == 0 || data_->height == 0; }

void TBitmap::SetSize(int width, int height) {
    Data& d = *data_;
    if (width < 0 || height < 0) throw EOutOfResources();
    if (width == d.width && height == d.height) return;
    const int bits = BitsPerPixel(d.format);
    std::size_t stride = 0;
    const std::size_t size = CheckedPixelBytes(width, height, bits, stride);
    auto pixels = AllocatePixels(size);
    const std::uint8_t fourth = FourthByte(d.format, d.hasAlpha);

    const int keepW = std::min(width, d.width);
    const int keepH = std::min(height, d.height);
    for (int y = 0; size > 0 && y < height; ++y) {
        std::uint8_t* row = pixels->bytes.get() + stride * std::size_t(y);
        FillBlankRow(row, stride, width, d.format, fourth);
        if (y >= keepH || keepW == 0) continue;
        const std::uint8_t* old = d.Row(y);
        if (bits >= 8) {
            std::memcpy(row, old, std::size_t(keepW) * std::size_t(bits / 8));
        } else {
            DispatchFormat(d.format, [&](auto f) {
                using F = decltype(f);
                if constexpr (F::kIndexed)
                    for (int x = 0; x < keepW; ++x) F::SetIndex(row, x, F::Index(old, x));
            });
        }
    }
    d.width = width;
    d.height = height;
    d.stride = stride;
    d.pixels = size > 0 ? std::move(pixels) : nullptr;
}

void TBitmap::SetSizeForOverwrite(int width, int height) {
    Data& d = *data_;
    if (width < 0 || height < 0) throw EOutOfResources();
    std::size_t stride = 0;
    const std::size_t size = CheckedPixelBytes(width, height, BitsPerPixel(d.format), stride);
    auto pixels = AllocatePixels(size);
    d.width = width;
    d.height = height;
    d.stride = stride;
    d.pixels = size > 0 ? std::move(pixels) : nullptr;
}

TPixelFormat TBitmap::PixelFormat() const { return data_->format; }

const std::vector<TColor>& TBitmap::Palette() const { return data_->palette; }

void TBitmap::SetPalette(const std::vector<TColor>& palette) {
    Data& d = *data_;
    if (!IsIndexed(d.format)) throw EInvalidGraphic("Only a bitmap of 8 bits or fewer has a palette");
    if (palette.size() > (std::size_t(1) << BitsPerPixel(d.format)))
        throw EInvalidGraphic("Too many palette entries for the pixel format");
    d.palette = palette;
    for (TColor& c : d.palette) c &= 0xFFFFFFu;
    d.matcher.reset();
}

bool TBitmap::Transparent() const { return data_->transparent; }
void TBitmap::SetTransparent(bool value) { data_->transparent = value; }

TColor TBitmap::TransparentColor() const {
    const Data& d = *data_;
    if (d.transparentMode == tmFixed) return d.transparentColor;
    if (d.format == pf1bit) return clWhite;
    return canvas_.Pixel(0, d.height - 1);
}

void TBitmap::SetTransparentColor(TColor color) {
    data_->transparentColor = color;
    data_->transparentMode = tmFixed;
}

TTransparentMode TBitmap::TransparentMode() const { return data_->transparentMode; }
void TBitmap::SetTransparentMode(TTransparentMode mode) { data_->transparentMode = mode; }

bool TBitmap::HasAlpha() const { return data_->hasAlpha && data_->format == pf32bit; }
void TBitmap::SetHasAlpha(bool value) { data_->hasAlpha = value; }

TCanvas& TBitmap::Canvas() { return canvas_; }
const TCanvas& TBitmap::Canvas() const { return canvas_; }

const std::uint8_t* TBitmap::ScanLine(int y) const {
    if (y < 0 || y >= data_->height || !data_->pixels) throw EInvalidGraphic("Scan line index out of range");
    return data_->Row(y);
}

std::uint8_t* TBitmap::ScanLine(int y) {
    if (y < 0 || y >= data_->height || !data_->pixels) throw EInvalidGraphic("Scan line index out of range");
    Unshare();
    return data_->Row(y);
}

void TBitmap::Unshare() {
    Data& d = *data_;
    if (!d.pixels || d.pixels.use_count() == 1) return;
    auto own = AllocatePixels(d.pixels->size);
    std::memcpy(own->bytes.get(), d.pixels->bytes.get(), d.pixels->size);
    d.pixels = std::move(own);
}

void TBitmap::Mask(TColor key) {
    Data& d = *data_;
    std::size_t stride = 0;
    const std::size_t size = CheckedPixelBytes(d.width, d.height, 1, stride);
    auto pixels = AllocatePixels(size);
    if (size > 0) std::memset(pixels->bytes.get(), 0, size);
    const auto palette = FullPalette(d.palette);
    std::vector<TColor> colors(std::size_t(d.width));
    if (size > 0) DispatchFormat(d.format, [&](auto f) {
        using F = decltype(f);
        for (int y = 0; y < d.height; ++y) {
            ReadColors<F>(d.Row(y), nullptr, 0, d.width, palette.data(), colors.data());
            std::uint8_t* row = pixels->bytes.get() + stride * std::size_t(y);
            for (int x = 0; x < d.width; ++x)
                if (colors[std::size_t(x)] == key) Format1::SetIndex(row, x, 1);
        }
    });
    d.format = pf1bit;
    d.palette = MonochromePalette();
    d.matcher.reset();
    d.stride = stride;
    d.pixels = size > 0 ? std::move(pixels) : nullptr;
    d.hasAlpha = false;
}

int BitsPerPixel(TPixelFormat format) {
    switch (format) {
        case pf1bit: return 1;
        case pf4bit: return 4;
        case pf8bit: return 8;
        case pf15bit:
        case pf16bit: return 16;
        case pf24bit: return 24;
        case pfDevice:
        case pf32bit: return 32;
        default: ThrowInvalidPixelFormat();
    }
}

std::size_t RowStride(int width, int bitsPerPixel) {
    if (width < 0 || bitsPerPixel <= 0) throw EOutOfResources();
    const std::uint64_t rowBits = std::uint64_t(width) * std::uint64_t(bitsPerPixel) + 31;
    if (rowBits > std::uint64_t(std::numeric_limits<std::int32_t>::max())) throw EOutOfResources();
    return std::size_t(rowBits / 32 * 4);
}
