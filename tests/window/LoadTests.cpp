// Loading a picture into the window: the extension choice, the steps after a
// good load, the preview's size and place, and a failed load changing nothing.

#include "WindowSupport.h"

#include "Controls.h"
#include "TImage.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <utility>

namespace {

class LoadTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_TRUE(folder.isValid());
        window = std::make_unique<TLoadingWindow>();
    }
    void TearDown() override {
        window.reset();
        WindowTest::TearDown();
    }

    // A 24-bit BMP of width x height: `corner` at (0, 0), the rest a pattern
    // without black.
    QString Picture(const QString& name, int width, int height, QColor corner = QColor(10, 200, 30)) {
        QImage image(width, height, QImage::Format_RGB888);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.setPixelColor(x, y, QColor(40 + x % 200, 60 + y % 190, 90));
        image.setPixelColor(0, 0, corner);
        const QString path = folder.filePath(name);
        EXPECT_TRUE(image.save(path, "BMP")) << path.toStdString();
        return path;
    }

    QList<TImage*> Previews() const {
        QList<TImage*> found;
        for (QObject* child : window->plimg->children())
            if (auto* image = qobject_cast<TImage*>(child); image && image != window->imgbak)
                found << image;
        return found;
    }

    // Everything a load changes, to compare before and after.
    struct TState {
        QString status, width, height, source;
        bool checked = false, promptVisible = false, loaded = false;
        int sourceWidth = 0, sourceHeight = 0;
        TColor swatch = 0;
        TImage* preview = nullptr;
        QRect previewGeometry;
        bool operator==(const TState&) const = default;
    };
    TState State() const {
        TState s;
        s.status = window->sb->PanelText(1);
        s.width = window->edtwidth->text();
        s.height = window->edtheight->text();
        s.source = window->lbsource->text();
        s.checked = window->ckbtrans->isChecked();
        s.promptVisible = window->lbimg->isVisibleTo(window.get());
        s.loaded = window->FLoaded;
        s.sourceWidth = window->FSourceWidth;
        s.sourceHeight = window->FSourceHeight;
        s.swatch = std::as_const(*window->imgcolor).Bitmap().Canvas().Pixel(3, 3);
        s.preview = window->FPreview;
        s.previewGeometry = s.preview ? s.preview->geometry() : QRect();
        return s;
    }

    static void DoubleClick(QWidget* target) {
        QTest::mouseDClick(target, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    }

    QTemporaryDir folder;
    std::unique_ptr<TLoadingWindow> window;
};

TEST_F(LoadTest, PreviewSizeAndPlaceFollowTheRatioRule) {
    struct TCase {
        int w, h, pw, ph, left, top;
    };
    const TCase cases[] = {
        {1024, 768, 256, 191, 2, 34}, {768, 1024, 192, 256, 34, 2}, {1920, 1080, 256, 143, 2, 58},
        {300, 200, 256, 170, 2, 45},  {256, 300, 218, 256, 21, 2},  {257, 100, 256, 99, 2, 80},
        {300, 300, 256, 256, 2, 2},   {256, 256, 256, 256, 2, 2},   {100, 50, 100, 50, 80, 105},
        {1, 1, 1, 1, 129, 129},       {4000, 3, 256, 0, 2, 130},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
        EXPECT_EQ(TLoadingWindow::PreviewSize(c.w, c.h), QSize(c.pw, c.ph));
        TBitmap picture;
        picture.SetPixelFormat(pf24bit);
        picture.SetSize(c.w, c.h);
        window->ShowPreview(picture);
        ASSERT_EQ(Previews().size(), 1);
        EXPECT_EQ(Previews().front(), window->FPreview);
        EXPECT_EQ(window->FPreview->geometry(), QRect(c.left, c.top, c.pw, c.ph));
    }
}

TEST_F(LoadTest, GoodLoadUpdatesEveryPartInOrder) {
    const QString path = Picture("Holiday.Photo.BMP", 1024, 768);
    window->LoadSourceImage(path);

    EXPECT_TRUE(Messages().isEmpty()) << Messages().join('\n').toStdString();
    EXPECT_EQ(window->sb->PanelText(1), "Image loaded : 1024 * 768 ");
    EXPECT_EQ(window->edtwidth->text(), "1024");
    EXPECT_EQ(window->edtheight->text(), "768");
    EXPECT_EQ(window->lbsource->text(), path) << "the path keeps its own letter case";
    EXPECT_FALSE(window->lbimg->isVisibleTo(window.get()));
    EXPECT_TRUE(window->FLoaded);
    EXPECT_EQ(window->FSourceWidth, 1024);
    EXPECT_EQ(window->FSourceHeight, 768);
    EXPECT_EQ(window->imgbak->size(), QSize(1024, 768));
    EXPECT_EQ(State().swatch, RGBColor(10, 200, 30)) << "the swatch takes pixel (0, 0)";
    EXPECT_FALSE(window->ckbtrans->isChecked());

    ASSERT_NE(window->FPreview, nullptr);
    EXPECT_EQ(window->FPreview->geometry(), QRect(2, 34, 256, 191));
    EXPECT_EQ(window->FPreview->property("hint").toString(), "Double clicks to load source image");
    // One copy of the pixels: the preview shares the source bitmap's rows.
    EXPECT_EQ(std::as_const(*window->FPreview).Bitmap().ScanLine(0),
              std::as_const(*window->imgbak).Bitmap().ScanLine(0));
}

TEST_F(LoadTest, OnlyABlackCornerTicksTheBoxAndNoLoadClearsIt) {
    const QString white = Picture("white.bmp", 20, 10, Qt::white);
    const QString black = Picture("black.bmp", 20, 10, Qt::black);
    window->LoadSourceImage(white);
    EXPECT_FALSE(window->ckbtrans->isChecked());
    EXPECT_EQ(State().swatch, clWhite);
    window->LoadSourceImage(black);
    EXPECT_TRUE(window->ckbtrans->isChecked());
    EXPECT_EQ(State().swatch, clBlack);
    window->LoadSourceImage(white);
    EXPECT_TRUE(window->ckbtrans->isChecked()) << "a load never clears the box";
    EXPECT_EQ(State().swatch, clWhite);
}

TEST_F(LoadTest, UnsupportedExtensionsChangeNothing) {
    window->LoadSourceImage(Picture("first.bmp", 300, 200));
    const TState before = State();
    const QString bmpInside = Picture("x.bmp", 10, 10);
    ASSERT_TRUE(QDir(folder.path()).mkdir("x.png"));
    ASSERT_TRUE(QFile::copy(bmpInside, folder.filePath("x.png/photo")));
    for (const char* name : {"a.jpe", "a.tif", "a.tiff", "a.wmf", "a.emf", "a.bmp.txt", "noextension", "x.png/photo"}) {
        SCOPED_TRACE(name);
        const QString path = folder.filePath(name);
        if (!QFile::exists(path)) {
            ASSERT_TRUE(QFile::copy(bmpInside, path));
        }
        Scripted().Clear();
        window->LoadSourceImage(path);
        EXPECT_EQ(Messages(), QStringList{"Narvell Gloxen|Sorry, unsupported image format.|0"});
        EXPECT_TRUE(State() == before);
    }
    // The folder's backslash rule: a dot before the last backslash is no extension.
    Scripted().Clear();
    window->LoadSourceImage(QStringLiteral("C:\\x.png\\photo"));
    EXPECT_EQ(Messages(), QStringList{"Narvell Gloxen|Sorry, unsupported image format.|0"});
}

TEST_F(LoadTest, ExtensionsAreComparedFullyLowerCased) {
    const QString upper = Picture("PHOTO.BMP", 8, 8);
    window->LoadSourceImage(upper);
    EXPECT_TRUE(Messages().isEmpty());
    EXPECT_EQ(window->lbsource->text(), upper);
}

TEST_F(LoadTest, FailedDecodeAfterAGoodLoadKeepsEverything) {
    window->LoadSourceImage(Picture("good.bmp", 640, 480, Qt::black));
    const TBitmap source = std::as_const(*window->imgbak).Bitmap();

    QFile broken(folder.filePath("broken.bmp"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("BM this is not a bitmap");
    broken.close();
    window->ckbtrans->setChecked(false);
    const TState unticked = State();

    Scripted().Script(TScriptedDialogs::TAnswer::File(broken.fileName()));
    DoubleClick(window->FPreview);
    const QStringList shown = Messages();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown.front().startsWith("Narvell Gloxen|BMP: ")) << shown.front().toStdString();
    EXPECT_TRUE(shown.front().endsWith("|" + QString::number(int(TMsgIcon::Error))));
    EXPECT_TRUE(State() == unticked);
    EXPECT_EQ(std::as_const(*window->imgbak).Bitmap().ScanLine(0), source.ScanLine(0));
    EXPECT_EQ(Previews().size(), 1);
}

TEST_F(LoadTest, DoubleClicksOpenTheDialogAndTheNewPreviewReplacesTheOld) {
    const QString first = Picture("first.bmp", 100, 50);
    const QString second = Picture("second.bmp", 50, 100);

    Scripted().Script(TScriptedDialogs::TAnswer::File(first));
    DoubleClick(window->lbimg);
    EXPECT_EQ(window->lbsource->text(), first);

    // Cancelled: nothing happens.
    DoubleClick(window->plimg);
    EXPECT_EQ(window->lbsource->text(), first);

    // The preview itself opens the dialog, which proposes the last name.
    Scripted().Script(TScriptedDialogs::TAnswer::File(second));
    TImage* old = window->FPreview;
    DoubleClick(old);
    EXPECT_EQ(window->lbsource->text(), second);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(Previews().size(), 1);
    EXPECT_EQ(window->FPreview->geometry(), QRect(105, 80, 50, 100));

    QStringList asked;
    for (const auto& request : Scripted().Requests())
        if (request.Kind == TScriptedDialogs::TKind::OpenPicture)
            asked << request.FileName;
    EXPECT_EQ(asked, (QStringList{"", first, first}));
}

TEST_F(LoadTest, ALargePictureIsShownFromASmoothReduction) {
    // Stripes of one-pixel black and white lines: a smooth reduction shows
    // grey, sampling would show one of the two.
    QImage stripes(1024, 1024, QImage::Format_RGB888);
    for (int y = 0; y < 1024; ++y)
        for (int x = 0; x < 1024; ++x)
            stripes.setPixelColor(x, y, (x + y) % 2 ? Qt::white : Qt::black);
    const QString path = folder.filePath("stripes.bmp");
    ASSERT_TRUE(stripes.save(path, "BMP"));
    window->LoadSourceImage(path);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const QImage shown = window->FPreview->grab().toImage();
    ASSERT_EQ(shown.size(), QSize(256, 256));
    const QColor middle = shown.pixelColor(128, 128);
    EXPECT_NEAR(middle.red(), 128, 2);
    EXPECT_NEAR(middle.green(), 128, 2);
}

}  // namespace

namespace {

TEST(PictureFilter, ListsTheReadableFormatsFromTheTable) {
    EXPECT_EQ(PictureFilter(), "All (*.bmp *.jpg *.jpeg *.png *.gif *.ico);;Bitmaps (*.bmp);;"
                               "JPEG Image File (*.jpg *.jpeg);;Portable Network Graphics (*.png);;"
                               "GIF Image (*.gif);;Icons (*.ico)");
}

}  // namespace

namespace {

// Without a mouse: Ctrl+O opens the same dialog as a double click.
TEST_F(LoadTest, CtrlOOpensAPicture) {
    const QString path = Picture("keyboard.bmp", 30, 20);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->activateWindow();
    Scripted().Script(TScriptedDialogs::TAnswer::File(path));
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(window->lbsource->text(), path);
    EXPECT_EQ(window->sb->PanelText(1), "Image loaded : 30 * 20 ");
}

}  // namespace
