// The About window: its texts for a given memory figure and version, and its
// life of one modal showing, however it is closed.

#include "About.h"

#include "Application.h"
#include "Dialogs.h"
#include "Exception.h"
#include "SkinManager.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

// Readable failure output for texts (found by GoogleTest next to QString).
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace {

int AboutWindowsAlive() {
    int count = 0;
    for (QWidget* widget : QApplication::allWidgets())
        if (qobject_cast<Tfabout*>(widget))
            ++count;
    return count;
}

// Installs a fixed memory figure for one test and restores the system's.
class AboutTest : public ::testing::Test {
protected:
    void SetUp() override { UseMemory(2147483648u); }
    void TearDown() override {
        InstallMemoryQuery({});
        Application()->SetExeName(QString());
        static_cast<TScriptedDialogs&>(Dialogs()).Clear();
    }
    static void UseMemory(std::uint64_t bytes) {
        InstallMemoryQuery([bytes] { return bytes; });
    }
};

TEST_F(AboutTest, MemoryLineDividesTheWholeFigureTwiceBy1024) {
    struct {
        std::uint64_t bytes;
        const char* caption;
    } const cases[] = {
        {2147483648u, "Memory : 2048 MB "},
        {4294967295u, "Memory : 4095 MB "},
        {1073741823u, "Memory : 1023 MB "},
        // Beyond 32 bits the figure is the machine's, not a capped one.
        {25769803776u, "Memory : 24576 MB "},
        {1048575u, "Memory : 0 MB "},
    };
    for (const auto& c : cases) {
        UseMemory(c.bytes);
        Tfabout window;
        EXPECT_EQ(window.lbmemory->text(), QString::fromLatin1(c.caption)) << c.bytes;
        EXPECT_GE(window.lbmemory->width(), window.lbmemory->sizeHint().width()) << "text cut off";
    }
}

TEST_F(AboutTest, SystemFigureIsTheKernelsTotalIn64Bits) {
    std::ifstream meminfo("/proc/meminfo");
    std::string line;
    std::uint64_t kilobytes = 0;
    while (std::getline(meminfo, line))
        if (line.rfind("MemTotal:", 0) == 0)
            std::istringstream(line.substr(9)) >> kilobytes;
    ASSERT_GT(kilobytes, 0u);
    EXPECT_EQ(TotalPhysicalMemory(), kilobytes * 1024);
}

TEST_F(AboutTest, ShowsTitleVersionNoticeLinkAndLogo) {
    Tfabout window;
    EXPECT_EQ(window.objectName(), QStringLiteral("fabout"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("About Narvell Gloxen"));
    EXPECT_EQ(window.size(), QSize(365, 161));
    EXPECT_EQ(window.lbversion->text(), QStringLiteral("Gloxen (v4.2.2)"));
    EXPECT_EQ(window.sLabel2->text(), QStringLiteral("All rights reserved"));
    EXPECT_TRUE(window.sLabel1->text().contains(QStringLiteral("Narvell")));
    EXPECT_EQ(window.sWebLabel1->text(), QString::fromLatin1(kMakerAddress));
    EXPECT_EQ(window.sWebLabel1->URL(), QString::fromLatin1(kMakerAddress));
    EXPECT_EQ(window.sButton1->text(), QStringLiteral("Close"));
    EXPECT_EQ(window.sButton1->property("skinSection").toString(), QStringLiteral("BUTTON"));

    ASSERT_EQ(window.Image1->Bitmap().Width(), 96);
    ASSERT_EQ(window.Image1->Bitmap().Height(), 96);
    EXPECT_EQ(window.Image1->size(), QSize(96, 96));
    EXPECT_EQ(window.Image1->pos(), QPoint(10, 7));
    // Dark teal in the corner, the white bubble in the middle.
    EXPECT_EQ(window.Image1->Bitmap().Canvas().Pixel(0, 0), RGBColor(0, 92, 92));
    EXPECT_EQ(window.Image1->Bitmap().Canvas().Pixel(48, 20), RGBColor(255, 255, 255));
}

TEST_F(AboutTest, EveryTextShowsWholeInsideTheWindowInTheDesignSizes) {
    UseMemory(25769803776u);
    for (const bool skinned : {false, true}) {
        SCOPED_TRACE(skinned ? "skin" : "no skin");
        TsSkinManager skin;
        skin.SetSkinDirectory(QStringLiteral(GLOXEN_SKIN_SOURCE_DIR));
        skin.SetSkinName(QStringLiteral("DUI"));
        skin.SetActive(skinned);
        ASSERT_EQ(!skin.LoadedFrom().isEmpty(), skinned);

        Tfabout window;
        struct {
            QLabel* label;
            int pixels;
        } const cases[] = {
            {window.lbversion, 15}, {window.sLabel1, 11},    {window.sLabel2, 11},
            {window.sWebLabel1, 13}, {window.lbmemory, 11},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.label->objectName().toStdString());
            EXPECT_EQ(c.label->font().pixelSize(), c.pixels);
            EXPECT_GE(c.label->width(), c.label->sizeHint().width());
            EXPECT_LE(c.label->geometry().right(), window.width() - 8);
            EXPECT_LE(c.label->geometry().bottom(), window.height() - 8);
        }
        skin.SetActive(false);
    }
}

TEST_F(AboutTest, MissingVersionLeavesTheBracketsEmpty) {
    Application()->SetExeName(QStringLiteral("/nonexistent/gloxen"));
    Tfabout window;
    EXPECT_EQ(window.lbversion->text(), QStringLiteral("Gloxen (v)"));
}

// Runs ShowAbout() and, once its window is shown, hands it to `close`. Gives
// back what the window showed; fails the test if the window stays open.
struct TShowing {
    QString version, memory;
    QPoint centre;
    bool wasModal = false;
    bool destroyed = false;
};

TShowing ShowAndClose(const std::function<void(Tfabout&)>& close, QWidget* owner = nullptr) {
    TShowing seen;
    QPointer<Tfabout> window;
    bool watchdogFired = false;
    QTimer act, watchdog;
    act.setSingleShot(true);
    QObject::connect(&act, &QTimer::timeout, [&] {
        window = fabout;
        if (!window || !window->isVisible()) {
            act.start(5);
            return;
        }
        seen.version = window->lbversion->text();
        seen.memory = window->lbmemory->text();
        seen.centre = window->geometry().center();
        seen.wasModal = QApplication::activeModalWidget() == window;
        close(*window);
    });
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        watchdogFired = true;
        if (fabout)
            fabout->done(0);
    });
    act.start(0);
    watchdog.start(5000);
    ShowAbout(owner);
    EXPECT_FALSE(watchdogFired) << "the window did not close";
    EXPECT_EQ(fabout, nullptr);
    seen.destroyed = window.isNull();
    return seen;
}

TEST_F(AboutTest, EveryWayOfClosingEndsTheShowingAndDestroysTheWindow) {
    struct {
        const char* how;
        std::function<void(Tfabout&)> close;
    } const cases[] = {
        {"Close button", [](Tfabout& w) { QTest::mouseClick(w.sButton1, Qt::LeftButton); }},
        {"Close button by keyboard", [](Tfabout& w) { QTest::keyClick(w.sButton1, Qt::Key_Space); }},
        // The desktop asks the window to close in one way for its close box
        // and for the window menu's Close command (Alt+F4): Qt receives it
        // through the window handle, as here.
        {"close box or window menu", [](Tfabout& w) { w.windowHandle()->close(); }},
        {"Escape key", [](Tfabout& w) { QTest::keyClick(&w, Qt::Key_Escape); }},
    };
    for (const auto& c : cases) {
        const TShowing seen = ShowAndClose(c.close);
        EXPECT_TRUE(seen.wasModal) << c.how;
        EXPECT_TRUE(seen.destroyed) << c.how;
        EXPECT_EQ(AboutWindowsAlive(), 0) << c.how;
    }
}

TEST_F(AboutTest, TwoOpeningsInARowShowTheSameAndLeaveNothingBehind) {
    UseMemory(4294967295u);
    QWidget owner;
    owner.setGeometry(100, 80, 570, 315);
    owner.show();
    const auto clickClose = [](Tfabout& w) { QTest::mouseClick(w.sButton1, Qt::LeftButton); };
    const TShowing first = ShowAndClose(clickClose, &owner);
    EXPECT_EQ(AboutWindowsAlive(), 0);
    const TShowing second = ShowAndClose(clickClose, &owner);
    EXPECT_EQ(AboutWindowsAlive(), 0);

    for (const TShowing& seen : {first, second}) {
        EXPECT_TRUE(seen.destroyed);
        EXPECT_EQ(seen.version, QStringLiteral("Gloxen (v4.2.2)"));
        EXPECT_EQ(seen.memory, QStringLiteral("Memory : 4095 MB "));
        // Centred over its owner; the frame, whose thickness is only known
        // once the window is shown, may shift it by a few pixels.
        EXPECT_LE((seen.centre - owner.geometry().center()).manhattanLength(), 8);
    }
}

TEST_F(AboutTest, AFailureWhileMakingTheWindowReachesTheCallerAndLeavesNoWindow) {
    InstallMemoryQuery([]() -> std::uint64_t { throw EOutOfResources(); });
    EXPECT_THROW(ShowAbout(), EOutOfResources);
    EXPECT_EQ(fabout, nullptr);
    EXPECT_EQ(AboutWindowsAlive(), 0);
}

TEST_F(AboutTest, LinkOpensTheMakersAddress) {
    Tfabout window;
    window.show();
    QTest::mouseClick(window.sWebLabel1, Qt::LeftButton);
    const auto& requests = static_cast<TScriptedDialogs&>(Dialogs()).Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Kind, TScriptedDialogs::TKind::OpenUrl);
    EXPECT_EQ(requests[0].Url.host(), QString::fromLatin1(kMakerAddress));
}

}  // namespace
