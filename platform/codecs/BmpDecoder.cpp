// The BMP reader: our own, no library.
//
// An uncompressed picture is delivered at the file's own depth with its
// colour table: 1, 4 and 8 bits indexed, 16 bits as pf15bit (x1r5g5b5, the
// layout without bit fields) or pf16bit (bit fields exactly 565), 24 bits as
// pf24bit and 32 bits in the default layout as pf32bit, the fourth byte as
// stored and no opacity. Stored rows of these are read straight into the
// sink's rows (through a small window, see TWindowReader). Bit fields in any other layout are decoded through their masks
// into pf24bit: a BMP never carries opacity in our pictures, so an alpha mask
// is ignored and 24 bits hold every colour the masks can (fields wider than 8
// bits are rounded to 8).
//
// RLE8 and RLE4 pictures are decoded into pf24bit. Pixels the stream never
// writes (skipped by a delta, an end of line or the end of the bitmap) take
// the colour of palette entry 0, as if the picture had been cleared to index
// 0 first; runs that reach past the right edge are clipped there.

#include "Decoders.h"

#include "DibReader.h"
#include "Exception.h"
#include "ImageLimits.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>

namespace {

constexpr const char* kName = "BMP";

[[noreturn]] void Fail(const std::string& what) { throw EInvalidImage(std::string(kName) + ": " + what); }

// Bytes of a row that hold pixels (the rest of the stride is padding).
std::size_t PixelBytes(int width, int bits) { return (std::size_t(width) * std::size_t(bits) + 7) / 8; }

// Clears the padding of a row and the unused low bits of its last pixel byte.
void ClearPadding(std::uint8_t* row, int width, int bits, std::size_t stride) {
    const std::size_t used = PixelBytes(width, bits);
    const unsigned spare = unsigned(used * 8 - std::size_t(width) * std::size_t(bits));
    if (spare != 0) row[used - 1] &= std::uint8_t(0xFFu << spare);
    std::memset(row + used, 0, stride - used);
}

// Reads the pixel rows through a window of at most 1 MiB. stdio reads a row
// longer than its own buffer with two system calls, and the thousands of rows
// of a large picture made that measurably slower (about 1.25 times) than one
// read of the whole block; filling the window with one call per MiB and
// copying each row out of it keeps a large picture within a plain read's
// time. The window is the only extra memory, whatever the picture's size.
class TWindowReader {
public:
    TWindowReader(std::FILE* file, std::uint64_t total)
        : file_(file), left_(total), window_(std::size_t(std::min<std::uint64_t>(total, 1u << 20))) {}

    // Copies the next `size` bytes to `out`; false when the file ends first.
    bool Read(std::uint8_t* out, std::size_t size) {
        while (size > 0) {
            if (at_ == have_) {
                const std::size_t want = std::size_t(std::min<std::uint64_t>(window_.size(), left_));
                have_ = want == 0 ? 0 : std::fread(window_.data(), 1, want, file_);
                at_ = 0;
                left_ -= have_;
                if (have_ == 0) return false;
            }
            const std::size_t n = std::min(size, have_ - at_);
            std::memcpy(out, window_.data() + at_, n);
            out += n;
            at_ += n;
            size -= n;
        }
        return true;
    }

private:
    std::FILE* file_;
    std::uint64_t left_;
    std::vector<std::uint8_t> window_;
    std::size_t at_ = 0, have_ = 0;
};

void ReadUncompressed(std::FILE* file, const dib::TDibHeader& h, TImageInfo& info, std::uint64_t offset,
                      std::uint64_t fileSize, IRowSink& sink) {
    const std::size_t stride = dib::StoredStride(h);
    const std::size_t used = PixelBytes(h.Width, h.BitCount);
    // The last row may lack its padding; every other byte must be there.
    const std::uint64_t need = std::uint64_t(stride) * std::uint64_t(h.Height - 1) + used;
    if (fileSize - offset < need) Fail("truncated pixel data");

    const bool direct = dib::StoredAsNatural(h);
    const std::size_t outStride = RowStride(h.Width, BitsPerPixel(info.Format));
    std::vector<std::uint8_t> stored(direct ? 0 : stride);

    sink.Begin(info);
    // A sink that samples a few rows gets them read where they lie; the rest
    // of the file is never read. Otherwise the rows stream through the window.
    int wanted = 0;
    for (int y = 0; y < h.Height; ++y) wanted += sink.WantsRow(y);
    const bool sparse = wanted < h.Height;
    dib::SeekTo(file, offset, kName);
    TWindowReader in(file, sparse ? 0 : need);
    for (int i = 0; i < h.Height; ++i) {
        const int y = h.TopDown ? i : h.Height - 1 - i;
        if (sparse && !sink.WantsRow(y)) continue;
        if (sparse) dib::SeekTo(file, offset + std::uint64_t(stride) * std::uint64_t(i), kName);
        std::uint8_t* row = sink.RowBuffer(y);
        const std::size_t bytes = i == h.Height - 1 ? used : stride;
        std::uint8_t* storedRow = direct ? row : stored.data();
        if (!(sparse ? dib::ReadExact(file, storedRow, bytes) : in.Read(storedRow, bytes)))
            Fail("truncated pixel data");
        if (direct) {
            ClearPadding(row, h.Width, h.BitCount, outStride);
        } else {
            dib::MaskedRowTo24(h, stored.data(), row);
            std::memset(row + std::size_t(h.Width) * 3, 0, outStride - std::size_t(h.Width) * 3);
        }
        sink.RowDone(y);
    }
    sink.End();
}

// Reads the compressed stream byte by byte through a buffer of its own.
class TByteReader {
public:
    explicit TByteReader(std::FILE* file) : file_(file) {}
    // The next byte, or -1 at the end of the file.
    int Next() {
        if (at_ == size_) {
            size_ = std::fread(buffer_, 1, sizeof buffer_, file_);
            at_ = 0;
            if (size_ == 0) return -1;
        }
        return buffer_[at_++];
    }

private:
    std::FILE* file_;
    std::uint8_t buffer_[16384];
    std::size_t at_ = 0, size_ = 0;
};

// Decodes RLE8 or RLE4 into 24-bit rows. Rows are handed over bottom-up as
// soon as the stream leaves them; the sink's buffer of the current row is
// the only one written. Without a sink the stream is only followed and
// checked: the reader does that first, so that a broken stream is refused
// before the sink sees anything (and before it sizes a picture that a few
// bytes of a bad file may claim to be huge).
class TRleDecoder {
public:
    TRleDecoder(std::FILE* file, const dib::TDibHeader& h, const std::vector<TColor>& palette, IRowSink* sink)
        : in_(file), h_(h), sink_(sink) {
        for (std::size_t i = 0; i < colors_.size(); ++i) colors_[i] = i < palette.size() ? palette[i] : clBlack;
        stride_ = RowStride(h.Width, 24);
    }

    void Run() {
        const bool four = h_.Compression == dib::kRle4;
        for (;;) {
            const int first = in_.Next();
            if (first < 0) break;
            const int second = Byte();
            if (first > 0) {
                // An encoded run: one index, or two alternating 4-bit ones.
                const unsigned hi = four ? unsigned(second) >> 4 : unsigned(second);
                const unsigned lo = four ? unsigned(second) & 15u : unsigned(second);
                for (int k = 0; k < first; ++k) Put(k & 1 ? lo : hi);
            } else if (second == 0) {
                NextRow();
            } else if (second == 1) {
                Finish();
                return;
            } else if (second == 2) {
                // A delta moves right and up; the rows it leaves are complete.
                const int dx = Byte(), dy = Byte();
                const int x = x_;
                for (int k = 0; k < dy && row_ < h_.Height; ++k) NextRow();
                x_ = std::min(x + dx, h_.Width);
            } else {
                // An absolute run of `second` indices, padded to 2 bytes.
                const int count = second;
                const int bytes = four ? (count + 1) / 2 : count;
                for (int k = 0; k < bytes; ++k) {
                    const unsigned v = unsigned(Byte());
                    if (four) {
                        Put(v >> 4);
                        if (2 * k + 1 < count) Put(v & 15u);
                    } else {
                        Put(v);
                    }
                }
                if (bytes & 1) Byte();
            }
        }
        // The stream ended without an end-of-bitmap mark: accepted only when
        // every row was already complete.
        if (row_ < h_.Height) Fail("truncated RLE data");
        Finish();
    }

private:
    int Byte() {
        const int v = in_.Next();
        if (v < 0) Fail("truncated RLE data");
        return v;
    }

    // The buffer of the row being written, cleared to index 0's colour the
    // first time it is needed.
    std::uint8_t* Current() {
        if (!current_) {
            current_ = sink_->RowBuffer(h_.Height - 1 - row_);
            Clear(current_);
        }
        return current_;
    }

    // Index 0's colour across the row, padding zeroed. The blank row is made
    // once: a picture whose data end early is mostly blank rows.
    void Clear(std::uint8_t* row) {
        if (blank_.empty()) {
            blank_.assign(stride_, 0);
            const TColor c = colors_[0];
            for (int x = 0; x < h_.Width; ++x) {
                blank_[3 * std::size_t(x)] = GetBValue(c);
                blank_[3 * std::size_t(x) + 1] = GetGValue(c);
                blank_[3 * std::size_t(x) + 2] = GetRValue(c);
            }
        }
        std::memcpy(row, blank_.data(), stride_);
    }

    void Put(unsigned index) {
        if (row_ >= h_.Height) Fail("RLE data runs past the top row");
        if (x_ < h_.Width && sink_) {
            std::uint8_t* p = Current() + 3 * std::size_t(x_);
            const TColor c = colors_[index];
            p[0] = GetBValue(c);
            p[1] = GetGValue(c);
            p[2] = GetRValue(c);
        }
        x_ = std::min(x_ + 1, h_.Width);  // pixels beyond the right edge are dropped
    }

    // Hands over the current row (written or not) and moves to the next. A
    // row no pixel was written to and the sink does not want is left out, so
    // that the blank rows after an early end-of-bitmap cost a sampling sink
    // nothing.
    void NextRow() {
        if (row_ >= h_.Height) return;
        if (sink_ && (current_ || sink_->WantsRow(h_.Height - 1 - row_))) {
            Current();
            sink_->RowDone(h_.Height - 1 - row_);
            current_ = nullptr;
        }
        ++row_;
        x_ = 0;
    }

    void Finish() {
        if (!sink_) return;
        while (row_ < h_.Height) NextRow();
        sink_->End();
    }

    TByteReader in_;
    std::vector<std::uint8_t> blank_;
    const dib::TDibHeader& h_;
    IRowSink* sink_;  // null while only checking
    std::array<TColor, 256> colors_{};
    std::size_t stride_ = 0;
    int row_ = 0;  // stored row number: 0 is the bottom row
    int x_ = 0;
    std::uint8_t* current_ = nullptr;
};

}  // namespace

void DecodeBmp(std::FILE* file, IRowSink& sink) {
    const std::uint64_t fileSize = dib::FileSize(file, kName);
    std::uint8_t fileHeader[14];
    if (!dib::ReadExact(file, fileHeader, 2) || fileHeader[0] != 'B' || fileHeader[1] != 'M')
        Fail("not a bitmap file");
    // The file size field is often wrong in real files and is not used.
    if (!dib::ReadExact(file, fileHeader + 2, 12)) Fail("truncated header");
    const std::uint64_t offset = dib::U32(fileHeader + 10);

    const dib::TDibHeader h = dib::ReadInfoHeader(file, kName);
    const bool rle = h.Compression == dib::kRle8 || h.Compression == dib::kRle4;
    TImageInfo info;
    info.Width = h.Width;
    info.Height = h.Height;
    info.Format = rle ? pf24bit : dib::NaturalFormat(h);
    CheckImageLimits(info.Width, info.Height, BitsPerPixel(info.Format));

    // The colour table lies between the header and the pixels. When the
    // pixel offset leaves room for fewer entries than the header announces
    // (old OS/2 files often do), the entries that fit are the table.
    const std::uint64_t tableStart = 14 + std::uint64_t(h.BytesBeforePalette);
    std::uint32_t entries = dib::PaletteEntries(h);
    std::vector<TColor> palette;
    if (h.BitCount <= 8) {
        if (offset >= tableStart && offset <= fileSize)
            entries = std::uint32_t(std::min<std::uint64_t>(entries, (offset - tableStart) / dib::PaletteEntrySize(h)));
        if (entries == 0) Fail("the colour table is missing");
        palette = dib::ReadPalette(file, h, entries, kName);
    }
    if (offset > fileSize) Fail("pixel data offset outside the file");
    if (offset < tableStart) Fail("pixel data offset inside the header");

    if (!rle) {
        info.Palette = std::move(palette);
        ReadUncompressed(file, h, info, offset, fileSize, sink);
        return;
    }
    dib::SeekTo(file, offset, kName);
    TRleDecoder(file, h, palette, nullptr).Run();
    sink.Begin(info);
    dib::SeekTo(file, offset, kName);
    TRleDecoder(file, h, palette, &sink).Run();
}
