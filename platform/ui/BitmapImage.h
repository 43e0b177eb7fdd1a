#pragma once
// Conversion between the raster core's TBitmap and Qt's QImage, at the edge
// where bitmaps are drawn or pictures come from Qt resources.

#include <QImage>

#include "Graphics.h"

// The bitmap's pixels as a QImage of the same size: a 32-bit bitmap that has
// alpha gives Format_ARGB32_Premultiplied (its channels are premultiplied
// already), every other bitmap an opaque Format_RGB32 image. An empty bitmap
// gives a null image; a picture Qt cannot hold raises EOutOfMemory.
QImage BitmapToQImage(const TBitmap& bitmap);

// A pf24bit bitmap of `image`'s colours, or a pf32bit one with alpha
// (premultiplied) when the image has an alpha channel. A null image gives an
// empty bitmap.
TBitmap QImageToBitmap(const QImage& image);
