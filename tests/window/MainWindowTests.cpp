// The main window as built: start state, layout, tab order, accessible names,
// the hint panel, the link label and leaving pick mode on destruction.

#include "WindowSupport.h"

#include "Controls.h"

#include <QComboBox>
#include <QFontInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>

#include <cstdlib>
#include <memory>

namespace {

class MainWindowTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        window = std::make_unique<TRecordingWindow>();
    }
    void TearDown() override {
        window.reset();
        WindowTest::TearDown();
    }
    void Show() {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    QStringList Items(const QComboBox* box) const {
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        return items;
    }
    std::unique_ptr<TRecordingWindow> window;
};

TEST_F(MainWindowTest, StartsEmptyWithItsDefaults) {
    EXPECT_EQ(window->sb->PanelText(0), "");
    EXPECT_EQ(window->sb->PanelText(1), "No image loaded");
    EXPECT_EQ(window->sb->PanelText(2), "");
    EXPECT_EQ(window->cmbsize->currentText(), "Orginal Size");
    EXPECT_EQ(Items(window->cmbsize), (QStringList{"Orginal Size", "16 * 16", "32 * 32", "48 * 48", "64 * 64",
                                                   "128 * 128", "256 * 256", "Custom Size"}));
    EXPECT_EQ(window->cmbcolor->currentIndex(), 5);
    EXPECT_EQ(window->cmbcolor->currentText(), "24bit");
    EXPECT_EQ(Items(window->cmbcolor), (QStringList{"1bit", "4bit", "8bit", "15bit", "16bit", "24bit", "32bit"}));
    EXPECT_FALSE(window->cmbsize->isEditable());
    EXPECT_FALSE(window->cmbcolor->isEditable());
    EXPECT_EQ(window->edtwidth->text(), "0");
    EXPECT_EQ(window->edtheight->text(), "0");
    EXPECT_FALSE(window->ckbtrans->isChecked());
    EXPECT_EQ(window->lbsource->text(), "");
    EXPECT_TRUE(window->lbimg->isVisibleTo(window.get()));
    EXPECT_EQ(Tag(window->btnpick), 0);

    EXPECT_FALSE(window->FLoaded);
    EXPECT_EQ(window->FSourceWidth, -1);
    EXPECT_EQ(window->FSourceHeight, -1);
    EXPECT_EQ(window->FPreview, nullptr);

    EXPECT_EQ(window->windowTitle(), "Narvell Gloxen ( v4.2.2 )");
    EXPECT_EQ(Application()->Title(), "Narvell Gloxen");
    EXPECT_TRUE(window->acceptDrops());
    EXPECT_TRUE(Scripted().Requests().empty()) << "a normal start asks nothing";
}

TEST_F(MainWindowTest, SwatchStartsTeal) {
    const TBitmap& swatch = window->imgcolor->Bitmap();
    ASSERT_EQ(swatch.Width(), 77);
    ASSERT_EQ(swatch.Height(), 17);
    EXPECT_EQ(swatch.Canvas().Brush.Color, clTeal);
    for (int y = 0; y < swatch.Height(); ++y)
        for (int x = 0; x < swatch.Width(); ++x)
            ASSERT_EQ(swatch.Canvas().Pixel(x, y), TColor(0x808000)) << "pixel " << x << ", " << y;
}

TEST_F(MainWindowTest, SetTransparentColorRepaintsTheWholeSwatch) {
    window->SetTransparentColor(RGBColor(255, 0, 0));
    const TBitmap& swatch = window->imgcolor->Bitmap();
    EXPECT_EQ(swatch.Canvas().Brush.Color, RGBColor(255, 0, 0));
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{76, 0}, std::pair{0, 16}, std::pair{76, 16}})
        EXPECT_EQ(swatch.Canvas().Pixel(x, y), RGBColor(255, 0, 0)) << x << ", " << y;
}

TEST_F(MainWindowTest, ClockPanelFillsAfterTheFirstTick) {
    EXPECT_EQ(window->sbtimer.interval(), 1000);
    EXPECT_TRUE(window->sbtimer.isActive());
    EXPECT_EQ(window->sb->PanelText(2), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->sb->PanelText(2).isEmpty(); }, 3000));
    EXPECT_TRUE(window->sb->PanelText(2).endsWith(" AM") || window->sb->PanelText(2).endsWith(" PM"));
}

TEST_F(MainWindowTest, FixedSizeWithMinimiseBoxOnly) {
    EXPECT_EQ(window->size(), QSize(570, 315));
    EXPECT_EQ(window->minimumSize(), QSize(570, 315));
    EXPECT_EQ(window->maximumSize(), QSize(570, 315));
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_EQ(window->windowIcon().availableSizes().value(0), QSize(48, 48));
    EXPECT_EQ(window->font().pixelSize(), 11);
}

TEST_F(MainWindowTest, OpensInTheMiddleOfTheScreen) {
    Show();
    const QPoint middle = window->screen()->availableGeometry().center();
    // Within the few pixels a window frame adds on one side.
    EXPECT_LE((window->geometry().center() - middle).manhattanLength(), 10);
}

// How a control may differ from its stored place when the design face is
// missing and a wider one stands in: labels grow to the right, the centred
// prompt around its centre. Everything else sits exactly as stored.
enum class TFit { Exact, GrowsRight, GrowsAround };

struct TPlacement {
    const char* Name;
    const char* Parent;
    QRect Geometry;
    TFit Fit = TFit::Exact;
};

// Name, parent, left, top, width and height as the layout places them.
const TPlacement kPlacements[] = {
    {"plimg", "Tfmain", {12, 12, 260, 260}},
    {"gboutput", "Tfmain", {301, 5, 256, 267}},
    {"cmbsize", "gboutput", {56, 32, 169, 22}},
    {"sLabel1", "gboutput", {24, 36, 19, 13}, TFit::GrowsRight},
    {"sLabel2", "gboutput", {24, 126, 25, 13}, TFit::GrowsRight},
    {"cmbcolor", "gboutput", {56, 121, 169, 22}},
    {"plcolor", "gboutput", {78, 185, 116, 25}},
    {"btnpick", "gboutput", {200, 186, 25, 23}},
    {"sLabel4", "gboutput", {56, 74, 28, 13}, TFit::GrowsRight},
    {"edtwidth", "gboutput", {88, 70, 45, 21}},
    {"sLabel5", "gboutput", {144, 74, 31, 13}, TFit::GrowsRight},
    {"edtheight", "gboutput", {184, 70, 40, 21}},
    {"ckbtrans", "gboutput", {59, 161, 135, 19}, TFit::GrowsRight},
    {"sb", "Tfmain", {0, 296, 570, 19}},
    {"btnconvert", "gboutput", {150, 226, 75, 25}},
    {"sBevel1", "Tfmain", {285, 4, 2, 276}},
    {"lbsource", "Tfmain", {16, 278, 40, 13}},
    {"imgcursor", "Tfmain", {186, 271, 21, 21}},
    {"imgcolor", "plcolor", {30, 4, 77, 17}},
    {"imgselectcolor", "plcolor", {6, 3, 18, 18}},
    {"lbimg", "plimg", {40, 106, 180, 39}, TFit::GrowsAround},
    {"wlb", "Tfmain", {433, 278, 124, 13}},
    {"imgbak", "plimg", {7, 12, 241, 241}},
    {"sButton1", "gboutput", {56, 226, 75, 25}},
};

TEST_F(MainWindowTest, ControlsSitWhereTheLayoutPutsThem) {
    for (const TPlacement& p : kPlacements) {
        SCOPED_TRACE(p.Name);
        const auto* control = window->findChild<QWidget*>(p.Name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->parentWidget()->objectName(), p.Parent);
        const QRect at = control->geometry();
        switch (p.Fit) {
        case TFit::Exact:
            EXPECT_EQ(at, p.Geometry);
            break;
        case TFit::GrowsRight:
            EXPECT_EQ(at.topLeft(), p.Geometry.topLeft());
            EXPECT_EQ(at.height(), p.Geometry.height());
            EXPECT_GE(at.width(), p.Geometry.width());
            break;
        case TFit::GrowsAround:
            EXPECT_LE(std::abs(at.center().x() - p.Geometry.center().x()), 1);
            EXPECT_LE(std::abs(at.center().y() - p.Geometry.center().y()), 1);
            EXPECT_GE(at.width(), p.Geometry.width());
            EXPECT_GE(at.height(), p.Geometry.height());
            break;
        }
        if (p.Fit != TFit::Exact) {
            EXPECT_GE(at.width(), control->sizeHint().width()) << "the whole text must show";
        }
    }
}

TEST_F(MainWindowTest, StatusPanelsHaveTheirWidths) {
    Show();
    EXPECT_EQ(window->sb->PanelCount(), 3);
    EXPECT_EQ(window->sb->Panel(0)->width(), 180);
    EXPECT_EQ(window->sb->Panel(1)->width(), 140);
    const QLabel* clock = window->sb->Panel(2);
    EXPECT_GE(clock->width(), 50);
    EXPECT_GE(clock->mapTo(window.get(), QPoint(clock->width(), 0)).x(), 566) << "the clock reaches the right end";
}

TEST_F(MainWindowTest, HiddenPicturesAreNotShown) {
    Show();
    EXPECT_FALSE(window->imgbak->isVisible());
    EXPECT_FALSE(window->imgcursor->isVisible());
    EXPECT_TRUE(window->imgcolor->isVisible());
    EXPECT_EQ(window->imgcursor->Bitmap().Width(), 21);
    EXPECT_EQ(window->imgcursor->Bitmap().Height(), 21);
    EXPECT_EQ(window->imgcursor->Bitmap().Canvas().Pixel(1, 1), RGBColor(212, 208, 200));
    EXPECT_EQ(window->imgselectcolor->Bitmap().Width(), 48);
}

TEST_F(MainWindowTest, TabWalksTheOptionsInOrder) {
    const QStringList expected{"cmbsize", "cmbcolor", "edtwidth", "edtheight", "ckbtrans", "btnconvert", "sButton1"};
    QStringList walked;
    QWidget* widget = window->cmbsize;
    do {
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled() && widget->isVisibleTo(window.get()))
            walked << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != window->cmbsize && walked.size() <= expected.size());
    EXPECT_EQ(walked, expected);
}

TEST_F(MainWindowTest, EveryControlHasAnAccessibleName) {
    int named = 0;
    for (const QWidget* control : window->findChildren<QWidget*>()) {
        if (control->objectName().isEmpty() || control->objectName().startsWith("qt_"))
            continue;
        ++named;
        // A label whose text changes is named by that text and says what it
        // is for in its description.
        const bool changingLabel = qobject_cast<const QLabel*>(control) && control->accessibleName().isEmpty() &&
                                   !control->accessibleDescription().isEmpty();
        EXPECT_TRUE(!control->accessibleName().isEmpty() || changingLabel) << control->objectName().toStdString();
    }
    EXPECT_GE(named, int(std::size(kPlacements)));
    EXPECT_EQ(window->btnconvert->accessibleName(), "Convert");
    EXPECT_EQ(window->cmbsize->accessibleName(), "Select icon size");
}

TEST_F(MainWindowTest, ToolTipsOnlyInsideThePictureArea) {
    for (const QWidget* control : window->findChildren<QWidget*>())
        EXPECT_TRUE(control->toolTip().isEmpty()) << control->objectName().toStdString();
    EXPECT_TRUE(window->plimg->property("showHint").toBool());
}

TEST_F(MainWindowTest, HintsGiveToolTipsOnlyInsideThePictureArea) {
    struct TCase {
        QWidget* Parent;
        QString Hint;
        QString ToolTip;
    };
    const TCase cases[] = {
        {window->plimg, "Double clicks to load source image", "Double clicks to load source image"},
        {window->plimg, "Load|Double clicks to load source image", "Load"},
        {window->gboutput, "Anything", ""},
        {window.get(), "Anything", ""},
    };
    for (const TCase& c : cases) {
        auto* control = new QWidget(c.Parent);
        SetHint(control, c.Hint);
        EXPECT_EQ(control->toolTip(), c.ToolTip) << c.Hint.toStdString();
        EXPECT_EQ(HintOf(control), c.Hint.section(u'|', -1)) << c.Hint.toStdString();
        delete control;
    }
}

TEST_F(MainWindowTest, HintPanelFollowsTheMouse) {
    Show();
    struct TStep {
        QWidget* Over;
        QPoint At;
        QString Panel;
    };
    const TStep steps[] = {
        {window->btnconvert, {}, "Convert image to icon"},
        {window.get(), {290, 150}, "Ready"},                      // the window's own surface
        {window->cmbsize, {}, "Select icon size"},
        {window->sLabel1, {}, "Ready"},                           // a label inside the group box
        {window->btnpick, {}, "Pick transparent color from source image"},
        {window->gboutput, {10, 140}, "Ready"},
        {window->edtheight, {}, "Customize icon height"},
        {window->ckbtrans, {}, "Toggle use transparent color"},
        {window->lbimg, {}, "Ready"},
    };
    for (const TStep& step : steps) {
        const QPoint at = step.At.isNull() ? step.Over->rect().center() : step.At;
        QTest::mouseMove(step.Over, at);
        (void)QTest::qWaitFor([&] { return window->sb->PanelText(0) == step.Panel; }, 500);
        EXPECT_EQ(window->sb->PanelText(0), step.Panel) << step.Over->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, LinkLabelOpensTheMakersAddressOnLeftPress) {
    Show();
    EXPECT_EQ(window->wlb->text(), "www.narvell.example");
    QTest::mouseClick(window->wlb, Qt::RightButton);
    EXPECT_TRUE(Scripted().Requests().empty());
    QTest::mouseClick(window->wlb, Qt::LeftButton);
    ASSERT_EQ(Scripted().Requests().size(), 1u);
    EXPECT_EQ(Scripted().Requests()[0].Kind, TScriptedDialogs::TKind::OpenUrl);
    EXPECT_EQ(Scripted().Requests()[0].Url, QUrl("http://www.narvell.example"));
    EXPECT_EQ(window->wlb->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(MainWindowTest, LinkLabelTurnsToWindowTextWhileHovered) {
    Show();
    const QColor normal = window->wlb->palette().color(QPalette::WindowText);
    EXPECT_EQ(normal, QColor(Qt::blue));
    QTest::mouseMove(window->wlb);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->wlb->Hovered(); }, 500));
    EXPECT_EQ(window->wlb->palette().color(QPalette::WindowText),
              QApplication::palette(window->wlb).color(QPalette::WindowText));
    QTest::mouseMove(window.get(), QPoint(10, 290));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->wlb->Hovered(); }, 500));
    EXPECT_EQ(window->wlb->palette().color(QPalette::WindowText), QColor(Qt::blue));
}

// Closing the window in pick mode hands the standard cursor back; outside
// pick mode an application cursor set by someone else is left alone.
TEST_F(MainWindowTest, DestructionLeavesPickModeOnlyWhenItIsOn) {
    for (const bool picking : {false, true}) {
        // A cursor someone else put up stays whatever happens to pick mode.
        QGuiApplication::setOverrideCursor(Qt::CrossCursor);
        auto window = std::make_unique<TRecordingWindow>();
        if (picking)
            window->btnpickClick();
        EXPECT_EQ(Tag(window->btnpick), picking ? 1 : 0);
        window.reset();
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr) << "picking " << picking;
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor) << "picking " << picking;
        QGuiApplication::restoreOverrideCursor();
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "picking " << picking;
    }
}

TEST_F(MainWindowTest, AllowMessageReportsNoFilter) {
    EXPECT_EQ(AllowMessage(73, true), 0);
    EXPECT_EQ(AllowMessage(563, false), 0);
}

}  // namespace

namespace {

// The layout is measured for Tahoma, which the program finds (fonts-wine's
// compatible face where no other is installed). With it every text fits the
// box the layout gives it, or one pixel more, and keeps clear of its edit.
TEST_F(MainWindowTest, TextsFitTheirBoxesInTheDesignFace) {
    EXPECT_EQ(QFontInfo(window->font()).family(), "Tahoma");
    struct TCase {
        QWidget* control;
        int width;  // as stored in the layout
    };
    const TCase cases[] = {{window->sLabel1, 19}, {window->sLabel2, 25}, {window->sLabel4, 28},
                           {window->sLabel5, 31}, {window->ckbtrans, 135}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.control->objectName().toStdString());
        // A label needs its text's advance; the check box its whole hint
        // (indicator, spacing and text).
        const auto* label = qobject_cast<QLabel*>(c.control);
        const int needed = label ? label->fontMetrics().horizontalAdvance(label->text()) : c.control->sizeHint().width();
        EXPECT_LE(needed, c.control->width());
        EXPECT_LE(c.control->width() - c.width, 1) << "grown by more than a pixel";
        if (label && label->buddy()) {
            EXPECT_GE(label->buddy()->x() - (label->x() + needed), 3) << "the text crowds its edit";
        }
    }
}

}  // namespace

namespace {

TEST_F(MainWindowTest, StatusPanelsSitSideBySideFromTheLeftEdge) {
    Show();
    const int barWidth = window->sb->width();
    const QRect expected[] = {{0, 0, 180, 0}, {180, 0, 140, 0}, {320, 0, barWidth - 320, 0}};
    for (int index = 0; index < 3; ++index) {
        const QRect panel = window->sb->Panel(index)->geometry();
        EXPECT_EQ(panel.x(), expected[index].x()) << index;
        EXPECT_EQ(panel.width(), expected[index].width()) << index;
        EXPECT_EQ(panel.height(), window->sb->height()) << index;
    }
}

}  // namespace
