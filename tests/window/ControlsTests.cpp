// The building blocks under the windows: dialog components over the seam,
// the image control's mouse handlers and the bitmap <-> QImage conversion.

#include "WindowSupport.h"

#include "BitmapImage.h"
#include "Exception.h"
#include "TImage.h"

#include <QTest>

#include <ostream>

namespace {

using TKind = TScriptedDialogs::TKind;

TEST_F(WindowTest, OpenDialogProposesItsLastNameAndKeepsItOnCancel) {
    TOpenPictureDialog od(nullptr);
    Scripted().Script(TScriptedDialogs::TAnswer::File("/pictures/a.png"));
    ASSERT_TRUE(od.Execute());
    EXPECT_EQ(od.FileName(), "/pictures/a.png");
    EXPECT_FALSE(od.Execute());  // the script is empty: cancelled
    EXPECT_EQ(od.FileName(), "/pictures/a.png");
    ASSERT_EQ(Scripted().Requests().size(), 2u);
    EXPECT_EQ(Scripted().Requests()[0].FileName, "");
    EXPECT_EQ(Scripted().Requests()[1].FileName, "/pictures/a.png");
    EXPECT_EQ(Scripted().Requests()[1].Kind, TKind::OpenPicture);
}

TEST_F(WindowTest, SaveDialogProposesTheNameSetBeforehand) {
    TSavePictureDialog sd(nullptr);
    sd.SetFileName("/out/photo.ico");
    Scripted().Script(TScriptedDialogs::TAnswer::File("/out/other.ico"));
    ASSERT_TRUE(sd.Execute());
    EXPECT_EQ(Scripted().Requests().at(0).Kind, TKind::SavePicture);
    EXPECT_EQ(Scripted().Requests().at(0).FileName, "/out/photo.ico");
    EXPECT_EQ(sd.FileName(), "/out/other.ico");
}

TEST_F(WindowTest, ColorDialogStartsBlackAndKeepsTheLastConfirmedColour) {
    TColorDialog cd(nullptr);
    Scripted().Script(TScriptedDialogs::TAnswer::Colour(RGBColor(10, 20, 30)));
    ASSERT_TRUE(cd.Execute());
    EXPECT_FALSE(cd.Execute());
    EXPECT_EQ(cd.Color(), RGBColor(10, 20, 30));
    ASSERT_EQ(Scripted().Requests().size(), 2u);
    EXPECT_EQ(Scripted().Requests()[0].Color, clBlack);
    EXPECT_EQ(Scripted().Requests()[1].Color, RGBColor(10, 20, 30));
}

TEST_F(WindowTest, ConfirmAnswersWithTheScriptedButton) {
    const QStringList buttons{"&Yes", "Cancel"};
    Scripted().Script(TScriptedDialogs::TAnswer::Press(0));
    Scripted().Script(TScriptedDialogs::TAnswer::Press(5));  // no such button: closed
    EXPECT_EQ(Dialogs().Confirm(nullptr, "Confirm", "Go on? ", TMsgIcon::Question, buttons, 0), 0);
    EXPECT_EQ(Dialogs().Confirm(nullptr, "Confirm", "Go on? ", TMsgIcon::Question, buttons, 0), -1);
    EXPECT_EQ(Dialogs().Confirm(nullptr, "Confirm", "Go on? ", TMsgIcon::Question, buttons, 0), -1);
    const auto& asked = Scripted().Requests().at(0);
    EXPECT_EQ(asked.Caption, "Confirm");
    EXPECT_EQ(asked.Text, "Go on? ");
    EXPECT_EQ(asked.Buttons, buttons);
    EXPECT_EQ(asked.DefaultButton, 0);
}

TEST_F(WindowTest, ImageControlReportsClicksAndReleases) {
    TImage image;
    image.resize(40, 30);
    QStringList seen;
    image.OnClick = [&] { seen << "click"; };
    image.OnDblClick = [&] { seen << "dblclick"; };
    image.OnMouseUp = [&](Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
        seen << QString("up %1 %2 %3,%4").arg(int(button)).arg(int(shift)).arg(x).arg(y);
    };
    image.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&image));
    QTest::mouseClick(&image, Qt::LeftButton, Qt::NoModifier, QPoint(5, 6));
    QTest::mouseClick(&image, Qt::RightButton, Qt::ShiftModifier, QPoint(7, 8));
    QTest::mouseDClick(&image, Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
    EXPECT_EQ(seen, (QStringList{"click", "up 1 0 5,6", QString("up 2 %1 7,8").arg(int(Qt::ShiftModifier)),
                                 "dblclick"}));
}

TEST_F(WindowTest, ImageControlAutoSizesToAPictureWithBothSides) {
    TImage image;
    image.resize(241, 241);
    image.SetAutoSize(true);
    TBitmap picture;
    picture.SetSize(0, 5);
    image.SetBitmap(picture);
    EXPECT_EQ(image.size(), QSize(241, 241));
    picture.SetSize(30, 20);
    image.SetBitmap(picture);
    EXPECT_EQ(image.size(), QSize(30, 20));
}

struct TConversionCase {
    const char* Name;
    TPixelFormat Format;
    bool Alpha;
};

void PrintTo(const TConversionCase& c, std::ostream* out) { *out << c.Name; }

class BitmapConversion : public ::testing::TestWithParam<TConversionCase> {};

// Odd widths cross the 4-byte row padding of the stored bitmap.
TEST_P(BitmapConversion, QImageShowsTheBitmapsPixels) {
    const TConversionCase& c = GetParam();
    const TColor colours[] = {clBlack, clWhite, RGBColor(255, 0, 0), RGBColor(0, 0, 255)};
    TBitmap bitmap;
    bitmap.SetPixelFormat(c.Format);
    bitmap.SetSize(7, 3);
    if (c.Format == pf8bit)
        bitmap.SetPalette({clBlack, clWhite, RGBColor(255, 0, 0), RGBColor(0, 0, 255)});
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x)
            bitmap.Canvas().SetPixel(x, y, c.Format == pf1bit ? colours[(x + y) % 2] : colours[(x + y) % 4]);
    if (c.Alpha) {
        bitmap.SetHasAlpha(true);
        bitmap.ScanLine(1)[3] = 0;  // pixel (0, 1), white-ish made transparent
        bitmap.ScanLine(1)[0] = bitmap.ScanLine(1)[1] = bitmap.ScanLine(1)[2] = 0;
    }

    const QImage image = BitmapToQImage(bitmap);
    ASSERT_EQ(image.size(), QSize(7, 3));
    EXPECT_EQ(image.hasAlphaChannel(), c.Alpha);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x) {
            const TColor expected = bitmap.Canvas().Pixel(x, y);
            const QRgb got = image.pixel(x, y);
            EXPECT_EQ(RGBColor(qRed(got), qGreen(got), qBlue(got)), expected) << x << ", " << y;
        }
    if (c.Alpha) {
        EXPECT_EQ(qAlpha(image.pixel(0, 1)), 0);
    }

    const TBitmap back = QImageToBitmap(image);
    ASSERT_EQ(back.Width(), 7);
    ASSERT_EQ(back.Height(), 3);
    EXPECT_EQ(back.HasAlpha(), c.Alpha);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(back.Canvas().Pixel(x, y), bitmap.Canvas().Pixel(x, y)) << x << ", " << y;
}

INSTANTIATE_TEST_SUITE_P(Formats, BitmapConversion,
                         ::testing::Values(TConversionCase{"OneBit", pf1bit, false},
                                           TConversionCase{"EightBit", pf8bit, false},
                                           TConversionCase{"TwentyFourBit", pf24bit, false},
                                           TConversionCase{"ThirtyTwoBit", pf32bit, false},
                                           TConversionCase{"ThirtyTwoBitAlpha", pf32bit, true},
                                           TConversionCase{"Device", pfDevice, false}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(BitmapConversionEdge, EmptyAndNullGiveEachOther) {
    EXPECT_TRUE(BitmapToQImage(TBitmap()).isNull());
    EXPECT_TRUE(QImageToBitmap(QImage()).Empty());
}

// A bitmap that Qt cannot hold as a picture (here a row of 2^26 pixels, whose
// bit count overflows Qt's row arithmetic) is an out-of-memory error, never a
// silently empty picture.
TEST(BitmapConversionEdge, APictureQtCannotHoldIsOutOfMemory) {
    TBitmap wide;
    wide.SetPixelFormat(pf24bit);
    wide.SetSize(1 << 26, 1);
    EXPECT_THROW(BitmapToQImage(wide), EOutOfMemory);
}

}  // namespace
