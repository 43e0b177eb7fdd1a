// What assistive technology reads from the main window: texts that change
// (status panels, the source label) are exposed as they are shown; each
// control has a fitting role; the lists and edits are labelled by their own
// labels. (Change announcements need a platform accessibility bridge, which
// the offscreen platform lacks; they are checked under a real display.)

#include "WindowSupport.h"

#include "TImage.h"

#include <QAccessible>
#include <QImage>
#include <QTemporaryDir>

#include <memory>

namespace {

class AccessibilityTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        window = std::make_unique<TLoadingWindow>();
    }
    void TearDown() override {
        window.reset();
        WindowTest::TearDown();
    }

    static QAccessibleInterface* Accessible(QObject* object) { return QAccessible::queryAccessibleInterface(object); }
    static QString Name(QObject* object) { return Accessible(object)->text(QAccessible::Name); }

    std::unique_ptr<TLoadingWindow> window;
};

TEST_F(AccessibilityTest, StatusPanelsExposeAndAnnounceWhatTheyShow) {
    window->sb->SetPanelText(0, QStringLiteral("Ready"));
    for (int index : {0, 1, 2}) {
        QLabel* panel = window->sb->Panel(index);
        SCOPED_TRACE(index);
        EXPECT_EQ(Accessible(panel)->role(), QAccessible::StaticText);
        EXPECT_EQ(Accessible(panel)->text(QAccessible::Description),
                  (QStringList{"Hint", "Image status", "Clock"}[index]));
        const QString shown = QStringLiteral("text of panel %1").arg(index);
        window->sb->SetPanelText(index, shown);
        EXPECT_EQ(Name(panel), shown);
    }
    EXPECT_EQ(Accessible(window->sb)->role(), QAccessible::StatusBar);
}

TEST_F(AccessibilityTest, StartTextsReachAScreenReader) {
    EXPECT_EQ(Name(window->sb->Panel(1)), "No image loaded");
    Application()->SetHint(QStringLiteral("Convert image to icon"));
    Application()->SetHint(QString());
    EXPECT_EQ(Name(window->sb->Panel(0)), "Ready");
}

TEST_F(AccessibilityTest, SourceLabelExposesTheLoadedPath) {
    QTemporaryDir folder;
    const QString path = folder.filePath("Picture.bmp");
    QImage image(4, 3, QImage::Format_RGB888);
    image.fill(Qt::white);
    ASSERT_TRUE(image.save(path, "BMP"));
    window->LoadSourceImage(path);
    EXPECT_EQ(Name(window->lbsource), path);
    EXPECT_EQ(Accessible(window->lbsource)->text(QAccessible::Description), "Source file");
    EXPECT_EQ(Accessible(window->FPreview)->role(), QAccessible::Graphic);
}

TEST_F(AccessibilityTest, ControlsHaveFittingRoles) {
    struct TCase {
        QWidget* control;
        QAccessible::Role role;
    };
    const TCase cases[] = {
        {window->sBevel1, QAccessible::Separator},     {window->plimg, QAccessible::Grouping},
        {window->plcolor, QAccessible::Grouping},      {window->imgbak, QAccessible::Graphic},
        {window->imgcolor, QAccessible::Graphic},      {window->imgcursor, QAccessible::Graphic},
        {window->lbsource, QAccessible::StaticText},   {window->gboutput, QAccessible::Grouping},
        {window->cmbsize, QAccessible::ComboBox},      {window->btnconvert, QAccessible::Button},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(Accessible(c.control)->role(), c.role) << c.control->objectName().toStdString();
}

TEST_F(AccessibilityTest, ListsAndEditsAreLabelledByTheirLabels) {
    struct TCase {
        QWidget* control;
        QLabel* label;
    };
    const TCase cases[] = {{window->cmbsize, window->sLabel1},
                           {window->cmbcolor, window->sLabel2},
                           {window->edtwidth, window->sLabel4},
                           {window->edtheight, window->sLabel5}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.control->objectName().toStdString());
        bool labelled = false;
        for (const auto& [other, relation] : Accessible(c.control)->relations(QAccessible::Label))
            labelled |= other->object() == c.label;
        EXPECT_TRUE(labelled);
    }
    EXPECT_EQ(window->sLabel1->text(), "Size");
    EXPECT_EQ(window->sLabel2->text(), "Color");
}

}  // namespace
