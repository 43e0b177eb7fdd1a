// PNG decoder over libpng 1.6 (and zlib through it).
//
// What it delivers, always at the stored size:
// - Files with an alpha channel (grey + alpha, RGBA) and palette files whose
//   tRNS chunk makes some entry less than opaque: pf32bit with HasAlpha,
//   every pixel composited over black, the fourth byte the pixel's alpha a.
//   A colour channel c becomes (c * a + 127) / 255 for the alpha colour types
//   and (c * a + 255) / 256 for palette files (integer divisions), so a fully
//   transparent pixel reads 0, 0, 0, 0. 16-bit channels are first cut to
//   their high byte (png_set_strip_16).
//   A palette file counts as transparent when any tRNS entry is below 255,
//   0 included: a palette whose only transparency is one fully transparent
//   entry (the usual GIF-style file) keeps its hole. A tRNS chunk whose
//   entries are all 255 changes nothing, and the file is read as a plain
//   palette file.
// - Everything else (no transparency, or a tRNS colour on a grey or RGB
//   file): the stored values, transparent pixels keeping their own colour.
//   1-bit files as pf1bit, 2- and 4-bit files as pf4bit (2-bit indices
//   widened to 4 bits), 8-bit palette files as pf8bit, all with the file's
//   palette or, for grey files, the evenly spaced grey levels; 8- and 16-bit
//   grey and RGB files as pf24bit (16-bit values cut to their high byte).
// - No gamma or colour-space correction: the file's own values. Ancillary
//   chunks other than tRNS are skipped unread.
//
// A sink that wants straight alpha (IRowSink::WantsStraightAlpha) gets every
// picture with opacity as pf32bit with HasAlpha and StraightAlpha: B, G, R, A
// exactly as stored, nothing premultiplied or rounded (16-bit channels still
// cut to their high byte). That covers the alpha colour types, palette files
// as above, and also grey and RGB files with a tRNS colour: a pixel whose
// stored value (all 16 bits of a 16-bit file) equals that colour gets alpha
// 0, every other pixel 255. A tRNS colour beyond what the bit depth can hold
// matches no pixel, so such a file counts as opaque. Pictures without
// opacity come exactly as described above.
//
// Errors: libpng reports a fatal error through OnError, which must not
// return. RunDecoder is the one place that catches it (setjmp); DecodePng
// then raises EInvalidImage("PNG: <libpng's message>") outside it; libpng
// prefixes chunk errors with the chunk's name ("PNG: IDAT: CRC error").
// Warnings, and the errors libpng itself rates as benign on reading (extra
// compressed data, a palette index beyond the palette), are ignored.

#include "Decoders.h"

#include "Exception.h"
#include "ImageLimits.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <png.h>

namespace {

// The longest non-image chunk libpng will take (it refuses longer ones with
// "chunk data is too large"). We keep only PLTE and tRNS, at most 768 bytes,
// and skip the rest, but libpng checks every chunk's length against this;
// 8 MiB leaves room for large metadata in real files.
constexpr png_alloc_size_t kMaxChunkBytes = 8u << 20;

enum class TPngLayout {
    Stored,        // stored values, the row as libpng gives it (after the transforms)
    Widen2To4,     // 2-bit indices, widened to 4 bits in place
    AlphaColour,   // BGRA from libpng, premultiplied in place
    StraightColour,  // BGRA from libpng, kept as it is (straight alpha)
    AlphaPalette,  // 8-bit indices from libpng, turned into BGRA in place
};

// Everything libpng and the decoding loop touch. It lives in DecodePng,
// outside the function that calls setjmp, so a longjmp skips no destructor.
struct TPngJob {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::FILE* file = nullptr;
    IRowSink* sink = nullptr;
    // The sink asked for straight alpha (asked once, before anything else).
    bool straight = false;
    char message[256] = {};

    int width = 0, height = 0;
    TPngLayout layout = TPngLayout::Stored;
    TPixelFormat format = pf24bit;
    bool hasAlpha = false;
    std::vector<TColor> palette;  // for the indexed formats
    // AlphaPalette: colour and alpha of every possible index; entries beyond
    // the PLTE chunk are black, beyond the tRNS chunk opaque.
    std::array<std::uint8_t, 256> red{}, green{}, blue{}, alpha{};
    // Interlaced files only: the whole picture as libpng assembles it over
    // its seven passes.
    std::vector<std::uint8_t> frame;
};

[[noreturn]] void OnError(png_structp png, png_const_charp message) {
    auto* job = static_cast<TPngJob*>(png_get_error_ptr(png));
    std::snprintf(job->message, sizeof job->message, "%s", message);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// Reads from the job's file; a short read means the file ends early.
void ReadData(png_structp png, png_bytep data, std::size_t length) {
    auto* job = static_cast<TPngJob*>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, job->file) != length) png_error(png, "the file is truncated");
}

// Chooses what the picture becomes and the libpng transforms that give rows
// in that layout. Fills job.format, job.layout, job.palette and the
// AlphaPalette tables.
void ChooseLayout(TPngJob& job, int bitDepth, int colourType) {
    png_structp png = job.png;
    png_infop info = job.info;

    png_colorp plte = nullptr;
    int plteCount = 0;
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_get_PLTE(png, info, &plte, &plteCount);
    png_bytep trans = nullptr;
    int transCount = 0;
    png_color_16p transColour = nullptr;
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_get_tRNS(png, info, &trans, &transCount, &transColour);

    // Grey and RGB files with a tRNS colour, for a sink that wants straight
    // alpha: libpng turns the colour into an alpha channel, comparing full
    // stored samples (before the cut to 8 bits) and widening 1-, 2- and 4-bit
    // grey to 8 bits as our grey levels do.
    if (job.straight && transColour && (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_RGB)) {
        const unsigned maximum = (1u << bitDepth) - 1;
        const bool inRange = colourType == PNG_COLOR_TYPE_GRAY
                                 ? transColour->gray <= maximum
                                 : transColour->red <= maximum && transColour->green <= maximum &&
                                       transColour->blue <= maximum;
        if (inRange) {
            job.format = pf32bit;
            job.hasAlpha = true;
            job.layout = TPngLayout::StraightColour;
            png_set_tRNS_to_alpha(png);
            if (bitDepth == 16) png_set_strip_16(png);
            if (colourType == PNG_COLOR_TYPE_GRAY) png_set_gray_to_rgb(png);
            png_set_bgr(png);
            return;
        }
    }

    switch (colourType) {
        case PNG_COLOR_TYPE_GRAY_ALPHA:
        case PNG_COLOR_TYPE_RGB_ALPHA:
            job.format = pf32bit;
            job.hasAlpha = true;
            job.layout = job.straight ? TPngLayout::StraightColour : TPngLayout::AlphaColour;
            if (bitDepth == 16) png_set_strip_16(png);
            if (colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
            png_set_bgr(png);
            return;
        case PNG_COLOR_TYPE_RGB:
            job.format = pf24bit;
            if (bitDepth == 16) png_set_strip_16(png);
            png_set_bgr(png);
            return;
        case PNG_COLOR_TYPE_GRAY:
            if (bitDepth >= 8) {
                job.format = pf24bit;
                if (bitDepth == 16) png_set_strip_16(png);
                png_set_gray_to_rgb(png);
                return;
            }
            for (int i = 0, levels = 1 << bitDepth; i < levels; ++i) {
                const auto v = std::uint8_t(i * 255 / (levels - 1));
                job.palette.push_back(RGBColor(v, v, v));
            }
            break;
        case PNG_COLOR_TYPE_PALETTE: {
            bool transparent = false;
            for (int i = 0; i < transCount; ++i) transparent = transparent || trans[i] < 255;
            if (transparent) {
                job.format = pf32bit;
                job.hasAlpha = true;
                job.layout = TPngLayout::AlphaPalette;
                job.alpha.fill(255);
                for (int i = 0; i < plteCount && i < 256; ++i) {
                    job.red[i] = plte[i].red;
                    job.green[i] = plte[i].green;
                    job.blue[i] = plte[i].blue;
                }
                for (int i = 0; i < transCount && i < 256; ++i) job.alpha[i] = trans[i];
                if (bitDepth < 8) png_set_packing(png);
                return;
            }
            for (int i = 0; i < plteCount && i < (1 << bitDepth); ++i)
                job.palette.push_back(RGBColor(plte[i].red, plte[i].green, plte[i].blue));
            break;
        }
        default:
            // libpng refuses other colour types while reading the header.
            png_error(png, "unsupported colour type");
    }
    // Grey or palette at 1, 2, 4 or 8 bits: the stored indices.
    job.format = bitDepth == 1 ? pf1bit : bitDepth == 8 ? pf8bit : pf4bit;
    job.layout = bitDepth == 2 ? TPngLayout::Widen2To4 : TPngLayout::Stored;
}

// The bytes per row that libpng must deliver for the chosen layout.
std::size_t ExpectedRowBytes(const TPngJob& job) {
    const std::size_t w = std::size_t(job.width);
    switch (job.layout) {
        case TPngLayout::Widen2To4: return (w * 2 + 7) / 8;
        case TPngLayout::AlphaColour:
        case TPngLayout::StraightColour: return w * 4;
        case TPngLayout::AlphaPalette: return w;
        case TPngLayout::Stored: break;
    }
    return (w * std::size_t(BitsPerPixel(job.format)) + 7) / 8;
}

// Widens a row of 2-bit pixels to 4-bit ones in place (leftmost pixel in the
// high bits in both). Output byte j (pixels 2j, 2j+1) is written after both
// of its pixels were read; it overwrites input byte j, whose pixels (4j and
// up) were already widened, since the loop runs from the right.
void Widen2To4(std::uint8_t* row, int width) {
    for (int j = (width + 1) / 2 - 1; j >= 0; --j) {
        const int x = 2 * j;
        const unsigned left = (row[x / 4] >> (6 - 2 * (x % 4))) & 3u;
        const unsigned right = x + 1 < width ? (row[(x + 1) / 4] >> (6 - 2 * ((x + 1) % 4))) & 3u : 0u;
        row[j] = std::uint8_t(left << 4 | right);
    }
}

// Premultiplies a row of B, G, R, A pixels: c -> (c * a + 127) / 255.
void PremultiplyRow(std::uint8_t* row, int width) {
    for (int x = 0; x < width; ++x, row += 4) {
        const unsigned a = row[3];
        row[0] = std::uint8_t((row[0] * a + 127) / 255);
        row[1] = std::uint8_t((row[1] * a + 127) / 255);
        row[2] = std::uint8_t((row[2] * a + 127) / 255);
    }
}

// Turns a row of 8-bit palette indices (the first `width` bytes) into
// B, G, R, A pixels in place, from the right so that no index is overwritten
// before it is read. Premultiplied as c -> (c * a + 255) / 256, or the
// table's own colours for a sink that wants straight alpha.
void ExpandPaletteRow(const TPngJob& job, std::uint8_t* row, int width) {
    for (int x = width - 1; x >= 0; --x) {
        const unsigned i = row[x];
        const unsigned a = job.alpha[i];
        std::uint8_t* p = row + 4 * std::size_t(x);
        if (job.straight) {
            p[0] = job.blue[i];
            p[1] = job.green[i];
            p[2] = job.red[i];
            p[3] = std::uint8_t(a);
            continue;
        }
        p[0] = std::uint8_t((job.blue[i] * a + 255) / 256);
        p[1] = std::uint8_t((job.green[i] * a + 255) / 256);
        p[2] = std::uint8_t((job.red[i] * a + 255) / 256);
        p[3] = std::uint8_t(a);
    }
}

// Brings a row from libpng's layout into ours and clears every bit past the
// last pixel: the unused low bits of a packed row's last byte and the
// padding up to the row stride.
void FinishRow(const TPngJob& job, std::uint8_t* row) {
    if (job.layout == TPngLayout::Widen2To4) Widen2To4(row, job.width);
    if (job.layout == TPngLayout::AlphaColour) PremultiplyRow(row, job.width);
    if (job.layout == TPngLayout::AlphaPalette) ExpandPaletteRow(job, row, job.width);
    const int bits = BitsPerPixel(job.format);
    const std::size_t usedBits = std::size_t(job.width) * std::size_t(bits);
    const std::size_t usedBytes = (usedBits + 7) / 8;
    if (usedBits % 8 != 0) row[usedBytes - 1] &= std::uint8_t(0xFF00u >> (usedBits % 8));
    const std::size_t stride = RowStride(job.width, bits);
    std::memset(row + usedBytes, 0, stride - usedBytes);
}

// Hands the picture's description to the sink. In its own function so that
// TImageInfo (which owns a vector) never lives in RunDecoder's frame.
void BeginSink(TPngJob& job) {
    TImageInfo info;
    info.Width = job.width;
    info.Height = job.height;
    info.Format = job.format;
    info.HasAlpha = job.hasAlpha;
    info.StraightAlpha = job.hasAlpha && job.straight;
    info.Palette = job.palette;
    job.sink->Begin(info);
}

void AllocateFrame(TPngJob& job, std::size_t bytes) {
    try {
        job.frame.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
}

// Runs libpng from the signature to the IEND chunk. Returns false when
// libpng gave up (job.message says why).
//
// THE ONE PLACE where libpng's errors land: OnError longjmps to the setjmp
// below. Nothing with a destructor may live in this function's frame, since a
// longjmp would skip it; all state is in `job`, which the caller owns, so no
// local is read after the jump. Our own C++ exceptions (the limits check,
// the sink, memory) are thrown from code called here, never from inside
// libpng, and leave through the normal unwinding.
bool RunDecoder(TPngJob& job) {
    png_structp png = job.png;
    png_infop info = job.info;
    if (setjmp(png_jmpbuf(png)) != 0) return false;

    png_set_read_fn(png, &job, ReadData);
    png_set_user_limits(png, png_uint_32(kMaxImageSide), png_uint_32(kMaxImageSide));
    png_set_chunk_malloc_max(png, kMaxChunkBytes);
    // Skip every chunk except IHDR, PLTE, tRNS, IDAT and IEND: colour
    // profiles, gamma, text and the rest play no part in what we deliver, and
    // compressed text or profiles are never inflated.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_read_info(png, info);

    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, &interlace, nullptr, nullptr);
    job.width = int(width);
    job.height = int(height);
    ChooseLayout(job, bitDepth, colourType);
    CheckImageLimits(job.width, job.height, BitsPerPixel(job.format));

    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    if (rowBytes != ExpectedRowBytes(job)) png_error(png, "unexpected row layout");
    BeginSink(job);

    if (passes == 1) {
        // Each row straight into the sink's buffer, which is large enough:
        // libpng's row never holds more bytes than ours.
        for (int y = 0; y < job.height; ++y) {
            std::uint8_t* row = job.sink->RowBuffer(y);
            png_read_row(png, row, nullptr);
            FinishRow(job, row);
            job.sink->RowDone(y);
        }
    } else {
        // Interlaced: a row is complete only after the last of the seven
        // passes, so libpng assembles the whole picture in our own frame
        // (rowBytes * height, no larger than the bitmap the limits check
        // allowed) and the rows are delivered from it afterwards. This is the
        // one case with a second full-size copy.
        AllocateFrame(job, rowBytes * std::size_t(job.height));
        for (int pass = 0; pass < passes; ++pass)
            for (int y = 0; y < job.height; ++y) png_read_row(png, job.frame.data() + rowBytes * std::size_t(y), nullptr);
        for (int y = 0; y < job.height; ++y) {
            std::uint8_t* row = job.sink->RowBuffer(y);
            std::memcpy(row, job.frame.data() + rowBytes * std::size_t(y), rowBytes);
            FinishRow(job, row);
            job.sink->RowDone(y);
        }
    }
    // On to IEND, so that a file cut after its image data still counts as
    // truncated, and a CRC error there is still seen.
    png_read_end(png, nullptr);
    return true;
}

// Destroys libpng's state however DecodePng is left.
struct TPngJobGuard {
    TPngJob& job;
    ~TPngJobGuard() { png_destroy_read_struct(&job.png, job.info ? &job.info : nullptr, nullptr); }
};

}  // namespace

void DecodePng(std::FILE* file, IRowSink& sink) {
    TPngJob job;
    job.file = file;
    job.sink = &sink;
    job.straight = sink.WantsStraightAlpha();
    job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job, OnError, OnWarning);
    if (!job.png) throw EOutOfMemory();
    TPngJobGuard guard{job};
    job.info = png_create_info_struct(job.png);
    if (!job.info) throw EOutOfMemory();

    if (!RunDecoder(job)) {
        if (std::strcmp(job.message, "Out of memory") == 0) throw EOutOfMemory();
        throw EInvalidImage(std::string("PNG: ") + job.message);
    }
    sink.End();
}
