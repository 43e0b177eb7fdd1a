#include "Convert_func.h"

#include "Exception.h"
#include "LittleEndian.h"

#include <cstdint>
#include <limits>
#include <new>

using namespace iconbytes;

namespace {

std::vector<std::uint8_t> ZeroedBuffer(std::size_t size) {
    try {
        return std::vector<std::uint8_t>(size);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
}

std::uint32_t ToU32(std::size_t value) {
    if (value > std::numeric_limits<std::uint32_t>::max())
        throw EOutOfResources("The icon is too large for the icon file format");
    return std::uint32_t(value);
}

// Refuses sizes whose arrays would not fit the format's 32-bit fields, before
// the target bitmap or any buffer is allocated. Non-positive sizes are left
// to the bitmap layer, which reports them in its own terms.
void CheckIconSize(int width, int height, int bitsPerPixel) {
    if (width <= 0 || height <= 0)
        return;
    const std::uint64_t colour = IconDIBSize(width, height, bitsPerPixel);
    const std::uint64_t mask = IconDIBSize(width, height, 1);
    ToU32(colour + mask + BitmapInfoHeaderSize);
}

// Blackens every pixel of exactly `key` in a 24- or 32-bit bitmap. Colour
// values have a zero high byte, so a key with one set matches nothing.
void BlackenKeyColour(TBitmap& target, TColor key) {
    if (key > 0xFFFFFF)
        return;
    const int bytesPerPixel = target.PixelFormat() == pf32bit ? 4 : 3;
    const std::uint8_t b = GetBValue(key), g = GetGValue(key), r = GetRValue(key);
    const int width = target.Width();
    for (int y = 0; y < target.Height(); ++y) {
        std::uint8_t* p = target.ScanLine(y);
        for (int x = 0; x < width; ++x, p += bytesPerPixel) {
            if (p[0] == b && p[1] == g && p[2] == r) {
                p[0] = 0;
                p[1] = 0;
                p[2] = 0;
            }
        }
    }
}

// Everything after the picture is in the target at its final format (24 or
// 32 bits): mask, blackening, fetching the arrays and filling the records.
TIconImage FinishIcon(TBitmap& target, int bitCount, bool useTransparent, TColor transparentColor) {
    // The mask is taken before the blackening changes any pixel; the copy
    // shares the pixels until Mask() rewrites its own.
    TBitmap maskBitmap = target;
    maskBitmap.Mask(transparentColor);

    const std::uint32_t maskSize = ToU32(GetDIBSizes(target, 1).ImageSize);
    const std::uint32_t colourSize = ToU32(GetDIBSizes(target, bitCount).ImageSize);
    const std::uint32_t bytesInRes = ToU32(std::uint64_t(colourSize) + maskSize + BitmapInfoHeaderSize);

    TIconImage icon;
    icon.MaskBits = ZeroedBuffer(maskSize);
    icon.ColorBits = ZeroedBuffer(colourSize);

    if (useTransparent) {
        BlackenKeyColour(target, transparentColor);
        GetDIBits(maskBitmap, 1, icon.MaskBits.data(), icon.MaskBits.size());
    }
    GetDIBits(target, bitCount, icon.ColorBits.data(), icon.ColorBits.size());

    const int width = target.Width();
    const int height = target.Height();

    // The fourth byte of a 32-bit pixel is its opacity to every reader that
    // honours it, so it must agree with the mask: 0 where transparent.
    if (bitCount == 32) {
        const std::size_t colourStride = std::size_t(width) * 4;
        const std::size_t maskStride = IconDIBSize(width, 1, 1);
        for (int row = 0; row < height; ++row) {
            std::uint8_t* pixel = icon.ColorBits.data() + colourStride * std::size_t(row);
            const std::uint8_t* maskRow = icon.MaskBits.data() + maskStride * std::size_t(row);
            for (int x = 0; x < width; ++x) {
                const bool transparent = (maskRow[x >> 3] >> (7 - (x & 7))) & 1;
                pixel[std::size_t(x) * 4 + 3] = transparent ? 0 : 255;
            }
        }
    }

    icon.Directory.idReserved = 0;
    icon.Directory.idType = 1;
    icon.Directory.idCount = 1;
    TIconDirEntry& entry = icon.Directory.IdEntries[0];
    entry.bWidth = std::uint8_t(width & 0xFF);
    entry.bHeight = std::uint8_t(height & 0xFF);
    entry.bColorCount = 0;
    entry.bReserved = 0;
    entry.wPlanes = 1;
    entry.wBitCount = std::uint16_t(bitCount);
    entry.dwBytesInRes = bytesInRes;
    entry.dwImageOffset = std::uint32_t(IconDirHeaderSize + IconDirEntrySize * icon.Directory.idCount);

    TBitmapInfoHeader& header = icon.Header;
    header.biSize = BitmapInfoHeaderSize;
    header.biWidth = width;
    header.biHeight = std::int32_t(std::int64_t(height) * 2);
    header.biPlanes = 1;
    header.biBitCount = std::uint16_t(bitCount);
    header.biCompression = 0;
    header.biSizeImage = colourSize;
    return icon;
}

// A white target of the icon's size at the display's depth. A size with a
// zero side gives an empty target, which the size query then refuses.
TBitmap WhiteTarget(int width, int height) {
    TBitmap target;
    target.SetSize(width, height);
    target.Canvas().Brush.Color = clWhite;
    target.Canvas().FillRect(TRect{0, 0, width, height});
    return target;
}

}  // namespace

std::vector<std::uint8_t> IconDirBytes(const TIcondir& dir) {
    if (dir.idCount > dir.IdEntries.size())
        throw Exception("An icon directory holds at most 20 images");
    std::vector<std::uint8_t> bytes(IconDirHeaderSize + IconDirEntrySize * dir.idCount);
    PutU16(&bytes[0], dir.idReserved);
    PutU16(&bytes[2], dir.idType);
    PutU16(&bytes[4], dir.idCount);
    for (std::size_t i = 0; i < dir.idCount; ++i) {
        const TIconDirEntry& e = dir.IdEntries[i];
        std::uint8_t* out = &bytes[IconDirHeaderSize + IconDirEntrySize * i];
        out[0] = e.bWidth;
        out[1] = e.bHeight;
        out[2] = e.bColorCount;
        out[3] = e.bReserved;
        PutU16(out + 4, e.wPlanes);
        PutU16(out + 6, e.wBitCount);
        PutU32(out + 8, e.dwBytesInRes);
        PutU32(out + 12, e.dwImageOffset);
    }
    return bytes;
}

std::array<std::uint8_t, BitmapInfoHeaderSize> BitmapInfoHeaderBytes(const TBitmapInfoHeader& h) {
    std::array<std::uint8_t, BitmapInfoHeaderSize> bytes{};
    PutU32(&bytes[0], h.biSize);
    PutI32(&bytes[4], h.biWidth);
    PutI32(&bytes[8], h.biHeight);
    PutU16(&bytes[12], h.biPlanes);
    PutU16(&bytes[14], h.biBitCount);
    PutU32(&bytes[16], h.biCompression);
    PutU32(&bytes[20], h.biSizeImage);
    PutI32(&bytes[24], h.biXPelsPerMeter);
    PutI32(&bytes[28], h.biYPelsPerMeter);
    PutU32(&bytes[32], h.biClrUsed);
    PutU32(&bytes[36], h.biClrImportant);
    return bytes;
}

std::uint32_t IconDIBSize(int width, int height, int bitsPerPixel) {
    if (width < 0 || height < 0 || bitsPerPixel <= 0)
        throw EOutOfResources();
    const std::uint64_t row = (std::uint64_t(width) * std::uint64_t(bitsPerPixel) + 31) / 32 * 4;
    // Both factors are below 2^37 and 2^31, so the product cannot wrap.
    return ToU32(row * std::uint64_t(height));
}

std::size_t TIconImage::FileSize() const {
    return IconDirHeaderSize + IconDirEntrySize * Directory.idCount + BitmapInfoHeaderSize + ColorBits.size() +
           MaskBits.size();
}

std::vector<std::uint8_t> TIconImage::FileBytes() const {
    std::vector<std::uint8_t> bytes = IconDirBytes(Directory);
    const auto header = BitmapInfoHeaderBytes(Header);
    try {
        bytes.reserve(FileSize());
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
    bytes.insert(bytes.end(), header.begin(), header.end());
    bytes.insert(bytes.end(), ColorBits.begin(), ColorBits.end());
    bytes.insert(bytes.end(), MaskBits.begin(), MaskBits.end());
    return bytes;
}

TIconImage RenderIconEx(const TBitmap& Bitmap, int Width, int Height, bool UseTransparent,
                        TColor TransparentColor, TPixelFormat PixelFormat) {
    // Refuse a format we cannot represent before any work (pfCustom raises).
    BitsPerPixel(PixelFormat);
    const bool trueColour32 = PixelFormat == pf32bit;
    const int bitCount = trueColour32 ? 32 : 24;
    CheckIconSize(Width, Height, bitCount);

    TBitmap target = WhiteTarget(Width, Height);
    if (!target.Empty())
        StretchDrawReduced(target, TRect{0, 0, Width, Height}, Bitmap, PixelFormat);
    target.SetPixelFormat(trueColour32 ? pf32bit : pf24bit);
    return FinishIcon(target, bitCount, UseTransparent, TransparentColor);
}

TIconImage RenderIcon(const TBitmap& Bitmap, bool SmallIcon, bool UseTransparent, int X, int Y) {
    const int size = SmallIcon ? SmallIconSize : LargeIconSize;
    if (X < 0 || Y < 0 || X >= size || Y >= size)
        throw Exception("The pixel (" + std::to_string(X) + ", " + std::to_string(Y) + ") lies outside the " +
                        std::to_string(size) + " x " + std::to_string(size) + " icon");

    TBitmap target = WhiteTarget(size, size);
    target.SetPixelFormat(pf24bit);
    target.Canvas().StretchDraw(TRect{0, 0, size, size}, Bitmap);
    const TColor transparentColor = target.Canvas().Pixel(X, Y);
    return FinishIcon(target, 24, UseTransparent, transparentColor);
}

void WriteIconFile(const std::string& FileName, const TIconImage& Image, TSafeFile::TWriteFunction write,
                   TSafeFile::TSyncFunction sync) {
    const std::vector<std::uint8_t> directory = IconDirBytes(Image.Directory);
    const auto header = BitmapInfoHeaderBytes(Image.Header);
    TSafeFile file(FileName, std::move(write), std::move(sync));
    file.Write(directory.data(), directory.size());
    file.Write(header.data(), header.size());
    file.Write(Image.ColorBits.data(), Image.ColorBits.size());
    file.Write(Image.MaskBits.data(), Image.MaskBits.size());
    file.Commit();
}

void SaveBmpAsIconEx(const TBitmap& Bitmap, const std::string& FileName, int Width, int Height,
                     bool UseTransparent, TColor TransparentColor, TPixelFormat PixelFormat) {
    WriteIconFile(FileName, RenderIconEx(Bitmap, Width, Height, UseTransparent, TransparentColor, PixelFormat));
}

void SaveBmpAsIcon(const TBitmap& Bitmap, const std::string& FileName, bool SmallIcon, bool UseTransparent,
                   int X, int Y) {
    WriteIconFile(FileName, RenderIcon(Bitmap, SmallIcon, UseTransparent, X, Y));
}
