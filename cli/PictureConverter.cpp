#include "PictureConverter.h"

#include "Exception.h"
#include "ImageCodec.h"
#include "StretchSampler.h"

#include <algorithm>
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

std::string SizeText(const TIconSize& size) { return std::to_string(size.Width) + " x " + std::to_string(size.Height); }

// Where the picture goes in a width x height image: the part of the picture
// drawn (`from`) and the part of the image it covers (`to`). Sides are
// rounded to the nearest pixel and never below one.
void FitRectangles(int pictureWidth, int pictureHeight, int width, int height, TFit fit, TResampleRect& from,
                   TResampleRect& to) {
    from = {0, 0, pictureWidth, pictureHeight};
    to = {0, 0, width, height};
    // Whether the picture is wider than the image, for their aspects.
    const bool wider = std::int64_t(pictureWidth) * height >= std::int64_t(pictureHeight) * width;
    const auto scaled = [](std::int64_t side, std::int64_t times, std::int64_t over, int most) {
        return int(std::clamp<std::int64_t>((2 * side * times + over) / (2 * over), 1, most));
    };
    if (fit == TFit::Pad) {
        if (wider) {
            to.Height = scaled(pictureHeight, width, pictureWidth, height);
            to.Top = (height - to.Height) / 2;
        } else {
            to.Width = scaled(pictureWidth, height, pictureHeight, width);
            to.Left = (width - to.Width) / 2;
        }
    } else if (fit == TFit::Crop) {
        if (wider) {
            from.Width = scaled(pictureHeight, width, height, pictureWidth);
            from.Left = (pictureWidth - from.Width) / 2;
        } else {
            from.Height = scaled(pictureWidth, height, width, pictureHeight);
            from.Top = (pictureHeight - from.Height) / 2;
        }
    }
}

// A rendered single image as plain straight-alpha pixels: its colour rows
// (stored bottom-up) with opacity 0 where the mask is set, otherwise 255 or,
// at 32 bits, the stored fourth byte.
TRgbaImage RgbaOf(const TIconImage& image) {
    const int width = image.Header.biWidth, height = image.Header.biHeight / 2;
    const int bytes = image.Header.biBitCount / 8;
    const std::size_t colourStride = IconDIBSize(width, 1, image.Header.biBitCount);
    const std::size_t maskStride = IconDIBSize(width, 1, 1);
    TRgbaImage out(width, height);
    for (int y = 0; y < height; ++y) {
        const std::size_t stored = std::size_t(height - 1 - y);
        const std::uint8_t* colour = image.ColorBits.data() + stored * colourStride;
        const std::uint8_t* mask = image.MaskBits.data() + stored * maskStride;
        std::uint8_t* pixel = out.Row(y);
        for (int x = 0; x < width; ++x, pixel += 4, colour += bytes) {
            const bool masked = (mask[x >> 3] >> (7 - (x & 7))) & 1;
            std::memcpy(pixel, colour, 3);
            pixel[3] = masked ? 0 : bytes == 4 ? colour[3] : 255;
        }
    }
    return out;
}

// One image of the icon while the rows go past: either the window's sampler
// or a resampler.
struct TImageWork {
    TIconSize Size;
    bool Png = false;
    std::optional<TStretchSampler> Sampler;
    std::optional<TResampler> Resampler;
    TResampleRect To;
};

// Keeps what drawing the picture into each image needs, one row at a time,
// plus the top-left pixel that decides the default transparency.
class TIconSink final : public IRowSink {
public:
    explicit TIconSink(const TConvertSettings& settings) : settings_(settings) {}

    bool WantsStraightAlpha() const override { return settings_.KeepAlpha; }

    void Begin(const TImageInfo& info) override {
        info_ = info;
        // Nearest-neighbour over the whole icon, opacity composed: each image
        // is drawn exactly as the window draws its one image.
        const bool window =
            settings_.Filter == TResampleFilter::Nearest && settings_.Fit == TFit::Stretch && !settings_.KeepAlpha;
        for (const TSizeChoice& choice : settings_.Sizes) {
            const TIconSize size = choice.Original ? TIconSize{info.Width, info.Height} : choice.Size;
            if (!settings_.AllowLarge && NeedsSizeConfirmation(size))
                throw Exception("The icon would be " + SizeText(size) + " pixels, larger than " +
                                SizeText({MaxIconSide, MaxIconSide}) + "; give --allow-large to write it all the same");
            if (size.Width < 1 || size.Height < 1) throw EInvalidGraphic("Bitmap image is not valid");
            for (const TImageWork& earlier : images_)
                if (earlier.Size == size)
                    throw Exception("The picture's own size, " + SizeText(size) + ", is also in the size list");
            TImageWork& work = images_.emplace_back();
            work.Size = size;
            work.Png = settings_.PngAll ||
                       std::any_of(settings_.PngSizes.begin(), settings_.PngSizes.end(),
                                   [&](const TSizeChoice& png) { return png == choice; });
            if (window) {
                work.Sampler.emplace(info.Width, info.Height, info.Format, info.Palette, info.HasAlpha, size.Width,
                                     size.Height, settings_.Depth);
            } else {
                TResampleRect from;
                FitRectangles(info.Width, info.Height, size.Width, size.Height, settings_.Fit, from, work.To);
                work.Resampler.emplace(info.Width, info.Height, from, size.Width, size.Height, work.To,
                                       settings_.Filter);
            }
        }
        row_.assign(RowStride(info.Width, BitsPerPixel(info.Format)), 0);
        if (!window) bgra_.assign(std::size_t(info.Width) * 4, 0);
        Corner.SetPixelFormat(info.Format);
        Corner.SetHasAlpha(info.HasAlpha);
        Corner.SetSize(1, 1);
        if (!info.Palette.empty()) Corner.SetPalette(info.Palette);
    }

    bool WantsRow(int y) const override {
        if (y == 0) return true;
        for (const TImageWork& work : images_)
            if (work.Sampler ? work.Sampler->NeedsRow(y) : work.Resampler->NeedsRow(y)) return true;
        return false;
    }

    std::uint8_t* RowBuffer(int) override { return row_.data(); }

    void RowDone(int y) override {
        bool converted = false;
        for (TImageWork& work : images_) {
            if (work.Sampler) {
                work.Sampler->AddRow(y, row_.data());
            } else if (work.Resampler->NeedsRow(y)) {
                if (!converted)
                    RowToStraightBgra(row_.data(), info_.Width, info_.Format, info_.Palette, info_.HasAlpha,
                                      info_.StraightAlpha, bgra_.data());
                converted = true;
                work.Resampler->AddRow(y, bgra_.data());
            }
        }
        // A row is at least 4 bytes, and so is a 1 x 1 bitmap's; the first
        // pixel lies in them whatever the format.
        if (y == 0) std::memcpy(Corner.ScanLine(0), row_.data(), 4);
    }

    std::vector<TImageWork>& Images() { return images_; }
    // Whether the picture carries its own opacity.
    bool HasAlpha() const { return info_.HasAlpha; }

    // The picture's top-left pixel, in the picture's own format.
    TBitmap Corner;

private:
    const TConvertSettings& settings_;
    TImageInfo info_;
    std::vector<TImageWork> images_;
    std::vector<std::uint8_t> row_, bgra_;
};

// The smooth path's picture made ready for the icon entry: without
// KeepAlpha the picture's opacity is composed over white as the window
// composes it (out = c * a / 255 + (255 - a), rounded), so only the area
// around a padded picture stays transparent; that area takes the background
// when one is given.
void FinishSmoothImage(TRgbaImage& image, const TResampleRect& to, const TConvertSettings& settings) {
    for (int y = 0; y < image.Height; ++y) {
        std::uint8_t* p = image.Row(y);
        for (int x = 0; x < image.Width; ++x, p += 4) {
            const bool inside = x >= to.Left && x < to.Left + to.Width && y >= to.Top && y < to.Top + to.Height;
            if (!inside) {
                if (settings.UseBackground) {
                    p[0] = GetBValue(settings.Background);
                    p[1] = GetGValue(settings.Background);
                    p[2] = GetRValue(settings.Background);
                    p[3] = 255;
                }
                continue;
            }
            if (settings.KeepAlpha) continue;
            const unsigned a = p[3];
            for (int c = 0; c < 3; ++c)
                p[c] = std::uint8_t(std::min(255u, (p[c] * a + 127) / 255 + (255 * (255 - a) + 127) / 255));
            p[3] = 255;
        }
    }
}

}  // namespace

TConvertedIcon ConvertPicture(const std::string& path, const TConvertSettings& settings) {
    if (settings.KeepAlpha && settings.Depth != pf32bit)
        throw Exception("Keeping the picture's opacity needs 32-bit images: only they carry one per pixel");
    const TImageFormat& format = FormatOf(path);
    TIconSink sink(settings);
    DecodeFile(path, format, sink);

    const TColor corner = sink.Corner.Canvas().Pixel(0, 0);
    bool useTransparent = false;
    TColor colour = corner;
    // Beyond the window's drawing, a picture with its own opacity says itself
    // what is transparent: a transparent corner (black once premultiplied)
    // must not make every black pixel of a logo transparent too.
    const bool ownOpacity = sink.HasAlpha() && !sink.Images().front().Sampler;
    switch (settings.Transparency) {
        case TTransparencyChoice::WindowDefault: useTransparent = corner == clBlack && !ownOpacity; break;
        case TTransparencyChoice::Off: break;
        case TTransparencyChoice::Colour:
            useTransparent = true;
            colour = settings.Colour;
            break;
        case TTransparencyChoice::TopLeft: useTransparent = true; break;
    }
    const TColor key = ConvertColor(useTransparent, colour, corner);

    TConvertedIcon icon;
    for (TImageWork& work : sink.Images()) {
        if (work.Sampler) {
            const TIconImage image = RenderIconEx(work.Sampler->StandIn(), work.Size.Width, work.Size.Height,
                                                  useTransparent, key, settings.Depth);
            // A PNG image keeps exactly the rendered pixels and their mask.
            icon.Entries.push_back(work.Png ? EntryFromRgba(RgbaOf(image), pf32bit, false, clBlack, true, true)
                                            : BmpEntry(image));
        } else {
            TRgbaImage image = work.Resampler->Result();
            FinishSmoothImage(image, work.To, settings);
            icon.Entries.push_back(EntryFromRgba(image, settings.Depth, useTransparent, key, settings.KeepAlpha,
                                                 work.Png));
        }
    }
    return icon;
}
