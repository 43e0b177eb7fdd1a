#include "BitmapImage.h"

#include "Exception.h"

#include <string>

QImage BitmapToQImage(const TBitmap& bitmap) {
    if (bitmap.Empty())
        return QImage();
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    const TPixelFormat format = bitmap.PixelFormat();
    const bool alpha = (format == pf32bit || format == pfDevice) && bitmap.HasAlpha();
    QImage image(width, height, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    // Qt gives a null picture when it cannot hold this size or the memory is
    // not there; that is our out-of-memory error, not an empty picture.
    if (image.isNull())
        throw EOutOfMemory("Not enough memory to show a picture of " + std::to_string(width) + " x " +
                           std::to_string(height) + " pixels");

    for (int y = 0; y < height; ++y) {
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        const std::uint8_t* row = bitmap.ScanLine(y);
        switch (format) {
        case pfDevice:
        case pf32bit:
            // B, G, R, A in memory is the layout of Qt's 32-bit formats here.
            for (int x = 0; x < width; ++x, row += 4)
                out[x] = alpha ? qRgba(row[2], row[1], row[0], row[3]) : qRgb(row[2], row[1], row[0]);
            break;
        case pf24bit:
            for (int x = 0; x < width; ++x, row += 3)
                out[x] = qRgb(row[2], row[1], row[0]);
            break;
        default: {
            const TCanvas& canvas = bitmap.Canvas();
            for (int x = 0; x < width; ++x) {
                const TColor c = canvas.Pixel(x, y);
                out[x] = qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
            }
            break;
        }
        }
    }
    return image;
}

TBitmap QImageToBitmap(const QImage& image) {
    TBitmap bitmap;
    if (image.isNull())
        return bitmap;
    const bool alpha = image.hasAlphaChannel();
    const QImage source = image.convertToFormat(alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (source.isNull())
        throw EOutOfMemory();
    bitmap.SetPixelFormat(alpha ? pf32bit : pf24bit);
    bitmap.SetSize(source.width(), source.height());
    bitmap.SetHasAlpha(alpha);
    for (int y = 0; y < source.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        std::uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < source.width(); ++x) {
            *row++ = std::uint8_t(qBlue(in[x]));
            *row++ = std::uint8_t(qGreen(in[x]));
            *row++ = std::uint8_t(qRed(in[x]));
            if (alpha)
                *row++ = std::uint8_t(qAlpha(in[x]));
        }
    }
    return bitmap;
}
