// The "DUI" skin beside the program: packed file first, then the folder;
// nothing found is silent, a damaged skin is reported once.

#include "WindowSupport.h"

#include "SkinManager.h"
#include "../common/AsNormalUser.h"

#include <QDir>
#include <QFile>
#include <QAbstractItemView>
#include <QComboBox>
#include <QFontInfo>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>

#include <optional>

namespace {

const QString kFolderSheet = R"(QPushButton[skinSection="BUTTON"] { color: rgb(1, 2, 3); })";
const QString kPackedSheet = R"(QPushButton[skinSection="BUTTON"] { color: rgb(4, 5, 6); })";

class SkinTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_TRUE(folder.isValid());
        Application()->SetExeName(folder.filePath("gloxen"));
    }

    void Write(const QString& relative, const QByteArray& bytes) {
        QDir(folder.path()).mkpath(QFileInfo(folder.filePath(relative)).path());
        QFile file(folder.filePath(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    void WriteFolderSkin(const QByteArray& bytes) { Write("DUI/Options.dat", bytes); }
    void WritePackedSkin(const QByteArray& bytes) { Write("DUI.asz", bytes); }

    // The button text colour the window shows under the current look.
    static QColor ButtonText(Tfmain& window) {
        window.btnconvert->ensurePolished();
        return window.btnconvert->palette().color(QPalette::ButtonText);
    }

    QTemporaryDir folder;
};

TEST_F(SkinTest, NoSkinKeepsTheStandardLookSilently) {
    Tfmain window;
    EXPECT_FALSE(window.sm.Active());
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
    EXPECT_TRUE(Scripted().Requests().empty());
}

TEST_F(SkinTest, FolderSkinStylesTheSkinSections) {
    WriteFolderSkin(kFolderSheet.toUtf8());
    Tfmain window;
    EXPECT_TRUE(window.sm.Active());
    EXPECT_EQ(QFileInfo(window.sm.LoadedFrom()).fileName(), "Options.dat");
    EXPECT_EQ(qApp->styleSheet(), kFolderSheet);
    EXPECT_EQ(ButtonText(window), QColor(1, 2, 3));
    EXPECT_TRUE(Scripted().Requests().empty());
}

TEST_F(SkinTest, PackedSkinIsPreferredToTheFolder) {
    WriteFolderSkin(kFolderSheet.toUtf8());
    WritePackedSkin(qCompress(kPackedSheet.toUtf8()));
    Tfmain window;
    EXPECT_EQ(QFileInfo(window.sm.LoadedFrom()).fileName(), "DUI.asz");
    EXPECT_EQ(qApp->styleSheet(), kPackedSheet);
    EXPECT_EQ(ButtonText(window), QColor(4, 5, 6));
    EXPECT_TRUE(Scripted().Requests().empty());
}

TEST_F(SkinTest, DamagedSkinIsReportedOnceThenTheStandardLook) {
    struct TCase {
        const char* Name;
        std::optional<QByteArray> Packed;
        std::optional<QByteArray> Unpacked;
    };
    const TCase cases[] = {
        // A good folder does not rescue a damaged packed skin: the first
        // skin found is the one used.
        {"PackedNotCompressed", QByteArray("not zlib data at all"), kFolderSheet.toUtf8()},
        {"PackedTruncated", qCompress(kPackedSheet.toUtf8()).left(12), std::nullopt},
        {"PackedEmpty", QByteArray(), std::nullopt},
        {"NotUtf8", std::nullopt, QByteArray("QWidget { color: red; } /* \xff\xfe */")},
        {"UnclosedBrace", std::nullopt, QByteArray("QPushButton { color: red; ")},
        {"StrayBrace", std::nullopt, QByteArray("QPushButton { color: red; } }")},
        {"UnclosedComment", std::nullopt, QByteArray("QPushButton { color: red; } /* never closed")},
        {"RejectedByQt", std::nullopt, QByteArray("QPushButton color: red; ]")},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        QFile::remove(folder.filePath("DUI.asz"));
        QFile::remove(folder.filePath("DUI/Options.dat"));
        if (c.Packed)
            WritePackedSkin(*c.Packed);
        if (c.Unpacked)
            WriteFolderSkin(*c.Unpacked);
        Scripted().Clear();
        Tfmain window;
        ASSERT_EQ(Messages().size(), 1);
        EXPECT_TRUE(Messages()[0].contains("DUI")) << Messages()[0].toStdString();
        EXPECT_TRUE(Messages()[0].endsWith("|" + QString::number(int(TMsgIcon::Error))));
        EXPECT_FALSE(window.sm.Active());
        EXPECT_TRUE(qApp->styleSheet().isEmpty());
    }
}

TEST_F(SkinTest, UnreadableSkinFileIsReported) {
    if (RanAsNormalUser())
        return;
    WriteFolderSkin(kFolderSheet.toUtf8());
    const QString path = folder.filePath("DUI/Options.dat");
    QFile::setPermissions(path, QFileDevice::Permissions());
    Tfmain window;
    EXPECT_EQ(Messages().size(), 1);
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
}

TEST_F(SkinTest, ShippedSkinLoadsCleanly) {
    QFile shipped(QStringLiteral(GLOXEN_SKIN_SOURCE_DIR "/DUI/Options.dat"));
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    const QByteArray sheet = shipped.readAll();
    EXPECT_EQ(StyleSheetProblem(QString::fromUtf8(sheet)), QString());
    WriteFolderSkin(sheet);
    Tfmain window;
    EXPECT_TRUE(window.sm.Active());
    EXPECT_TRUE(Scripted().Requests().empty()) << Messages().join("\n").toStdString();
    // The skin changes colours and frames, never the design face or size.
    window.show();
    for (QWidget* control : std::initializer_list<QWidget*>{window.sLabel1, window.lbimg, window.ckbtrans,
                                                            window.cmbsize, window.btnconvert, window.sb->Panel(1)}) {
        control->ensurePolished();
        EXPECT_EQ(QFontInfo(control->font()).family(), "Tahoma") << control->objectName().toStdString();
        EXPECT_EQ(control->font().pixelSize(), 11) << control->objectName().toStdString();
    }
}

TEST_F(SkinTest, SwitchingOffRestoresTheStandardLook) {
    WriteFolderSkin(kFolderSheet.toUtf8());
    Tfmain window;
    ASSERT_FALSE(qApp->styleSheet().isEmpty());
    window.sm.SetActive(false);
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
}

}  // namespace

namespace {

// With the shipped skin active, each drop-down list opens showing every item.
TEST_F(SkinTest, ShippedSkinListsShowEveryItem) {
    Write("DUI/Options.dat", [] {
        QFile shipped(QStringLiteral(GLOXEN_SKIN_SOURCE_DIR "/DUI/Options.dat"));
        EXPECT_TRUE(shipped.open(QIODevice::ReadOnly));
        return shipped.readAll();
    }());
    Tfmain window;
    ASSERT_TRUE(window.sm.Active());
    window.show();
    for (QComboBox* box : {window.cmbsize, window.cmbcolor}) {
        SCOPED_TRACE(box->objectName().toStdString());
        box->showPopup();
        QAbstractItemView* view = box->view();
        ASSERT_TRUE(view->isVisible());
        for (int row = 0; row < box->count(); ++row) {
            const QRect item = view->visualRect(box->model()->index(row, 0));
            EXPECT_TRUE(item.top() >= 0 && item.bottom() < view->viewport()->height()) << "row " << row << " at " << item.y() << "+"
                                                                   << item.height() << " of "
                                                                   << view->viewport()->height();
        }
        EXPECT_EQ(view->verticalScrollBar()->maximum(), 0);
        // Nothing covers the list: the popup's scroll arrows stay hidden.
        for (QWidget* part : view->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (part != view) {
                EXPECT_FALSE(part->isVisible()) << part->metaObject()->className();
            }
        }
        // The list drops down below the box rather than opening over it
        // around the current item (which hides the items above it on X11).
        QStyleOptionComboBox option;
        option.initFrom(box);
        EXPECT_EQ(box->style()->styleHint(QStyle::SH_ComboBox_Popup, &option, box), 0);
        box->hidePopup();
    }
}

}  // namespace
