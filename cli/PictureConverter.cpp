#include "PictureConverter.h"

#include "Exception.h"
#include "ImageCodec.h"
#include "StretchSampler.h"

#include <cstring>
#include <optional>
#include <string_view>

namespace {

const TImageFormat& FormatOf(const std::string& path) {
    std::string lowered(ExtensionOf(path));
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    const TImageFormat* format = FormatForExtension(lowered);
    if (format == nullptr)
        throw EInvalidImage("Unsupported picture format" + (lowered.empty() ? std::string() : " \"" + lowered + "\"") +
                            " (BMP, JPEG, PNG, GIF and ICO pictures are read)");
    return *format;
}

// Keeps what drawing the picture into the icon needs, one row at a time,
// plus the top-left pixel that decides the default transparency.
class TSamplingSink final : public IRowSink {
public:
    explicit TSamplingSink(const TConvertSettings& settings) : settings_(settings) {}

    void Begin(const TImageInfo& info) override {
        Size = settings_.OriginalSize ? TIconSize{info.Width, info.Height} : settings_.Size;
        if (!settings_.AllowLarge && NeedsSizeConfirmation(Size))
            throw Exception("The icon would be " + std::to_string(Size.Width) + " x " + std::to_string(Size.Height) +
                            " pixels, larger than " + std::to_string(MaxIconSide) + " x " +
                            std::to_string(MaxIconSide) + "; give --allow-large to write it all the same");
        if (Size.Width < 1 || Size.Height < 1) throw EInvalidGraphic("Bitmap image is not valid");
        sampler_.emplace(info.Width, info.Height, info.Format, info.Palette, info.HasAlpha, Size.Width, Size.Height,
                         settings_.Depth);
        row_.assign(RowStride(info.Width, BitsPerPixel(info.Format)), 0);
        Corner.SetPixelFormat(info.Format);
        Corner.SetHasAlpha(info.HasAlpha);
        Corner.SetSize(1, 1);
        if (!info.Palette.empty()) Corner.SetPalette(info.Palette);
    }
    bool WantsRow(int y) const override { return y == 0 || sampler_->NeedsRow(y); }
    std::uint8_t* RowBuffer(int) override { return row_.data(); }
    void RowDone(int y) override {
        sampler_->AddRow(y, row_.data());
        // A row is at least 4 bytes, and so is a 1 x 1 bitmap's; the first
        // pixel lies in them whatever the format.
        if (y == 0) std::memcpy(Corner.ScanLine(0), row_.data(), 4);
    }

    TBitmap StandIn() const { return sampler_->StandIn(); }

    TIconSize Size;
    // The picture's top-left pixel, in the picture's own format.
    TBitmap Corner;

private:
    const TConvertSettings& settings_;
    std::optional<TStretchSampler> sampler_;
    std::vector<std::uint8_t> row_;
};

}  // namespace

TIconImage ConvertPicture(const std::string& path, const TConvertSettings& settings) {
    const TImageFormat& format = FormatOf(path);
    TSamplingSink sink(settings);
    DecodeFile(path, format, sink);

    const TColor corner = sink.Corner.Canvas().Pixel(0, 0);
    bool useTransparent = false;
    TColor colour = corner;
    switch (settings.Transparency) {
        case TTransparencyChoice::WindowDefault: useTransparent = corner == clBlack; break;
        case TTransparencyChoice::Off: break;
        case TTransparencyChoice::Colour:
            useTransparent = true;
            colour = settings.Colour;
            break;
        case TTransparencyChoice::TopLeft: useTransparent = true; break;
    }
    return RenderIconEx(sink.StandIn(), sink.Size.Width, sink.Size.Height, useTransparent,
                        ConvertColor(useTransparent, colour, corner), settings.Depth);
}
