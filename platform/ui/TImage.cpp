#include "TImage.h"

#include "Application.h"
#include "BitmapImage.h"

#include <QMouseEvent>
#include <QPainter>

TImage::TImage(QWidget* parent) : QWidget(parent) {}

TImage::~TImage() = default;

TBitmap& TImage::Bitmap() {
    dirty_ = true;
    update();
    return bitmap_;
}

void TImage::SetBitmap(const TBitmap& bitmap) {
    bitmap_ = bitmap;
    dirty_ = true;
    AdjustToPicture();
    update();
}

void TImage::SetAutoSize(bool value) {
    autoSize_ = value;
    AdjustToPicture();
}

void TImage::SetStretch(bool value) {
    stretch_ = value;
    dirty_ = true;
    update();
}

void TImage::SetTransparent(bool value) {
    transparent_ = value;
    dirty_ = true;
    update();
}

void TImage::AdjustToPicture() {
    if (autoSize_ && bitmap_.Width() > 0 && bitmap_.Height() > 0)
        resize(bitmap_.Width(), bitmap_.Height());
}

QSize TImage::sizeHint() const {
    if (bitmap_.Empty())
        return QWidget::sizeHint();
    return QSize(bitmap_.Width(), bitmap_.Height());
}

void TImage::resizeEvent(QResizeEvent*) {
    if (stretch_)
        dirty_ = true;
}

bool TImage::ShrinksSmoothly() const {
    return stretch_ && !transparent_ && !bitmap_.Empty() && width() > 0 && height() > 0 &&
           width() <= bitmap_.Width() && height() <= bitmap_.Height() &&
           (width() < bitmap_.Width() || height() < bitmap_.Height());
}

void TImage::paintEvent(QPaintEvent*) {
    if (dirty_ && ShrinksSmoothly()) {
        // Reduced once to the control's size, from the picture's own rows:
        // no full-size twin of a large picture is made for showing it.
        cache_ = BitmapToQImage(SmoothShrink(bitmap_, width(), height()));
        dirty_ = false;
    } else if (dirty_) {
        cache_ = BitmapToQImage(bitmap_);
        if (transparent_ && !cache_.isNull() && !bitmap_.HasAlpha()) {
            const TColor key = bitmap_.TransparentColor();
            const QRgb keyRgb = qRgb(GetRValue(key), GetGValue(key), GetBValue(key));
            cache_ = cache_.convertToFormat(QImage::Format_ARGB32);
            for (int y = 0; y < cache_.height(); ++y) {
                auto* line = reinterpret_cast<QRgb*>(cache_.scanLine(y));
                for (int x = 0; x < cache_.width(); ++x)
                    if ((line[x] | 0xFF000000u) == keyRgb)
                        line[x] = 0;
            }
        }
        dirty_ = false;
    }
    if (cache_.isNull())
        return;
    QPainter painter(this);
    if (stretch_)
        painter.drawImage(rect(), cache_);
    else
        painter.drawImage(QPoint(0, 0), cache_);
}

void TImage::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        pressed_ = true;
    event->accept();
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton && pressed_) {
        pressed_ = false;
        if (rect().contains(at) && OnClick)
            Guarded(OnClick)();
    }
    if (OnMouseUp)
        Guarded([&] { OnMouseUp(event->button(), event->modifiers(), at.x(), at.y()); })();
    event->accept();
}

void TImage::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && OnDblClick)
        Guarded(OnDblClick)();
    event->accept();
}
