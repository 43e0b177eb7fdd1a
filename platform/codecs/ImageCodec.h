#pragma once
// Reading picture files: the format table, the row sink every decoder
// delivers to, and the calls that decode a file or a block of memory.
// Plain C++ over the raster core, never Qt: the window and the command-line
// converter use the same decoders through this header.
//
// Every decoder has one shape:
//   1. read the header (size, pixel format, palette);
//   2. check the size with CheckImageLimits (ImageLimits.h) before any buffer
//      sized from the header exists;
//   3. call sink.Begin once, then hand over every row exactly once, complete,
//      in the order the format stores them (bottom-up files deliver the
//      bottom row first), each row with its number (0 = top); a decoder that
//      can pass over rows cheaply may leave out those the sink does not want
//      (IRowSink::WantsRow);
//   4. call sink.End.
// A decoder raises EInvalidImage with a message that names the fault
// ("BMP: truncated palette", "PNG: CRC error in IDAT") and never delivers a
// picture it could not read whole. A file that cannot be opened raises
// EFOpenError.

#include "Graphics.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// What the header of a picture says, as the decoder will deliver it.
struct TImageInfo {
    int Width = 0;
    int Height = 0;
    // pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit or pf32bit. Rows are
    // laid out as TBitmap::ScanLine describes for this format.
    TPixelFormat Format = pf24bit;
    // The colour table of an indexed format (at most 2^bits entries).
    std::vector<TColor> Palette;
    // pf32bit only: the fourth byte is the pixel's opacity and the colour
    // channels are premultiplied by it (unless StraightAlpha says otherwise).
    bool HasAlpha = false;
    // pf32bit with HasAlpha only, and only for a sink that asked for it
    // (IRowSink::WantsStraightAlpha): the colour channels are not
    // premultiplied. B, G, R and A are the file's own values, so a fully
    // transparent pixel keeps whatever colour the file gives it.
    bool StraightAlpha = false;
};

// Where a decoder puts the rows. A full-size bitmap is one sink; a converter
// that samples a few rows keeps only those.
class IRowSink {
public:
    virtual ~IRowSink();
    // Called once, after the header is read and its size checked, before any
    // row.
    virtual void Begin(const TImageInfo& info) = 0;
    // The buffer in which the decoder writes row y (0 = top):
    // RowStride(Width, BitsPerPixel(Format)) bytes, every pixel byte of which
    // the decoder fills. It stays valid until RowDone(y).
    virtual std::uint8_t* RowBuffer(int y) = 0;
    virtual void RowDone(int y) = 0;
    // Whether the sink needs row y. Asked after Begin. A decoder that can
    // pass over a row without decoding it (an uncompressed BMP, whole blocks
    // of a colour JPEG) leaves out the rows the sink does not want: no
    // RowBuffer or RowDone for them. Other decoders deliver every row, and
    // the sink drops what it does not need. The file is checked as a whole
    // either way: a truncated or broken picture fails even where its bad
    // part lies in rows left out.
    virtual bool WantsRow(int /*y*/) const { return true; }
    // Whether the sink wants the picture's own opacity with straight colour
    // channels. Asked once, before Begin. When it does, a decoder whose
    // picture carries opacity (PNG with an alpha channel or a tRNS chunk, an
    // icon, a GIF with a transparent colour or a first frame smaller than
    // the screen) delivers pf32bit with HasAlpha and StraightAlpha, the
    // file's values untouched; a picture without opacity (BMP, JPEG, a PNG
    // without transparency) comes as it would otherwise. The default, false,
    // gives premultiplied opacity composited over black, as the window
    // expects.
    virtual bool WantsStraightAlpha() const { return false; }
    // Called once after the last row.
    virtual void End() {}
};

// A sink that keeps the whole picture in a bitmap of the header's format.
class TBitmapSink : public IRowSink {
public:
    void Begin(const TImageInfo& info) override;
    std::uint8_t* RowBuffer(int y) override;
    void RowDone(int) override {}
    void End() override;

    // The picture, once End was called (empty before).
    TBitmap Bitmap;

private:
    TBitmap building_;
};

// A decoder: reads the picture from `file` (positioned at its start) into
// `sink`. The file is the decoder's to read and seek; it is not closed.
using TDecodeFunction = void (*)(std::FILE* file, IRowSink& sink);

struct TImageFormat {
    const char* Name;                         // "BMP", "JPEG", ...
    const char* Description;                  // for file dialogs: "Bitmaps"
    std::vector<std::string_view> Extensions; // lower case, dot included, in the order they are tested
    TDecodeFunction Decode;
};

// The formats the program reads, in the order their extensions are tested:
// BMP (.bmp), JPEG (.jpg, .jpeg), PNG (.png), GIF (.gif), icon (.ico).
const std::vector<TImageFormat>& ImageFormats();

// The extension of `path` as the loader sees it: from the last character that
// is a dot, a backslash or a colon, when that character is a dot, to the end
// (dot included); otherwise empty. A forward slash is not a separator. The
// separators are ASCII, so UTF-8 paths are taken byte by byte.
std::string_view ExtensionOf(std::string_view path);

// The format whose extension list holds `extension` exactly (compare a
// lower-cased extension), or null.
const TImageFormat* FormatForExtension(std::string_view extension);

// Decodes the file at `path` (a file system path, UTF-8) with `format`.
// Raises EFOpenError("Cannot open file \"<path>\". <reason>") when the file
// cannot be opened, and the decoder's errors.
void DecodeFile(const std::string& path, const TImageFormat& format, IRowSink& sink);
// Decodes `size` bytes at `data` with `format`.
void DecodeMemory(const void* data, std::size_t size, const TImageFormat& format, IRowSink& sink);

// The whole picture at `path` as a bitmap.
TBitmap LoadPicture(const std::string& path, const TImageFormat& format);
