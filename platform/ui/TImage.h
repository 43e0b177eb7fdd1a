#pragma once
// An image control: shows a TBitmap of the raster core, like the platform's
// image component. Handlers are plain function objects so that one control's
// handlers can be copied onto another.

#include <QWidget>

#include <functional>

#include "Graphics.h"

class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);
    ~TImage() override;

    // The picture. Writing through the non-const form repaints the control;
    // call AdjustToPicture() afterwards when AutoSize should follow a new size.
    const TBitmap& Bitmap() const { return bitmap_; }
    TBitmap& Bitmap();
    void SetBitmap(const TBitmap& bitmap);

    // AutoSize: the control takes the picture's size whenever both sides of
    // the picture are above 0. Stretch: the picture is drawn scaled into the
    // control (a larger picture from a smooth reduction); otherwise at its own size in the top-left corner. Transparent:
    // pixels of the picture's transparent colour are not drawn.
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool value);
    bool Stretch() const { return stretch_; }
    void SetStretch(bool value);
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool value);
    void AdjustToPicture();

    // Left-button click (press and release inside), double click, and every
    // button release with the modifiers and the position in control pixels.
    std::function<void()> OnClick;
    std::function<void()> OnDblClick;
    std::function<void(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)> OnMouseUp;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // Whether the picture is shown stretched into a control smaller than it:
    // then it is drawn from a smooth reduction made once per picture and size.
    bool ShrinksSmoothly() const;

    TBitmap bitmap_;
    QImage cache_;
    bool dirty_ = true;
    bool autoSize_ = false;
    bool stretch_ = false;
    bool transparent_ = false;
    bool pressed_ = false;
};
