// The transparent colour: the pipette's pick mode with its cursor, the pick
// from the preview with its bounds and its unscaled coordinates, and the
// colour dialog that remembers its own colour.

#include "WindowSupport.h"

#include "Controls.h"
#include "TImage.h"

#include <QBitmap>
#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>
#include <utility>

namespace {

using TAnswer = TScriptedDialogs::TAnswer;
using TKind = TScriptedDialogs::TKind;

class TPickWindow : public Tfmain {
public:
    using Tfmain::FLoaded;
    using Tfmain::FPreview;
    using Tfmain::LoadSourceImage;
    using Tfmain::SetTransparentColor;
};

// A colour no fixture pixel has.
constexpr TColor kSentinel = 0x00123456;

// The colour of fixture pixel (x, y): different for every pixel of a
// 1024 x 768 picture, never black and never the sentinel.
QRgb FixtureColour(int x, int y) { return qRgb(x & 0xFF, y & 0xFF, 0x80 | (x >> 8) << 2 | (y >> 8)); }
TColor FixtureTColor(int x, int y) {
    const QRgb c = FixtureColour(x, y);
    return RGBColor(std::uint8_t(qRed(c)), std::uint8_t(qGreen(c)), std::uint8_t(qBlue(c)));
}

class PickTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_TRUE(folder.isValid());
        window = std::make_unique<TPickWindow>();
        window->show();
    }
    void TearDown() override {
        window.reset();
        while (QGuiApplication::overrideCursor())
            QGuiApplication::restoreOverrideCursor();
        WindowTest::TearDown();
    }

    void Load(int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.setPixel(x, y, FixtureColour(x, y));
        const QString path = folder.filePath(QStringLiteral("pick.png"));
        ASSERT_TRUE(image.save(path, "PNG"));
        window->LoadSourceImage(path);
        ASSERT_TRUE(window->FLoaded);
        Scripted().Clear();
    }

    void ClickPipette() { QTest::mouseClick(window->btnpick, Qt::LeftButton); }

    TColor Swatch() const { return window->imgcolor->Bitmap().Canvas().Brush.Color; }

    // Clicks the preview at (x, y) and gives the swatch's colour afterwards,
    // which starts as the sentinel; nothing when it was not changed.
    std::optional<TColor> PickAt(int x, int y, Qt::MouseButton button = Qt::LeftButton) {
        window->SetTransparentColor(kSentinel);
        QTest::mouseClick(window->FPreview, button, Qt::NoModifier, QPoint(x, y));
        const TColor swatch = Swatch();
        if (swatch == kSentinel)
            return std::nullopt;
        // The whole swatch shows the colour.
        EXPECT_EQ(window->imgcolor->Bitmap().Canvas().Pixel(76, 16), swatch);
        return swatch;
    }

    QTemporaryDir folder;
    std::unique_ptr<TPickWindow> window;
};

TEST_F(PickTest, PipetteSwitchesACursorOnAndOffWithAFreshOneEachTime) {
    const TBitmap& picture = std::as_const(*window->imgcursor).Bitmap();
    ASSERT_EQ(picture.Width(), 21);
    ASSERT_EQ(picture.Height(), 21);
    const TColor key = picture.Canvas().Pixel(1, 1);
    ASSERT_EQ(key, RGBColor(212, 208, 200));

    qint64 previous = 0;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ClickPipette();
        EXPECT_EQ(Tag(window->btnpick), 1);
        const QCursor* cursor = QGuiApplication::overrideCursor();
        ASSERT_NE(cursor, nullptr);
        EXPECT_EQ(cursor->shape(), Qt::BitmapCursor);
        EXPECT_EQ(cursor->hotSpot(), QPoint(3, 16));
        const QPixmap pixmap = cursor->pixmap();
        EXPECT_NE(pixmap.cacheKey(), previous) << "the cursor was not built afresh";
        previous = pixmap.cacheKey();

        // Opaque exactly where the picture is not its background, and there
        // in the picture's colours; the tip itself is opaque.
        const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(21, 21));
        int mismatches = 0;
        for (int y = 0; y < 21; ++y)
            for (int x = 0; x < 21; ++x) {
                const TColor colour = picture.Canvas().Pixel(x, y);
                const QRgb shown = image.pixel(x, y);
                const bool opaque = colour != key;
                if ((qAlpha(shown) == 255) != opaque ||
                    (opaque && RGBColor(std::uint8_t(qRed(shown)), std::uint8_t(qGreen(shown)),
                                        std::uint8_t(qBlue(shown))) != colour))
                    ++mismatches;
            }
        EXPECT_EQ(mismatches, 0);
        EXPECT_EQ(qAlpha(image.pixel(3, 16)), 255);
        EXPECT_EQ(qAlpha(image.pixel(1, 1)), 0);

        ClickPipette();
        EXPECT_EQ(Tag(window->btnpick), 0);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        // Every control shows its own cursor again.
        EXPECT_EQ(window->edtwidth->cursor().shape(), Qt::IBeamCursor);
        EXPECT_EQ(window->imgselectcolor->cursor().shape(), Qt::PointingHandCursor);
    }
}

TEST_F(PickTest, PickTakesThePixelUnderTheReleaseWithinStrictBounds) {
    Load(100, 50);
    ASSERT_EQ(window->FPreview->size(), QSize(100, 50));
    ClickPipette();
    struct {
        int x, y;
        std::optional<TColor> picked;
    } const cases[] = {
        {0, 10, std::nullopt},  {10, 0, std::nullopt},   {100, 10, std::nullopt},
        {10, 50, std::nullopt}, {-1, 10, std::nullopt},  {99, 49, FixtureTColor(99, 49)},
        {1, 1, FixtureTColor(1, 1)}, {50, 25, FixtureTColor(50, 25)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PickAt(c.x, c.y), c.picked) << c.x << ", " << c.y;
    // Pick mode stays on; any button picks.
    EXPECT_EQ(PickAt(7, 8, Qt::RightButton), FixtureTColor(7, 8));
    EXPECT_EQ(PickAt(7, 9, Qt::MiddleButton), FixtureTColor(7, 9));
}

TEST_F(PickTest, AReducedPreviewPicksTheFullPicturesPixelAtTheSameXY) {
    Load(1024, 768);
    ASSERT_EQ(window->FPreview->size(), QSize(256, 191));
    ClickPipette();
    EXPECT_EQ(PickAt(128, 95), FixtureTColor(128, 95));
    EXPECT_EQ(PickAt(255, 190), FixtureTColor(255, 190));
    EXPECT_EQ(PickAt(256, 10), std::nullopt);
    EXPECT_EQ(PickAt(10, 191), std::nullopt);
}

TEST_F(PickTest, ReleasesOutsidePickModeOrBeforeALoadChangeNothing) {
    // Pick mode on before any load: only the cursor changes.
    ClickPipette();
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    QTest::mouseClick(window->plimg, Qt::LeftButton, Qt::NoModifier, QPoint(30, 30));
    window->imgbakMouseUp(Qt::LeftButton, Qt::NoModifier, 5, 5);
    EXPECT_EQ(Swatch(), clTeal);
    ClickPipette();

    // Loaded, but pick mode off.
    Load(100, 50);
    EXPECT_EQ(PickAt(10, 10), std::nullopt);
}

TEST_F(PickTest, ClosingTheWindowInPickModeRestoresTheCursor) {
    ClickPipette();
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    window->close();
    window.reset();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(PickTest, ColourDialogOpensWithItsOwnLastConfirmedColour) {
    Load(100, 50);
    const TColor loaded = Swatch();
    // Black the first time, whatever the swatch shows; a cancel changes nothing.
    QTest::mouseClick(window->imgselectcolor, Qt::LeftButton);
    ASSERT_EQ(Scripted().Requests().size(), 1u);
    EXPECT_EQ(Scripted().Requests()[0].Kind, TKind::PickColor);
    EXPECT_EQ(Scripted().Requests()[0].Color, clBlack);
    EXPECT_EQ(Swatch(), loaded);

    Scripted().Script(TAnswer::Colour(0x00336699));
    QTest::mouseClick(window->imgselectcolor, Qt::LeftButton);
    EXPECT_EQ(Swatch(), 0x00336699u);
    EXPECT_EQ(window->imgcolor->Bitmap().Canvas().Pixel(40, 8), 0x00336699u);

    // A pick and a new load change the swatch, not the dialog's colour.
    ClickPipette();
    ASSERT_TRUE(PickAt(3, 3));
    Load(100, 50);
    Scripted().Clear();
    QTest::mouseClick(window->imgselectcolor, Qt::LeftButton);
    EXPECT_EQ(Scripted().Requests().at(0).Color, 0x00336699u);
}

TEST_F(PickTest, NeitherPickNorDialogTouchesTheCheckBox) {
    Load(100, 50);
    ClickPipette();
    for (bool ticked : {false, true}) {
        window->ckbtrans->setChecked(ticked);
        ASSERT_TRUE(PickAt(5, 5));
        Scripted().Script(TAnswer::Colour(clBlack));
        QTest::mouseClick(window->imgselectcolor, Qt::LeftButton);
        EXPECT_EQ(Swatch(), clBlack);
        EXPECT_EQ(window->ckbtrans->isChecked(), ticked);
    }
}

}  // namespace
