// JPEG decoder over libjpeg (Debian's libjpeg-turbo, interface 62).
//
// What it delivers, always at the picture's full size:
// - colour files (YCbCr or RGB) as pf24bit, decoded by libjpeg straight into
//   the sink's rows in B, G, R order (JCS_EXT_BGR);
// - CMYK and YCCK files as pf32bit without alpha (fourth byte 0), converted
//   to RGB in the row buffer itself (formula at CmykRowToBgr0);
// - greyscale files as pf8bit, reduced by libjpeg's one-pass quantiser to 236
//   evenly spaced grey levels with Floyd-Steinberg dithering; the palette is
//   the quantiser's colour map.
//
// Errors: libjpeg reports a fatal error by calling error_exit, which must not
// return. RunDecoder is the one place that catches it (setjmp); DecodeJpeg
// then raises EInvalidImage("JPEG: <libjpeg's message>") outside it.

#include "Decoders.h"

#include "Exception.h"
#include "ImageLimits.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <jpeglib.h>
#include <jerror.h>

namespace {

// The most scans a progressive file may have. Real encoders write about ten;
// a crafted file with thousands of tiny scans over a large picture would keep
// the decoder busy for minutes (libjpeg-turbo's own tools use the same limit).
constexpr int kMaxScans = 500;

// Working memory libjpeg may take for its whole-picture coefficient buffers
// (progressive and multi-scan files): 1 GiB, room for the largest picture
// our limits allow at 4:2:0 sampling. Beyond it libjpeg stops with
// JERR_NO_BACKING_STORE, which we report as out of memory.
constexpr long kMaxJpegWorkingMemory = 1L << 30;

// How decoding ended when it did not finish.
enum class TJpegFailure {
    None,
    Library,    // libjpeg's fatal error, or a warning we treat as one
    Truncated,  // the file ends before the picture does
    Memory,     // libjpeg ran out of (its allowed) memory
};

// Everything libjpeg and the decoding loop touch. Plain data only: it lives
// in DecodeJpeg, outside the function that calls setjmp, so a longjmp skips
// no destructor.
struct TJpegJob {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errorManager;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    TJpegFailure failure;
    char message[JMSG_LENGTH_MAX];
    IRowSink* sink;
    TPixelFormat format;
};

TJpegJob& JobOf(j_common_ptr cinfo) {
    // client_data points back at the job (set in DecodeJpeg).
    return *static_cast<TJpegJob*>(cinfo->client_data);
}

// Ends decoding: keeps libjpeg's formatted message and jumps back to
// RunDecoder's setjmp. libjpeg's state is abandoned there and destroyed by
// DecodeJpeg.
[[noreturn]] void Abandon(j_common_ptr cinfo, TJpegFailure failure) {
    TJpegJob& job = JobOf(cinfo);
    job.failure = failure;
    (*cinfo->err->format_message)(cinfo, job.message);
    std::longjmp(job.jump, 1);
}

// libjpeg's fatal errors (error_exit must not return).
[[noreturn]] void OnError(j_common_ptr cinfo) {
    const int code = cinfo->err->msg_code;
    Abandon(cinfo, code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE ? TJpegFailure::Memory
                                                                                : TJpegFailure::Library);
}

// libjpeg's warnings (level -1) and trace messages (level 0 and above).
// libjpeg goes on after a warning, but some warnings mean that the rest of
// the picture would be made up:
// - JWRN_JPEG_EOF: the file ends early; libjpeg would fill the missing rows
//   with grey. Reported as "the file is truncated".
// - JWRN_HIT_MARKER, JWRN_HUFF_BAD_CODE, JWRN_ARITH_BAD_CODE,
//   JWRN_MUST_RESYNC: the compressed data is damaged; what follows would be
//   grey or garbage. Reported with libjpeg's message.
// The other warnings leave the pixels intact (stray bytes between segments,
// an unknown JFIF revision or Adobe transform code, a bad ICC marker, an odd
// order of progressive scans) and are ignored, as every other reader does.
void OnMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    cinfo->err->num_warnings++;
    switch (cinfo->err->msg_code) {
        case JWRN_JPEG_EOF:
            Abandon(cinfo, TJpegFailure::Truncated);
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE:
        case JWRN_MUST_RESYNC:
            Abandon(cinfo, TJpegFailure::Library);
        default:
            break;
    }
}

// Called by libjpeg as it reads a progressive file's scans; refuses files
// with more than kMaxScans scans.
void OnProgress(j_common_ptr cinfo) {
    auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (dinfo->is_decompressor && dinfo->progressive_mode && dinfo->input_scan_number > kMaxScans) {
        TJpegJob& job = JobOf(cinfo);
        job.failure = TJpegFailure::Library;
        std::snprintf(job.message, sizeof job.message, "the file has more than %d progressive scans", kMaxScans);
        std::longjmp(job.jump, 1);
    }
}

// CMYK to RGB, in place: libjpeg delivers C, M, Y, K per pixel; the row is
// rewritten as B, G, R, 0. With `inverted` (the file has Adobe's APP14
// marker), the stored bytes are 255 minus the ink amounts, as Photoshop
// writes them; otherwise they are the ink amounts. With ink amounts c and k
// (0..255) a channel is
//     R = (255 - c) * (255 - k) / 255, rounded to nearest,
// computed as ((255 - c) * (255 - k) + 127) / 255 in integers; likewise G from
// m and B from y. For inverted bytes C' = 255 - c this is (C' * K' + 127) / 255.
void CmykRowToBgr0(std::uint8_t* row, int width, bool inverted) {
    for (int x = 0; x < width; ++x, row += 4) {
        unsigned c = row[0], m = row[1], y = row[2], k = row[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        row[0] = std::uint8_t((y * k + 127) / 255);
        row[1] = std::uint8_t((m * k + 127) / 255);
        row[2] = std::uint8_t((c * k + 127) / 255);
        row[3] = 0;
    }
}

// Hands the picture's description to the sink. In its own function so that
// TImageInfo (which owns a vector) never lives in RunDecoder's frame.
void BeginSink(TJpegJob& job) {
    TImageInfo info;
    info.Width = int(job.cinfo.output_width);
    info.Height = int(job.cinfo.output_height);
    info.Format = job.format;
    if (job.format == pf8bit) {
        // The quantiser's colour map: one component, actual_number_of_colors
        // evenly spaced grey levels.
        for (int i = 0; i < job.cinfo.actual_number_of_colors; ++i) {
            const std::uint8_t v = job.cinfo.colormap[0][i];
            info.Palette.push_back(RGBColor(v, v, v));
        }
    }
    job.sink->Begin(info);
}

// Runs libjpeg from the header to the end of the picture. Returns false when
// libjpeg gave up (job.failure and job.message say why).
//
// THE ONE PLACE where libjpeg's errors land: OnError, OnMessage and
// OnProgress longjmp to the setjmp below. Nothing with a destructor may live
// in this function's frame, since a longjmp would skip it; all state is in
// `job`, which the caller owns, so no local is read after the jump. Our own
// C++ exceptions (the limits check, the sink) are thrown from code called
// here, never from inside libjpeg, and leave through the normal unwinding.
bool RunDecoder(TJpegJob& job, std::FILE* file) {
    if (setjmp(job.jump) != 0) return false;

    j_decompress_ptr cinfo = &job.cinfo;
    jpeg_create_decompress(cinfo);
    cinfo->client_data = &job;
    cinfo->mem->max_memory_to_use = kMaxJpegWorkingMemory;
    cinfo->progress = &job.progress;
    jpeg_stdio_src(cinfo, file);
    jpeg_read_header(cinfo, TRUE);

    switch (cinfo->jpeg_color_space) {
        case JCS_GRAYSCALE:
            job.format = pf8bit;
            cinfo->out_color_space = JCS_GRAYSCALE;
            cinfo->quantize_colors = TRUE;
            cinfo->desired_number_of_colors = 236;
            cinfo->dither_mode = JDITHER_FS;
            cinfo->two_pass_quantize = FALSE;
            break;
        case JCS_YCbCr:
        case JCS_RGB:
            job.format = pf24bit;
            cinfo->out_color_space = JCS_EXT_BGR;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            // libjpeg turns YCCK into CMYK itself.
            job.format = pf32bit;
            cinfo->out_color_space = JCS_CMYK;
            break;
        default:
            job.failure = TJpegFailure::Library;
            std::snprintf(job.message, sizeof job.message, "unsupported colour space with %d components",
                          cinfo->num_components);
            return false;
    }
    CheckImageLimits(int(cinfo->image_width), int(cinfo->image_height), BitsPerPixel(job.format));

    jpeg_start_decompress(cinfo);
    BeginSink(job);
    const int width = int(cinfo->output_width);
    const std::size_t stride = RowStride(width, BitsPerPixel(job.format));
    const std::size_t used = std::size_t(width) * std::size_t(cinfo->output_components);
    // Rows the sink does not want are skipped: libjpeg then leaves out the
    // colour conversion of every such row and the inverse transform of whole
    // blocks of them. Not for the dithered greyscale, whose error diffusion
    // runs through every row.
    const bool maySkip = !cinfo->quantize_colors;
    while (cinfo->output_scanline < cinfo->output_height) {
        const int y = int(cinfo->output_scanline);
        if (maySkip && !job.sink->WantsRow(y)) {
            JDIMENSION run = 1;
            while (y + int(run) < int(cinfo->output_height) && !job.sink->WantsRow(y + int(run))) ++run;
            if (jpeg_skip_scanlines(cinfo, run) != run) {
                job.failure = TJpegFailure::Truncated;
                return false;
            }
            continue;
        }
        JSAMPROW row = job.sink->RowBuffer(y);
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1) {
            // Only a suspending data source returns no row; stdio never does.
            job.failure = TJpegFailure::Truncated;
            return false;
        }
        if (job.format == pf32bit) CmykRowToBgr0(row, width, cinfo->saw_Adobe_marker);
        std::memset(row + used, 0, stride - used);
        job.sink->RowDone(y);
    }
    // Reads on to the end-of-image marker, so that a file cut after the last
    // row still counts as truncated.
    jpeg_finish_decompress(cinfo);
    return true;
}

// Destroys libjpeg's state however DecodeJpeg is left.
struct TJpegJobGuard {
    TJpegJob& job;
    ~TJpegJobGuard() { jpeg_destroy_decompress(&job.cinfo); }
};

}  // namespace

void DecodeJpeg(std::FILE* file, IRowSink& sink) {
    TJpegJob job;
    std::memset(&job, 0, sizeof job);  // jpeg_destroy_decompress is safe on a zeroed struct
    job.sink = &sink;
    job.cinfo.err = jpeg_std_error(&job.errorManager);
    job.errorManager.error_exit = OnError;
    job.errorManager.emit_message = OnMessage;
    job.progress.progress_monitor = OnProgress;
    job.cinfo.client_data = &job;  // before jpeg_create_decompress, which may fail
    TJpegJobGuard guard{job};

    if (RunDecoder(job, file)) {
        sink.End();
        return;
    }
    switch (job.failure) {
        case TJpegFailure::Truncated:
            throw EInvalidImage("JPEG: the file is truncated");
        case TJpegFailure::Memory:
            throw EOutOfMemory();
        default:
            break;
    }
    if (job.errorManager.msg_code == JERR_BAD_PRECISION)
        throw EInvalidImage(std::string("JPEG: ") + job.message + " (only 8-bit samples are supported)");
    throw EInvalidImage(std::string("JPEG: ") + job.message);
}
