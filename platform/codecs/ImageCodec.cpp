// The format table, opening files and memory for the decoders, and the
// bitmap sink.

#include "ImageCodec.h"

#include "Decoders.h"
#include "Exception.h"
#include "ImageLimits.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

IRowSink::~IRowSink() = default;

void TBitmapSink::Begin(const TImageInfo& info) {
    building_ = TBitmap();
    building_.SetPixelFormat(info.Format);
    building_.SetHasAlpha(info.HasAlpha);
    // Every row is written by the decoder before End: no blank fill first.
    building_.SetSizeForOverwrite(info.Width, info.Height);
    if (!info.Palette.empty()) building_.SetPalette(info.Palette);
}

std::uint8_t* TBitmapSink::RowBuffer(int y) { return building_.ScanLine(y); }

void TBitmapSink::End() {
    Bitmap = building_;
    building_ = TBitmap();
}

const std::vector<TImageFormat>& ImageFormats() {
    static const std::vector<TImageFormat> formats = {
        {"BMP", "Bitmaps", {".bmp"}, DecodeBmp},
        {"JPEG", "JPEG Image File", {".jpg", ".jpeg"}, DecodeJpeg},
        {"PNG", "Portable Network Graphics", {".png"}, DecodePng},
        {"GIF", "GIF Image", {".gif"}, DecodeGif},
        {"ICO", "Icons", {".ico"}, DecodeIco},
    };
    return formats;
}

std::string_view ExtensionOf(std::string_view path) {
    const std::size_t at = path.find_last_of(".\\:");
    if (at == std::string_view::npos || path[at] != '.') return {};
    return path.substr(at);
}

const TImageFormat* FormatForExtension(std::string_view extension) {
    for (const TImageFormat& format : ImageFormats())
        for (std::string_view known : format.Extensions)
            if (known == extension) return &format;
    return nullptr;
}

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

[[noreturn]] void ThrowOpenError(const std::string& path, int error) {
    throw EFOpenError("Cannot open file \"" + path + "\". " + std::strerror(error));
}

void RefuseEmpty(const TImageFormat& format) {
    throw EInvalidImage(std::string(format.Name) + ": the file is empty");
}

}  // namespace

void DecodeFile(const std::string& path, const TImageFormat& format, IRowSink& sink) {
    // O_NONBLOCK so that a named pipe given as a picture cannot hang the
    // open; only regular files are read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) ThrowOpenError(path, errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        ThrowOpenError(path, error);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        ThrowOpenError(path, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FilePtr file(::fdopen(fd, "rb"));
    if (!file) {
        const int error = errno;
        ::close(fd);
        ThrowOpenError(path, error);
    }
    if (info.st_size == 0) RefuseEmpty(format);
    format.Decode(file.get(), sink);
}

void DecodeMemory(const void* data, std::size_t size, const TImageFormat& format, IRowSink& sink) {
    if (size == 0) RefuseEmpty(format);
    FilePtr file(::fmemopen(const_cast<void*>(data), size, "rb"));
    if (!file) throw EOutOfMemory();
    format.Decode(file.get(), sink);
}

TBitmap LoadPicture(const std::string& path, const TImageFormat& format) {
    TBitmapSink sink;
    DecodeFile(path, format, sink);
    return sink.Bitmap;
}
