// GIF decoder over giflib 5.2, reading the file record by record (never the
// whole file at once): the logical screen, the extensions before the first
// image, the first image's descriptor and then its pixel rows one at a time.
// Later frames of an animation are never read.
//
// The picture has the logical screen's size and shows the first frame only:
// - a first frame that covers the whole screen (offset 0, 0 and the screen's
//   size) and has no transparent colour is delivered as it is stored: an 8-bit
//   palette image whose palette is the frame's colour table (its local table,
//   else the global one);
// - any other first frame is drawn onto a 24-bit bitmap of the screen size.
//   The bitmap starts as the background colour when the frame has a
//   transparent colour (the global table's entry at the background index, or
//   white when the file has no global table), otherwise white. The frame is
//   drawn at its offset, its transparent pixels leaving the fill visible, and
//   whatever part of it lies beyond the screen is dropped. 24 bits is our
//   choice for this composed picture: it holds the fill and every table
//   colour exactly without building a new palette.
//
// A sink that wants straight alpha (IRowSink::WantsStraightAlpha) gets the
// composed picture as 32 bits with straight alpha instead, as browsers show
// the frame: pixels of the transparent index and screen pixels outside the
// frame are 0, 0, 0 with alpha 0, all others their colour with alpha 255. So
// a file whose transparent index is the background index comes out
// transparent rather than filled. A whole-screen frame without a transparent
// colour has no opacity and still comes as the palette image.
//
// Pixel indices beyond the colour table read as black: in the palette image
// they are stored as they are (the raster core reads an index beyond a
// bitmap's table as black, see FullPalette), and in the composed picture they
// are drawn black. A background index beyond the global table gives a black
// fill for the same reason. A frame with no colour table at all (neither local
// nor global) is read with a 256-level grey table, index i being grey i.
//
// Rows reach the sink in the order the file stores them: for an interlaced
// frame in the order of its four passes. In the composed picture the screen
// rows above the frame come first (pure fill), then the frame's rows as they
// are read, then the rows below; rows of the frame outside the screen are read
// and dropped. Apart from the sink's rows the decoder keeps one row of colour
// indices (and, for the composed picture, one row of fill). A first frame
// with a side of 0 draws nothing: the composed picture is all fill.

#include "Decoders.h"

#include "Exception.h"
#include "ImageLimits.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// giflib's input callback: plain reads from the decoder's FILE*. A short read
// is how giflib learns that the file ends.
int ReadFromFile(GifFileType* gif, GifByteType* buffer, int length) {
    if (length <= 0) return 0;
    auto* file = static_cast<std::FILE*>(gif->UserData);
    return int(std::fread(buffer, 1, std::size_t(length), file));
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int ignored = 0;
        DGifCloseFile(gif, &ignored);
    }
};
// Owns the giflib handle, so that it is closed on every way out, exceptions
// included.
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

[[noreturn]] void Fail(const std::string& what) { throw EInvalidImage("GIF: " + what); }

// giflib's error code as our exception. A short read while the pixel data is
// being decoded means the image data stops early.
[[noreturn]] void FailWith(int error, bool inImageData = false) {
    if (error == D_GIF_ERR_NOT_ENOUGH_MEM) throw EOutOfMemory();
    if (error == D_GIF_ERR_READ_FAILED) Fail(inImageData ? "truncated image data" : "the file ends too early");
    const char* text = GifErrorString(error);
    Fail(text ? std::string(text) : "error " + std::to_string(error));
}

TColor Rgb(const GifColorType& c) { return TColor(c.Red) | TColor(c.Green) << 8 | TColor(c.Blue) << 16; }

// The frame's colour table as palette entries.
std::vector<TColor> TableOf(const ColorMapObject* map) {
    std::vector<TColor> table;
    if (map && map->Colors) {
        const int count = std::clamp(map->ColorCount, 0, 256);
        table.reserve(std::size_t(count));
        for (int i = 0; i < count; ++i) table.push_back(Rgb(map->Colors[i]));
    } else {
        table.reserve(256);
        for (TColor i = 0; i < 256; ++i) table.push_back(i | i << 8 | i << 16);
    }
    return table;
}

// The rows of a frame `height` rows high, in the order an interlaced frame
// stores them (four passes: every 8th row from 0, every 8th from 4, every 4th
// from 2, every 2nd from 1) or top to bottom.
class FrameRowOrder {
public:
    FrameRowOrder(int height, bool interlaced) : height_(height), interlaced_(interlaced) {}
    // Row of the frame that the next stored row belongs to.
    int Next() {
        if (!interlaced_) return row_++;
        static constexpr int kStart[4] = {0, 4, 2, 1};
        static constexpr int kStep[4] = {8, 8, 4, 2};
        while (pass_ < 4 && row_ >= height_) {
            ++pass_;
            if (pass_ < 4) row_ = kStart[pass_];
        }
        const int row = row_;
        row_ += kStep[pass_];
        return row;
    }

private:
    int height_;
    bool interlaced_;
    int pass_ = 0;
    int row_ = 0;
};

// The graphics control settings that apply to the first image.
struct FrameControl {
    bool transparent = false;
    int transparentIndex = -1;
};

// Reads records up to the first image descriptor, keeping the graphics control
// extension that belongs to it. Leaves the handle at the image's pixel data.
FrameControl ReadUpToFirstImage(GifFileType* gif) {
    FrameControl control;
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &record) == GIF_ERROR) FailWith(gif->Error);
        switch (record) {
            case IMAGE_DESC_RECORD_TYPE:
                if (DGifGetImageDesc(gif) == GIF_ERROR) FailWith(gif->Error);
                return control;
            case EXTENSION_RECORD_TYPE: {
                int code = 0;
                GifByteType* block = nullptr;
                if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) FailWith(gif->Error);
                if (code == GRAPHICS_EXT_FUNC_CODE) {
                    GraphicsControlBlock gcb{};
                    if (!block || DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_ERROR)
                        Fail("malformed graphics control extension");
                    control.transparent = gcb.TransparentColor != NO_TRANSPARENT_COLOR;
                    control.transparentIndex = gcb.TransparentColor;
                } else if (code == PLAINTEXT_EXT_FUNC_CODE) {
                    // A graphics control extension before a plain text block
                    // belongs to that block, not to the image.
                    control = FrameControl();
                }
                while (block) {
                    if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) FailWith(gif->Error);
                }
                break;
            }
            case TERMINATE_RECORD_TYPE:
                Fail("no image in the file");
            default:
                Fail("unknown record type");
        }
    }
}

}  // namespace

void DecodeGif(std::FILE* file, IRowSink& sink) {
    int error = 0;
    GifHandle gif(DGifOpen(file, ReadFromFile, &error));
    if (!gif) {
        // giflib reports every fault while reading the screen descriptor and
        // the global colour table as a missing descriptor; only a short file
        // can cause it.
        if (error == D_GIF_ERR_NO_SCRN_DSCR) Fail("truncated screen descriptor or global colour table");
        FailWith(error);
    }

    const int screenWidth = gif->SWidth;
    const int screenHeight = gif->SHeight;
    // The smallest bitmap this file can give; the 24-bit case is checked
    // again below once the first frame has told which one it is.
    CheckImageLimits(screenWidth, screenHeight, 8);

    const FrameControl control = ReadUpToFirstImage(gif.get());
    const GifImageDesc& frame = gif->Image;
    const int left = frame.Left, top = frame.Top;
    const int frameWidth = frame.Width, frameHeight = frame.Height;
    // A frame side is 16 bits wide, so the index row is at most 64 KiB, but
    // the pixel count of a frame far beyond any sensible picture is refused
    // before any of its data is decoded.
    if (std::uint64_t(frameWidth) * std::uint64_t(frameHeight) > kMaxImagePixels)
        Fail("frame of " + std::to_string(frameWidth) + " x " + std::to_string(frameHeight) + " pixels is too large");

    const std::vector<TColor> table = TableOf(frame.ColorMap ? frame.ColorMap : gif->SColorMap);
    const bool wholeScreen = left == 0 && top == 0 && frameWidth == screenWidth && frameHeight == screenHeight;

    TImageInfo info;
    info.Width = screenWidth;
    info.Height = screenHeight;
    FrameRowOrder order(frameHeight, frame.Interlace);
    const bool straight = sink.WantsStraightAlpha();

    if (wholeScreen && !control.transparent) {
        // Stored pixels, straight into the sink's rows.
        info.Format = pf8bit;
        info.Palette = table;
        const std::size_t stride = RowStride(screenWidth, 8);
        sink.Begin(info);
        for (int i = 0; i < frameHeight; ++i) {
            const int y = order.Next();
            std::uint8_t* row = sink.RowBuffer(y);
            if (DGifGetLine(gif.get(), row, frameWidth) == GIF_ERROR) FailWith(gif->Error, true);
            std::memset(row + screenWidth, 0, stride - std::size_t(screenWidth));
            sink.RowDone(y);
        }
        sink.End();
        return;
    }

    // The composed picture: B, G, R at 24 bits, or B, G, R, A with straight
    // alpha at 32 bits for a sink that asked for it.
    const int bits = straight ? 32 : 24;
    const std::size_t pixelBytes = std::size_t(bits) / 8;
    CheckImageLimits(screenWidth, screenHeight, bits);
    info.Format = straight ? pf32bit : pf24bit;
    info.HasAlpha = straight;
    info.StraightAlpha = straight;
    const std::size_t stride = RowStride(screenWidth, bits);

    // Every index's pixel in the row's byte order (B, G, R and, at 32 bits,
    // an opaque A); indices beyond the table are black.
    std::array<std::array<std::uint8_t, 4>, 256> colours{};
    for (auto& colour : colours) colour[3] = 255;
    for (std::size_t i = 0; i < table.size() && i < colours.size(); ++i)
        colours[i] = {GetBValue(table[i]), GetGValue(table[i]), GetRValue(table[i]), 255};

    // The fill: fully transparent black at 32 bits, otherwise as described
    // at the top.
    std::vector<std::uint8_t> fillRow(stride, 0);
    if (!straight) {
        TColor fill = clWhite;
        if (control.transparent && gif->SColorMap) {
            const ColorMapObject* global = gif->SColorMap;
            const int index = gif->SBackGroundColor;
            fill = index >= 0 && index < global->ColorCount ? Rgb(global->Colors[index]) : clBlack;
        }
        for (int x = 0; x < screenWidth; ++x) {
            fillRow[std::size_t(x) * 3 + 0] = GetBValue(fill);
            fillRow[std::size_t(x) * 3 + 1] = GetGValue(fill);
            fillRow[std::size_t(x) * 3 + 2] = GetRValue(fill);
        }
    }
    auto deliverFill = [&](int y) {
        std::memcpy(sink.RowBuffer(y), fillRow.data(), stride);
        sink.RowDone(y);
    };

    // The part of the frame's columns inside the screen: frame columns
    // [0, visible) land at screen columns [left, left + visible).
    const int visible = std::max(0, std::min(frameWidth, screenWidth - left));
    const int transparentIndex = control.transparent ? control.transparentIndex : -1;
    // Screen rows covered by the frame: [min(top, screenHeight), frameEnd). A
    // frame without pixels (a side of 0) covers none and its data is not read.
    const bool emptyFrame = frameWidth == 0 || frameHeight == 0;
    const int frameStart = std::min(top, screenHeight);
    const int frameEnd = emptyFrame ? frameStart : std::min(screenHeight, top + frameHeight);

    sink.Begin(info);
    for (int y = 0; y < frameStart; ++y) deliverFill(y);
    if (!emptyFrame) {
        std::vector<GifPixelType> indices(static_cast<std::size_t>(frameWidth));
        for (int i = 0; i < frameHeight; ++i) {
            const int frameRow = order.Next();
            if (DGifGetLine(gif.get(), indices.data(), frameWidth) == GIF_ERROR) FailWith(gif->Error, true);
            const int y = top + frameRow;
            if (y >= screenHeight) continue;
            std::uint8_t* row = sink.RowBuffer(y);
            std::memcpy(row, fillRow.data(), stride);
            for (int x = 0; x < visible; ++x) {
                const int index = indices[std::size_t(x)];
                if (index == transparentIndex) continue;
                std::memcpy(row + std::size_t(left + x) * pixelBytes, colours[std::size_t(index)].data(), pixelBytes);
            }
            sink.RowDone(y);
        }
    }
    for (int y = frameEnd; y < screenHeight; ++y) deliverFill(y);
    sink.End();
}
