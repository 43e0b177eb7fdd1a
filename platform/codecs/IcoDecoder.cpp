// The icon reader: our own, no library. One image of the file is chosen
// (ChooseEntry) and delivered as a 32-bit picture with premultiplied opacity,
// drawn over black.
//
// A sink that wants straight alpha gets the same 32-bit picture with
// StraightAlpha set and the file's own values: a 32-bit entry's colour and
// alpha bytes as stored; an entry below 32 bits (or a 32-bit one whose alpha
// bytes are all 0) its stored colours, with alpha 0 where the AND mask is set
// and 255 elsewhere; a PNG entry as DecodePng delivers it for such a sink,
// widened to 32 bits with alpha 255 when the PNG has no opacity. An icon
// always comes this way for such a sink, even when every pixel is opaque.
//
// An entry holds either a headerless device-independent bitmap (read through
// DibReader, as BMP files are) or a PNG file (read through DecodePng). A
// bitmap entry's size is the directory's; a PNG entry has the PNG's own size
// even when the directory says otherwise, since only the PNG knows how its
// rows are laid out.

#include "Decoders.h"

#include "DibReader.h"
#include "Exception.h"
#include "ImageLimits.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr const char* kName = "ICO";

[[noreturn]] void Fail(const std::string& what) { throw EInvalidImage(std::string(kName) + ": " + what); }

// The standard icon size of the display we choose for, in pixels. The
// display is true colour, so an entry's colour count never exceeds what it
// shows and plays no part beyond the order of preference below.
constexpr int kStandardSize = 32;

struct TEntry {
    int Width = 0, Height = 0;  // a stored 0 means 256
    std::uint32_t Colors = 0;   // 0 means unlimited
    std::uint32_t Bytes = 0, Offset = 0;
};

// Whether a side of `next` pixels is at least as good as `current` for the
// standard size: no farther from it, and when larger than it, no larger
// than the current side. So of two sides equally far from the standard size
// the smaller one is kept.
bool SideAtLeastAsGood(int next, int current) {
    const int n = next - kStandardSize, o = current - kStandardSize;
    return std::abs(n) <= std::abs(o) && (n <= 0 || n <= o);
}

// Colour counts in order of preference: unlimited (0) ranks above any number.
std::uint32_t ColorRank(std::uint32_t colors) { return colors == 0 ? 0x10000u : colors; }

// The first entry is the initial choice; each later one, in file order,
// replaces the current choice when it has at least as many colours and both
// its sides are at least as good (so of equal entries the later one wins).
std::size_t ChooseEntry(const std::vector<TEntry>& entries) {
    std::size_t chosen = 0;
    for (std::size_t i = 1; i < entries.size(); ++i) {
        const TEntry& next = entries[i];
        const TEntry& current = entries[chosen];
        if (ColorRank(next.Colors) >= ColorRank(current.Colors) && SideAtLeastAsGood(next.Width, current.Width) &&
            SideAtLeastAsGood(next.Height, current.Height))
            chosen = i;
    }
    return chosen;
}

// Premultiplies one channel by the opacity, rounding to the nearest value.
std::uint8_t Premultiply(std::uint8_t c, std::uint8_t a) { return std::uint8_t((unsigned(c) * a + 127) / 255); }

// Reads a bitmap entry. Its data is an info header, a colour table, the
// colour rows and then the AND mask (one bit per pixel, 1 = transparent,
// rows padded to 4 bytes). The header's height counts the colour rows and
// the mask rows together, which is why it is twice the image's height: the
// format began as a bitmap twice as tall holding both halves.
void ReadBitmapEntry(std::FILE* file, const TEntry& entry, IRowSink& sink) {
    dib::SeekTo(file, entry.Offset, kName);
    const dib::TDibHeader h = dib::ReadInfoHeader(file, kName);
    if (h.Compression != dib::kRgb && h.Compression != dib::kBitFields && h.Compression != dib::kAlphaBitFields)
        Fail("unsupported compression " + std::to_string(h.Compression));
    // The directory gives the size. Writers are sloppy about the header's
    // height, so besides the doubled height the plain one is taken too; any
    // other size contradicts the directory.
    if (h.Width != entry.Width || (h.Height != 2 * entry.Height && h.Height != entry.Height))
        Fail("the image header's size " + std::to_string(h.Width) + " x " + std::to_string(h.Height) +
             " disagrees with the directory's " + std::to_string(entry.Width) + " x " + std::to_string(entry.Height));
    const int width = entry.Width, height = entry.Height;
    CheckImageLimits(width, height, 32);

    // Everything is read from the entry's own bytes. Only the mask may be
    // short, and only when the picture has its own opacity and the mask is
    // not used.
    const std::uint32_t entries = dib::PaletteEntries(h);
    const std::uint64_t paletteBytes = std::uint64_t(entries) * dib::PaletteEntrySize(h);
    const std::size_t stride = RowStride(width, h.BitCount);
    const std::size_t maskStride = RowStride(width, 1);
    const std::uint64_t colorStart = std::uint64_t(h.BytesBeforePalette) + paletteBytes;
    const std::uint64_t colorEnd = colorStart + std::uint64_t(stride) * std::uint64_t(height);
    if (colorEnd > entry.Bytes) Fail("truncated image data");
    const std::uint64_t maskBytes = std::uint64_t(maskStride) * std::uint64_t(height);
    const bool maskComplete = entry.Bytes - colorEnd >= maskBytes;
    // Some writers put an embedded colour profile straight after the colour
    // rows, where the mask belongs: such an image has no mask, and every
    // pixel is opaque (reading the profile's bytes as a mask would punch
    // holes at random).
    const bool profileInMask = h.ProfileSize != 0 && h.ProfileOffset >= colorEnd &&
                               h.ProfileOffset < colorEnd + maskBytes;

    const std::vector<TColor> palette = dib::ReadPalette(file, h, entries, kName);
    dib::SeekTo(file, std::uint64_t(entry.Offset) + colorStart, kName);
    std::vector<std::uint8_t> color(stride * std::size_t(height));
    if (!dib::ReadExact(file, color.data(), color.size())) Fail("truncated image data");
    std::vector<std::uint8_t> mask;
    if (profileInMask) {
        mask.assign(maskStride * std::size_t(height), 0);
    } else if (maskComplete) {
        mask.resize(maskStride * std::size_t(height));
        if (!dib::ReadExact(file, mask.data(), mask.size())) Fail("truncated mask");
    }

    // Straight B, G, R, A pixels, rows as stored.
    const std::size_t outStride = std::size_t(width) * 4;
    std::vector<std::uint8_t> pixels(outStride * std::size_t(height));
    dib::TDibHeader rows = h;
    rows.Width = width;
    for (int i = 0; i < height; ++i)
        dib::RowToBgra(rows, palette, color.data() + std::size_t(i) * stride, pixels.data() + std::size_t(i) * outStride);

    // A 32-bit image has its own opacity unless every alpha byte is 0 (an
    // older writer's "no alpha"); then, as at lower depths, the mask decides.
    bool hasAlpha = false;
    if (h.BitCount == 32 && (h.Compression == dib::kRgb || h.Masks[3] != 0))
        for (std::size_t i = 3; i < pixels.size() && !hasAlpha; i += 4) hasAlpha = pixels[i] != 0;
    if (!hasAlpha && !maskComplete && !profileInMask) Fail("truncated mask");

    const bool straight = sink.WantsStraightAlpha();
    TImageInfo info;
    info.Width = width;
    info.Height = height;
    info.Format = pf32bit;
    info.HasAlpha = true;
    info.StraightAlpha = straight;
    sink.Begin(info);
    for (int i = 0; i < height; ++i) {
        const int y = h.TopDown ? i : height - 1 - i;
        const std::uint8_t* in = pixels.data() + std::size_t(i) * outStride;
        std::uint8_t* out = sink.RowBuffer(y);
        if (hasAlpha && straight) {
            std::memcpy(out, in, outStride);
        } else if (hasAlpha) {
            for (int x = 0; x < width; ++x, in += 4, out += 4) {
                const std::uint8_t a = in[3];
                out[0] = Premultiply(in[0], a);
                out[1] = Premultiply(in[1], a);
                out[2] = Premultiply(in[2], a);
                out[3] = a;
            }
        } else {
            const std::uint8_t* bits = mask.data() + std::size_t(i) * maskStride;
            for (int x = 0; x < width; ++x, in += 4, out += 4) {
                const bool masked = (bits[x >> 3] >> (7 - (x & 7))) & 1u;
                if (masked && !straight) {
                    std::memset(out, 0, 4);
                } else {
                    out[0] = in[0];
                    out[1] = in[1];
                    out[2] = in[2];
                    out[3] = masked ? 0 : 255;
                }
            }
        }
        sink.RowDone(y);
    }
    sink.End();
}

// Turns the rows DecodePng delivers, in whatever format it gives them, into
// the icon's 32-bit rows (premultiplied, or straight when the sink asks for
// that, as it asks DecodePng) and passes them on.
class TPngToIconSink : public IRowSink {
public:
    explicit TPngToIconSink(IRowSink& out) : out_(out), straight_(out.WantsStraightAlpha()) {}

    bool WantsStraightAlpha() const override { return straight_; }
    void Begin(const TImageInfo& info) override {
        png_ = info;
        row_.assign(RowStride(info.Width, BitsPerPixel(info.Format)), 0);
        TImageInfo icon;
        icon.Width = info.Width;
        icon.Height = info.Height;
        icon.Format = pf32bit;
        icon.HasAlpha = true;
        icon.StraightAlpha = straight_;
        out_.Begin(icon);
    }
    std::uint8_t* RowBuffer(int) override { return row_.data(); }
    void RowDone(int y) override {
        std::uint8_t* out = out_.RowBuffer(y);
        const std::uint8_t* in = row_.data();
        const int width = png_.Width;
        switch (png_.Format) {
            case pf1bit:
            case pf4bit:
            case pf8bit: {
                const int bits = BitsPerPixel(png_.Format);
                for (int x = 0; x < width; ++x, out += 4) {
                    const unsigned index = bits == 1   ? (in[x >> 3] >> (7 - (x & 7))) & 1u
                                           : bits == 4 ? (in[x >> 1] >> (x & 1 ? 0 : 4)) & 15u
                                                       : in[x];
                    const TColor c = index < png_.Palette.size() ? png_.Palette[index] : clBlack;
                    out[0] = GetBValue(c);
                    out[1] = GetGValue(c);
                    out[2] = GetRValue(c);
                    out[3] = 255;
                }
                break;
            }
            case pf24bit:
                for (int x = 0; x < width; ++x, in += 3, out += 4) {
                    out[0] = in[0];
                    out[1] = in[1];
                    out[2] = in[2];
                    out[3] = 255;
                }
                break;
            case pf32bit:
                // Already premultiplied when it has opacity (straight for a
                // sink that asked, which DecodePng was told); opaque otherwise.
                for (int x = 0; x < width; ++x, in += 4, out += 4) {
                    std::memcpy(out, in, 3);
                    out[3] = png_.HasAlpha ? in[3] : 255;
                }
                break;
            default:
                Fail("the PNG image has a pixel format an icon cannot take");
        }
        out_.RowDone(y);
    }
    void End() override { out_.End(); }

private:
    IRowSink& out_;
    bool straight_;
    TImageInfo png_;
    std::vector<std::uint8_t> row_;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

void ReadPngEntry(std::FILE* file, const TEntry& entry, IRowSink& sink) {
    // The entry's bytes were checked against the file's size.
    std::vector<std::uint8_t> bytes(entry.Bytes);
    dib::SeekTo(file, entry.Offset, kName);
    if (!dib::ReadExact(file, bytes.data(), bytes.size())) Fail("truncated image data");
    std::unique_ptr<std::FILE, FileCloser> png(::fmemopen(bytes.data(), bytes.size(), "rb"));
    if (!png) throw EOutOfMemory();
    TPngToIconSink adapter(sink);
    DecodePng(png.get(), adapter);
}

}  // namespace

void DecodeIco(std::FILE* file, IRowSink& sink) {
    const std::uint64_t fileSize = dib::FileSize(file, kName);
    std::uint8_t header[6];
    if (!dib::ReadExact(file, header, sizeof header)) Fail("not an icon file");
    const std::uint16_t reserved = dib::U16(header), type = dib::U16(header + 2), count = dib::U16(header + 4);
    if (reserved != 0 || (type != 1 && type != 2)) Fail("not an icon file");
    if (type == 2) Fail("not an icon file (cursor)");
    if (count == 0) Fail("the icon holds no images");
    if (6 + 16 * std::uint64_t(count) > fileSize) Fail("truncated directory");

    std::vector<TEntry> entries(count);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::uint8_t e[16];
        if (!dib::ReadExact(file, e, sizeof e)) Fail("truncated directory");
        TEntry& entry = entries[i];
        entry.Width = e[0] ? e[0] : 256;
        entry.Height = e[1] ? e[1] : 256;
        // The colour count byte and the reserved byte after it, as one
        // little-endian number.
        entry.Colors = dib::U16(e + 2);
        entry.Bytes = dib::U32(e + 8);
        entry.Offset = dib::U32(e + 12);
        if (std::uint64_t(entry.Offset) + entry.Bytes > fileSize)
            Fail("image " + std::to_string(i + 1) + " lies outside the file");
    }

    const TEntry& chosen = entries[ChooseEntry(entries)];
    static constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::uint8_t start[8] = {};
    dib::SeekTo(file, chosen.Offset, kName);
    if (chosen.Bytes >= 8 && dib::ReadExact(file, start, 8) && std::memcmp(start, kPngSignature, 8) == 0)
        ReadPngEntry(file, chosen, sink);
    else
        ReadBitmapEntry(file, chosen, sink);
}
