#include "PictureConverter.h"

#include "Exception.h"
#include "ImageCodec.h"

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

}  // namespace

TIconImage ConvertPicture(const std::string& path, const TConvertSettings& settings) {
    const TImageFormat& format = FormatOf(path);
    const TBitmap picture = LoadPicture(path, format);
    const TIconSize size = settings.OriginalSize ? TIconSize{picture.Width(), picture.Height()} : settings.Size;
    if (!settings.AllowLarge && NeedsSizeConfirmation(size))
        throw Exception("The icon would be " + std::to_string(size.Width) + " x " + std::to_string(size.Height) +
                        " pixels, larger than " + std::to_string(MaxIconSide) + " x " + std::to_string(MaxIconSide) +
                        "; give --allow-large to write it all the same");
    const TColor corner = picture.Canvas().Pixel(0, 0);
    bool useTransparent = false;
    TColor colour = corner;
    switch (settings.Transparency) {
        case TTransparencyChoice::WindowDefault: useTransparent = corner == clBlack; break;
        case TTransparencyChoice::Off: break;
        case TTransparencyChoice::Colour: useTransparent = true; colour = settings.Colour; break;
        case TTransparencyChoice::TopLeft: useTransparent = true; break;
    }
    return RenderIconEx(picture, size.Width, size.Height, useTransparent, ConvertColor(useTransparent, colour, corner),
                        settings.Depth);
}
