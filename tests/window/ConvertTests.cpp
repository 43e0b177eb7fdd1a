// The Convert command through the real window: a picture is loaded from a
// file, the options are set on the controls, the button is clicked and the
// dialogs are answered through the scripted seam. The written file is
// compared with what the icon writer gives for the same bitmap and options.

#include "WindowSupport.h"

#include "Convert_func.h"
#include "ConvertOptions.h"
#include "TImage.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

namespace {

using TKind = TScriptedDialogs::TKind;
using TAnswer = TScriptedDialogs::TAnswer;

const QString kQuestion = QStringLiteral(
    "Output icon size is too big, maximun size of icon is 256 * 256, do you want to continue? ");

class TConvertWindow : public Tfmain {
public:
    using Tfmain::FLoaded;
    using Tfmain::FPreview;
    using Tfmain::LoadSourceImage;
    using Tfmain::SetTransparentColor;
};

QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray ToBytes(const std::vector<std::uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

// The icon's own size, from its bitmap header (the directory keeps only 8 bits).
QSize IconSize(const QByteArray& file) {
    if (file.size() < 62)
        return {};
    const auto le32 = [&](int at) {
        return std::int32_t(std::uint8_t(file[at]) | std::uint8_t(file[at + 1]) << 8 |
                            std::uint8_t(file[at + 2]) << 16 | std::uint32_t(std::uint8_t(file[at + 3])) << 24);
    };
    return QSize(le32(22 + 4), le32(22 + 8) / 2);
}

class ConvertTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_TRUE(folder.isValid());
        window = std::make_unique<TConvertWindow>();
        window->show();
    }
    void TearDown() override {
        window.reset();
        WindowTest::TearDown();
    }

    // A PNG of width x height whose pixels are all different and never
    // black, loaded into the window; the swatch takes its top-left colour.
    void Load(int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.setPixel(x, y, qRgb(20 + x % 230, 30 + y % 220, 40 + (x * y) % 200));
        // A block of the top-left colour, so that transparency shows.
        for (int y = 0; y < height / 3; ++y)
            for (int x = 0; x < width / 3; ++x)
                image.setPixel(x, y, qRgb(20, 30, 40));
        const QString path = folder.filePath(QStringLiteral("picture.png"));
        ASSERT_TRUE(image.save(path, "PNG"));
        window->LoadSourceImage(path);
        ASSERT_TRUE(window->FLoaded);
        Scripted().Clear();
    }

    void Choose(int sizeItem, int depthItem, bool transparent) {
        window->cmbsize->setCurrentIndex(sizeItem);
        window->cmbcolor->setCurrentIndex(depthItem);
        window->ckbtrans->setChecked(transparent);
    }

    void SetCustom(const QString& width, const QString& height) {
        window->cmbsize->setCurrentIndex(CustomSizeItem);
        window->edtwidth->setText(width);
        window->edtheight->setText(height);
    }

    void Convert() { QTest::mouseClick(window->btnconvert, Qt::LeftButton); }

    const TBitmap& Source() const { return std::as_const(*window->imgbak).Bitmap(); }

    QList<TKind> Kinds() const {
        QList<TKind> kinds;
        for (const auto& request : Scripted().Requests())
            kinds << request.Kind;
        return kinds;
    }

    QStringList Files() const { return QDir(folder.path()).entryList(QDir::Files | QDir::Hidden); }

    QString Done() const { return Application()->Title() + QStringLiteral("|Done|0"); }
    QString Error(const QString& text) const { return Application()->Title() + u'|' + text + QStringLiteral("|1"); }

    QTemporaryDir folder;
    std::unique_ptr<TConvertWindow> window;
};

TEST_F(ConvertTest, WritesWhatTheIconWriterGivesAndSaysDone) {
    Load(40, 30);
    Choose(2, 6, true);  // "32 * 32", "32bit"
    ASSERT_EQ(window->cmbsize->currentText(), QStringLiteral("32 * 32"));
    ASSERT_EQ(window->cmbcolor->currentText(), QStringLiteral("32bit"));
    const TColor swatch = window->imgcolor->Bitmap().Canvas().Brush.Color;
    ASSERT_EQ(swatch, RGBColor(20, 30, 40));
    Scripted().Script(TAnswer::File(folder.filePath(QStringLiteral("chosen.png"))));

    Convert();

    const auto& requests = Scripted().Requests();
    ASSERT_EQ(Kinds(), (QList<TKind>{TKind::SavePicture, TKind::Message}));
    EXPECT_EQ(requests[0].FileName, folder.filePath(QStringLiteral("picture.ico"))) << "proposed name";
    EXPECT_EQ(Messages(), QStringList{Done()});

    const QString written = folder.filePath(QStringLiteral("chosen.ico"));
    const QString reference = folder.filePath(QStringLiteral("reference.ico"));
    SaveBmpAsIconEx(Source(), QFile::encodeName(reference).toStdString(), 32, 32, true, swatch, pf32bit);
    const QByteArray bytes = FileBytes(written);
    ASSERT_EQ(bytes.size(), 22 + 40 + 4096 + 128);
    EXPECT_EQ(bytes, FileBytes(reference));
    // The corner block became transparent: the first mask row read from the
    // top (stored last) starts with set bits.
    EXPECT_EQ(std::uint8_t(bytes[bytes.size() - 4]), 0xFF);
}

TEST_F(ConvertTest, NothingLoadedSaysSoAndAsksNothing) {
    Convert();
    EXPECT_EQ(Kinds(), QList<TKind>{TKind::Message});
    EXPECT_EQ(Messages(), QStringList{Application()->Title() + QStringLiteral("|No source image loaded.|0")});
    EXPECT_TRUE(Files().isEmpty());
}

TEST_F(ConvertTest, AsksOnlyAbove256AndWritesTheAskedSizeOnYes) {
    struct {
        const char* name;
        int item;
        const char* width;
        const char* height;
        bool asks;
        QSize written;
    } const cases[] = {
        {"custom 257 x 16", CustomSizeItem, "257", "16", true, {257, 16}},
        {"custom 16 x 300", CustomSizeItem, "16", "300", true, {16, 300}},
        {"own size 300 x 200", OriginalSizeItem, "", "", true, {300, 200}},
        {"256 * 256", 6, "", "", false, {256, 256}},
        {"custom 256 x 256", CustomSizeItem, "256", "256", false, {256, 256}},
    };
    Load(300, 200);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scripted().Clear();
        window->cmbsize->setCurrentIndex(c.item);
        if (c.item == CustomSizeItem) {
            window->edtwidth->setText(QString::fromLatin1(c.width));
            window->edtheight->setText(QString::fromLatin1(c.height));
        }
        const QString target = folder.filePath(QStringLiteral("out.ico"));
        QFile::remove(target);
        if (c.asks)
            Scripted().Script(TAnswer::Press(0));
        Scripted().Script(TAnswer::File(target));

        Convert();

        const auto& requests = Scripted().Requests();
        ASSERT_FALSE(requests.empty());
        if (c.asks) {
            EXPECT_EQ(requests[0].Kind, TKind::Confirm);
            EXPECT_EQ(requests[0].Caption, QStringLiteral("Confirm"));
            EXPECT_EQ(requests[0].Text, kQuestion);
            EXPECT_EQ(requests[0].Buttons, (QStringList{QStringLiteral("&Yes"), QStringLiteral("Cancel")}));
            EXPECT_EQ(requests[0].DefaultButton, 0);
        } else {
            EXPECT_NE(requests[0].Kind, TKind::Confirm);
        }
        EXPECT_EQ(Messages(), QStringList{Done()});
        EXPECT_EQ(IconSize(FileBytes(target)), c.written);
    }
}

TEST_F(ConvertTest, CancelAtTheQuestionOrAtTheSaveDialogWritesNothing) {
    struct {
        const char* name;
        std::optional<TAnswer> question;  // nothing: no question asked
        TAnswer save;
        QList<TKind> asked;
    } const cases[] = {
        {"Cancel at the question", TAnswer::Press(1), TAnswer::File(QStringLiteral("x")), {TKind::Confirm}},
        {"question closed", TAnswer::Press(-1), TAnswer::File(QStringLiteral("x")), {TKind::Confirm}},
        {"save dialog cancelled after Yes", TAnswer::Press(0), TAnswer::Cancel(),
         {TKind::Confirm, TKind::SavePicture}},
        {"save dialog cancelled", std::nullopt, TAnswer::Cancel(), {TKind::SavePicture}},
    };
    Load(20, 20);
    const QStringList before = Files();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scripted().Clear();
        SetCustom(c.question ? QStringLiteral("300") : QStringLiteral("16"), QStringLiteral("16"));
        if (c.question)
            Scripted().Script(*c.question);
        TAnswer save = c.save;
        if (save.FileName)
            save.FileName = folder.filePath(*save.FileName);
        Scripted().Script(save);

        Convert();

        EXPECT_EQ(Kinds(), c.asked);
        EXPECT_EQ(Files(), before);
    }
}

TEST_F(ConvertTest, CustomTextsFollowTheIntegerRules) {
    struct {
        const char* width;
        std::optional<int> read;     // nothing: refused
        const char* message;         // for refused texts
    } const cases[] = {
        {"abc", std::nullopt, "''abc'' is not a valid integer value."},
        {"", std::nullopt, "'''' is not a valid integer value."},
        {"32 ", std::nullopt, "''32 '' is not a valid integer value."},
        {" 32", 32, nullptr},
        {"$20", 32, nullptr},
    };
    Load(20, 20);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        Scripted().Clear();
        SetCustom(QString::fromLatin1(c.width), QStringLiteral("16"));
        const QString target = folder.filePath(QStringLiteral("custom.ico"));
        QFile::remove(target);
        Scripted().Script(TAnswer::File(target));

        Convert();

        if (c.read) {
            EXPECT_EQ(Messages(), QStringList{Done()});
            EXPECT_EQ(IconSize(FileBytes(target)), QSize(*c.read, 16));
        } else {
            // Shown by the error display before any dialog; nothing written.
            EXPECT_EQ(Kinds(), QList<TKind>{TKind::Message});
            EXPECT_EQ(Messages(), QStringList{Error(QString::fromLatin1(c.message))});
            EXPECT_FALSE(QFile::exists(target));
        }
    }
}

TEST_F(ConvertTest, ZeroWidthFailsInTheWriterAndLeavesFilesAlone) {
    Load(20, 20);
    const QString existing = folder.filePath(QStringLiteral("existing.ico"));
    {
        QFile file(existing);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("old icon");
    }
    for (const QString& name : {QStringLiteral("fresh.ico"), QStringLiteral("existing.ico")}) {
        SCOPED_TRACE(name.toStdString());
        Scripted().Clear();
        SetCustom(QStringLiteral("0"), QStringLiteral("16"));
        Scripted().Script(TAnswer::File(folder.filePath(name)));

        Convert();

        EXPECT_EQ(Kinds(), (QList<TKind>{TKind::SavePicture, TKind::Message}));
        EXPECT_EQ(Messages(), QStringList{Error(QStringLiteral("Bitmap image is not valid."))});
        EXPECT_FALSE(QFile::exists(folder.filePath(QStringLiteral("fresh.ico"))));
        EXPECT_EQ(FileBytes(existing), QByteArray("old icon"));
    }
    EXPECT_EQ(Files(), (QStringList{QStringLiteral("existing.ico"), QStringLiteral("picture.png")}));
}

TEST_F(ConvertTest, ChosenNamesGetTheIconExtension) {
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("a.b")));
    struct {
        const char* chosen;
        const char* written;
    } const cases[] = {
        {"picture.png", "picture.ico"},
        {"picture", "picture.ico"},
        {"icon.ICO", "icon.ico"},
        {"a.b/c", "a.b/c.ico"},
    };
    Load(20, 20);
    Choose(1, 5, false);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen);
        Scripted().Clear();
        const QString written = folder.filePath(QString::fromUtf8(c.written));
        QFile::remove(written);
        Scripted().Script(TAnswer::File(folder.filePath(QString::fromUtf8(c.chosen))));

        Convert();

        EXPECT_EQ(Messages(), QStringList{Done()});
        EXPECT_EQ(IconSize(FileBytes(written)), QSize(16, 16));
    }
    // Only the .ico names were written; the source picture is untouched.
    EXPECT_EQ(Files(), (QStringList{QStringLiteral("icon.ico"), QStringLiteral("picture.ico"),
                                    QStringLiteral("picture.png")}));
    EXPECT_EQ(QDir(folder.filePath(QStringLiteral("a.b"))).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("c.ico")});
    EXPECT_TRUE(FileBytes(folder.filePath(QStringLiteral("picture.png"))).startsWith("\x89PNG"));
}

TEST_F(ConvertTest, UntickedTheSwatchDoesNotMatter) {
    Load(30, 20);
    Choose(3, 4, false);  // "48 * 48", "16bit"
    QList<QByteArray> files;
    for (TColor swatch : {RGBColor(20, 30, 40), clWhite, clBlack, clTeal}) {
        window->SetTransparentColor(swatch);
        const QString target = folder.filePath(QStringLiteral("plain%1.ico").arg(files.size()));
        Scripted().Script(TAnswer::File(target));
        Convert();
        files << FileBytes(target);
    }
    ASSERT_EQ(files[0].size(), 22 + 40 + 48 * 48 * 3 + 48 * 8);
    for (const QByteArray& file : files)
        EXPECT_EQ(file, files[0]);
    // And it is the writer's output without transparency.
    EXPECT_EQ(files[0], ToBytes(RenderIconEx(Source(), 48, 48, false, 0, pf16bit).FileBytes()));
}

TEST_F(ConvertTest, TheListsShowTheRulesEntriesWithTheirDefaults) {
    ASSERT_EQ(window->cmbsize->count(), int(SizeItems.size()));
    for (int i = 0; i < window->cmbsize->count(); ++i)
        EXPECT_EQ(window->cmbsize->itemText(i), QString::fromUtf8(SizeItems[std::size_t(i)].Text));
    ASSERT_EQ(window->cmbcolor->count(), int(DepthItems.size()));
    for (int i = 0; i < window->cmbcolor->count(); ++i)
        EXPECT_EQ(window->cmbcolor->itemText(i), QString::fromUtf8(DepthItems[std::size_t(i)].Text));
    EXPECT_EQ(window->cmbsize->currentIndex(), OriginalSizeItem);
    EXPECT_EQ(window->cmbcolor->currentIndex(), DefaultDepthItem);
}

TEST_F(ConvertTest, DefaultsGiveA24BitIconOfThePicturesOwnSize) {
    Load(50, 40);
    Scripted().Script(TAnswer::File(folder.filePath(QStringLiteral("own.ico"))));
    Convert();
    EXPECT_EQ(FileBytes(folder.filePath(QStringLiteral("own.ico"))),
              ToBytes(RenderIconEx(Source(), 50, 40, false, 0, pf24bit).FileBytes()));
}

}  // namespace
