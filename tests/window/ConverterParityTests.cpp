// The command-line converter against the window: for the same picture and
// the same choices, gloxen-convert must write exactly the bytes the window's
// Convert command writes. The window is driven as a user drives it (load,
// lists, check box, colour dialog, Convert, save dialog); the converter runs
// as a separate program with the equivalent options. Pictures are small
// fixtures written here in several formats plus a few real files from the
// public corpora, so that the decoders' different paths (palette, one bit,
// premultiplied opacity, interlacing, JPEG) all reach the comparison.

#include "WindowSupport.h"

#include "ConvertOptions.h"
#include "TImage.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using TAnswer = TScriptedDialogs::TAnswer;
using TKind = TScriptedDialogs::TKind;

class TParityWindow : public Tfmain {
public:
    using Tfmain::FLoaded;
    using Tfmain::LoadSourceImage;
};

// How the transparent colour is chosen, in the window and on the command line.
enum class TTransparency {
    AsLoaded,  // the window's state right after the load; no option given
    Off,       // box unticked; --transparent off
    Colour,    // box ticked, colour from the colour dialog; --transparent #RRGGBB
    TopLeft,   // box ticked, swatch left at the top-left pixel; --transparent top-left
};
constexpr std::array<TTransparency, 4> kTransparencies{TTransparency::AsLoaded, TTransparency::Off,
                                                      TTransparency::Colour, TTransparency::TopLeft};

const char* Name(TTransparency t) {
    switch (t) {
        case TTransparency::AsLoaded: return "as loaded";
        case TTransparency::Off: return "off";
        case TTransparency::Colour: return "colour";
        case TTransparency::TopLeft: return "top-left";
    }
    return "?";
}

// One output size: an entry of the size list, with the texts of the custom
// edits for the custom entry.
struct TSize {
    int Item;
    int Width = 0, Height = 0;  // custom entry only
};
const TSize kOriginal{OriginalSizeItem};
const TSize k16{1};
const TSize k48{3};
const TSize k256{6};
const TSize kCustom40x24{CustomSizeItem, 40, 24};

std::string Describe(const TSize& size) {
    if (size.Item == CustomSizeItem)
        return "custom " + std::to_string(size.Width) + "x" + std::to_string(size.Height);
    return SizeItems[std::size_t(size.Item)].Text;
}

// The converter's --size value for a size-list choice.
QString SizeOption(const TSize& size) {
    if (size.Item == OriginalSizeItem)
        return QStringLiteral("original");
    if (size.Item == CustomSizeItem)
        return QStringLiteral("%1x%2").arg(size.Width).arg(size.Height);
    return QString::number(SizeItems[std::size_t(size.Item)].Width);
}

// The converter's --depth value for a depth-list entry: "24bit" gives "24".
QString DepthOption(int item) {
    QString text = QString::fromUtf8(DepthItems[std::size_t(item)].Text);
    text.chop(3);
    return text;
}

// The converter's --transparent value for a colour: "#RRGGBB", red first
// (a TColor keeps red in its low byte).
QString ColourOption(TColor colour) {
    return QStringLiteral("#%1%2%3")
        .arg(uint(GetRValue(colour)), 2, 16, QLatin1Char('0'))
        .arg(uint(GetGValue(colour)), 2, 16, QLatin1Char('0'))
        .arg(uint(GetBValue(colour)), 2, 16, QLatin1Char('0'))
        .toUpper();
}

QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Where two files first differ, for the failure message.
std::string FirstDifference(const QByteArray& window, const QByteArray& converter) {
    const qsizetype common = std::min(window.size(), converter.size());
    qsizetype at = 0;
    while (at < common && window[at] == converter[at])
        ++at;
    std::string text = "window " + std::to_string(window.size()) + " bytes, converter " +
                       std::to_string(converter.size()) + " bytes; first difference at offset " + std::to_string(at);
    if (at < common)
        text += " (window " + std::to_string(std::uint8_t(window[at])) + ", converter " +
                std::to_string(std::uint8_t(converter[at])) + ")";
    return text;
}

// ---- Pictures --------------------------------------------------------------

constexpr int kFixtureWidth = 100;
constexpr int kFixtureHeight = 60;

// A pattern with many colours and a white stripe, no black except where a
// fixture puts it. White is the colour the tests choose in the colour
// dialog: it survives the reduction to every depth, so that the mask shows.
QRgb Pattern(int x, int y) {
    if ((x + 2 * y) % 9 == 4)
        return qRgb(255, 255, 255);
    return qRgb(16 + (x * 7 + y) % 230, 24 + (y * 5) % 220, 32 + ((x / 4) * (y / 3)) % 200);
}

// 24 bits, black top-left pixel: a fresh load ticks the box with black. A
// few more black pixels, so that black transparency shows inside the icon.
bool WriteBlackCornerBmp(const QString& path) {
    QImage image(kFixtureWidth, kFixtureHeight, QImage::Format_RGB888);
    for (int y = 0; y < kFixtureHeight; ++y)
        for (int x = 0; x < kFixtureWidth; ++x)
            image.setPixel(x, y, (x + y) % 11 == 0 ? qRgb(0, 0, 0) : Pattern(x, y));
    return image.save(path, "BMP");
}

// Straight opacity from 0 to 255 over the picture: the decoder gives a
// premultiplied 32-bit bitmap. The top-left pixel is fully transparent, so
// black once premultiplied, and a fresh load ticks the box.
bool WriteAlphaPng(const QString& path) {
    QImage image(kFixtureWidth, kFixtureHeight, QImage::Format_ARGB32);
    for (int y = 0; y < kFixtureHeight; ++y)
        for (int x = 0; x < kFixtureWidth; ++x) {
            const QRgb c = Pattern(x, y);
            image.setPixel(x, y, qRgba(qRed(c), qGreen(c), qBlue(c), (x * 255 / (kFixtureWidth - 1) + y) % 256));
        }
    return image.save(path, "PNG");
}

// An indexed picture: 8 bits per pixel with `colours` entries in the table,
// the last one white (Qt writes 16 or fewer as a 4-bit BMP); the top-left
// pixel is not black.
bool WriteIndexedBmp(const QString& path, int colours) {
    QImage image(kFixtureWidth, kFixtureHeight, QImage::Format_Indexed8);
    QList<QRgb> table;
    for (int i = 0; i + 1 < colours; ++i)
        table << qRgb((i * 37 + 60) % 256, (i * 91 + 10) % 256, 255 - (i * 53) % 200);
    table << qRgb(255, 255, 255);
    image.setColorTable(table);
    for (int y = 0; y < kFixtureHeight; ++y)
        for (int x = 0; x < kFixtureWidth; ++x)
            image.setPixel(x, y, (x + 2 * y) % 9 == 4 ? uint(colours - 1)
                                                      : uint((x / 3 + y * 7 + (x * y) / 16) % (colours - 1)));
    return image.save(path, "BMP");
}

// One bit per pixel with two colours that are neither black nor white.
bool WriteMonoBmp(const QString& path) {
    QImage image(kFixtureWidth, kFixtureHeight, QImage::Format_Mono);
    image.setColorTable({qRgb(200, 40, 30), qRgb(20, 90, 160)});
    for (int y = 0; y < kFixtureHeight; ++y)
        for (int x = 0; x < kFixtureWidth; ++x)
            image.setPixel(x, y, uint(((x / 5) ^ (y / 3) ^ (x * y / 40)) & 1));
    return image.save(path, "BMP");
}

// A test picture: written into the scratch folder, or a corpus file.
struct TPicture {
    const char* Name;
    bool (*Write)(const QString& path);  // nullptr: a corpus file
    const char* CorpusFile = nullptr;    // relative to the corpora folder
};

bool WritePalette8(const QString& path) { return WriteIndexedBmp(path, 200); }
bool WritePalette4(const QString& path) { return WriteIndexedBmp(path, 13); }

const TPicture kBlackCornerBmp{"black-corner.bmp", WriteBlackCornerBmp};
const TPicture kAlphaPng{"alpha.png", WriteAlphaPng};
const TPicture kPalette8Bmp{"palette8.bmp", WritePalette8};
const TPicture kPalette4Bmp{"palette4.bmp", WritePalette4};
const TPicture kMonoBmp{"mono.bmp", WriteMonoBmp};
// 227 x 149 baseline JPEG.
const TPicture kJpeg{"testorig.jpg", nullptr, "jpeg/testorig.jpg"};
// 32 x 32 interlaced palette PNG: rows arrive in seven passes.
const TPicture kInterlacedPng{"ibasn3p08.png", nullptr, "pngsuite/ibasn3p08.png"};
// 32 x 32 interlaced GIF: rows arrive in four passes.
const TPicture kInterlacedGif{"interlaced.gif", nullptr, "image-rs/gif/interlaced.gif"};

const TPicture kAllPictures[] = {kBlackCornerBmp, kAlphaPng,      kPalette8Bmp,   kPalette4Bmp,
                                 kMonoBmp,        kJpeg,          kInterlacedPng, kInterlacedGif};

// ---- The comparison ----------------------------------------------------------

struct TCase {
    TPicture Picture;
    int DepthItem;
    TTransparency Transparency;
    TSize Size;
    // Above 256 on a side: the window asks and is answered Yes; the
    // converter is given --allow-large.
    bool Large = false;
};

std::string Describe(const TCase& c) {
    return std::string(c.Picture.Name) + ", " + DepthItems[std::size_t(c.DepthItem)].Text + ", transparency " +
           Name(c.Transparency) + ", " + Describe(c.Size);
}

class ParityTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_TRUE(folder.isValid());
    }
    void TearDown() override {
        window.reset();
        WindowTest::TearDown();
    }

    // The picture's file, written on first use.
    QString PicturePath(const TPicture& picture) {
        if (picture.Write == nullptr)
            return QStringLiteral(GLOXEN_CORPUS_DIR "/") + QString::fromUtf8(picture.CorpusFile);
        const QString path = folder.filePath(QString::fromUtf8(picture.Name));
        if (!QFile::exists(path)) {
            EXPECT_TRUE(picture.Write(path)) << picture.Name;
        }
        return path;
    }

    // The picture's most frequent colour other than its top-left pixel's,
    // read from the window's own bitmap: the colour chosen in the colour
    // dialog, so that it is found in the picture (and, for the fixtures,
    // which hold white, also after the reduction to every depth).
    TColor ChosenColour() const {
        const TBitmap& source = std::as_const(*window->imgbak).Bitmap();
        const TColor corner = source.Canvas().Pixel(0, 0);
        std::map<TColor, int> counts;
        for (int y = 0; y < source.Height(); ++y)
            for (int x = 0; x < source.Width(); ++x)
                ++counts[source.Canvas().Pixel(x, y)];
        counts.erase(corner);
        if (counts.empty())
            return corner;
        return std::max_element(counts.begin(), counts.end(),
                                [](const auto& a, const auto& b) { return a.second < b.second; })
            ->first;
    }

    // Sets the window up for `c` from a fresh load of its picture, clicks
    // Convert and gives the bytes written; the colour chosen in the dialog
    // goes to `colour`.
    QByteArray WindowBytes(const TCase& c, const QString& picture, TColor& colour) {
        if (!window || loadedPicture != picture) {
            window = std::make_unique<TParityWindow>();
            window->show();
            loadedPicture = picture;
        }
        // A load ticks the box for a black corner but never clears it; with
        // the box cleared first the window is as right after its first load.
        window->ckbtrans->setChecked(false);
        Scripted().Clear();
        window->LoadSourceImage(picture);
        EXPECT_TRUE(window->FLoaded);
        colour = ChosenColour();
        switch (c.Transparency) {
            case TTransparency::AsLoaded: break;
            case TTransparency::Off: window->ckbtrans->setChecked(false); break;
            case TTransparency::Colour:
                Scripted().Script(TAnswer::Colour(colour));
                QTest::mouseClick(window->imgselectcolor, Qt::LeftButton);
                window->ckbtrans->setChecked(true);
                break;
            case TTransparency::TopLeft: window->ckbtrans->setChecked(true); break;
        }
        window->cmbsize->setCurrentIndex(c.Size.Item);
        if (c.Size.Item == CustomSizeItem) {
            window->edtwidth->setText(QString::number(c.Size.Width));
            window->edtheight->setText(QString::number(c.Size.Height));
        }
        window->cmbcolor->setCurrentIndex(c.DepthItem);

        const QString target = folder.filePath(QStringLiteral("window.ico"));
        QFile::remove(target);
        if (c.Large)
            Scripted().Script(TAnswer::Press(0));
        Scripted().Script(TAnswer::File(target));
        QTest::mouseClick(window->btnconvert, Qt::LeftButton);

        // The colour dialog, the question above 256, the save dialog and "Done".
        QList<TKind> asked;
        for (const auto& request : Scripted().Requests())
            asked << request.Kind;
        QList<TKind> expected;
        if (c.Transparency == TTransparency::Colour)
            expected << TKind::PickColor;
        if (c.Large)
            expected << TKind::Confirm;
        expected << TKind::SavePicture << TKind::Message;
        EXPECT_EQ(asked, expected);
        EXPECT_EQ(Messages(), QStringList{Application()->Title() + QStringLiteral("|Done|0")});
        return FileBytes(target);
    }

    // Runs gloxen-convert with the options equivalent to `c` and gives the
    // bytes it wrote.
    QByteArray ConverterBytes(const TCase& c, const QString& picture, TColor colour) {
        const QString target = folder.filePath(QStringLiteral("converter.ico"));
        QFile::remove(target);
        QStringList arguments{QStringLiteral("--size"), SizeOption(c.Size), QStringLiteral("--depth"),
                              DepthOption(c.DepthItem)};
        switch (c.Transparency) {
            case TTransparency::AsLoaded: break;
            case TTransparency::Off: arguments << QStringLiteral("--transparent") << QStringLiteral("off"); break;
            case TTransparency::Colour: arguments << QStringLiteral("--transparent") << ColourOption(colour); break;
            case TTransparency::TopLeft:
                arguments << QStringLiteral("--transparent") << QStringLiteral("top-left");
                break;
        }
        if (c.Large)
            arguments << QStringLiteral("--allow-large");
        arguments << QStringLiteral("-o") << target << picture;
        const std::string command = "gloxen-convert " + arguments.join(u' ').toStdString();

        QProcess converter;
        converter.start(QStringLiteral(GLOXEN_CONVERT_EXE), arguments);
        if (!converter.waitForFinished(30000)) {
            ADD_FAILURE() << command << ": " << converter.errorString().toStdString();
            converter.kill();
            converter.waitForFinished();
            return {};
        }
        EXPECT_EQ(converter.exitStatus(), QProcess::NormalExit) << command;
        EXPECT_EQ(converter.exitCode(), 0) << command << "\n" << converter.readAllStandardError().toStdString();
        return FileBytes(target);
    }

    void ExpectSameBytes(const TCase& c) {
        SCOPED_TRACE(Describe(c));
        const QString picture = PicturePath(c.Picture);
        ASSERT_TRUE(QFile::exists(picture)) << picture.toStdString();
        TColor colour = 0;
        const QByteArray fromWindow = WindowBytes(c, picture, colour);
        ASSERT_FALSE(fromWindow.isEmpty()) << "the window wrote nothing";
        const QByteArray fromConverter = ConverterBytes(c, picture, colour);
        EXPECT_TRUE(fromWindow == fromConverter)
            << Describe(c) << (c.Transparency == TTransparency::Colour ? " " + ColourOption(colour).toStdString() : "")
            << ": " << FirstDifference(fromWindow, fromConverter);
    }

    QTemporaryDir folder;
    std::unique_ptr<TParityWindow> window;
    QString loadedPicture;
};

TEST_F(ParityTest, EveryDepthAndTransparencyChoiceOnEveryPicture) {
    for (const TPicture& picture : kAllPictures)
        for (int depth = 0; depth < int(DepthItems.size()); ++depth)
            for (TTransparency transparency : kTransparencies)
                ExpectSameBytes({picture, depth, transparency, k48});
}

TEST_F(ParityTest, EverySizeShrinkingAndEnlarging) {
    // The 100 x 60 fixture and the 227 x 149 photograph: shrunk to 16, 48
    // and 40 x 24, enlarged to 256, and at their own size.
    for (const TPicture& picture : {kBlackCornerBmp, kJpeg})
        for (const TSize& size : {kOriginal, k16, k48, k256, kCustom40x24})
            for (int depth : {0, 2, 5, 6})  // 1, 8, 24 and 32 bits
                for (TTransparency transparency : {TTransparency::AsLoaded, TTransparency::Colour})
                    ExpectSameBytes({picture, depth, transparency, size});
}

TEST_F(ParityTest, AboveTheLimitAfterYesAndWithAllowLarge) {
    const TSize wide{CustomSizeItem, 300, 20};
    for (const TPicture& picture : {kBlackCornerBmp, kAlphaPng})
        for (int depth : {0, 5, 6})
            ExpectSameBytes({picture, depth, TTransparency::AsLoaded, wide, true});
}

}  // namespace
