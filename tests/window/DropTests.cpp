// Files dropped on the main window: the first local name is handed to the
// loader once the drop is over, everything else in the drop is ignored.

#include "WindowSupport.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

#include <unistd.h>

namespace {

class DropTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_TRUE(folder.isValid());
        for (const char* name : {"first.png", "second.bmp", "third.gif"})
            Touch(folder.filePath(name));
        ASSERT_TRUE(QDir(folder.path()).mkdir("subfolder"));
    }

    static void Touch(const QString& path) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }

    QUrl File(const char* name) const { return QUrl::fromLocalFile(folder.filePath(name)); }

    // Drags `urls` over the window and drops them; tells whether the window
    // accepted the drag.
    static bool Drop(Tfmain& window, const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        const QPoint at(130, 130);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &enter);
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &drop);
        return enter.isAccepted();
    }

    QTemporaryDir folder;
};

TEST_F(DropTest, LoadsOnlyTheFirstUsableName) {
    const QString unreadable = folder.filePath("locked.png");
    Touch(unreadable);
    QFile::setPermissions(unreadable, QFileDevice::Permissions());

    struct TCase {
        const char* Name;
        QList<QUrl> Urls;
        QString Loaded;  // empty: nothing loaded
    };
    const QString longName = QString(300, u'n') + ".png";
    const QString longPath = folder.filePath(longName.left(200) + "/" + longName.mid(200));
    ASSERT_TRUE(QDir(folder.path()).mkdir(longName.left(200)));
    Touch(longPath);

    QList<TCase> cases = {
        {"ThreeFiles", {File("first.png"), File("second.bmp"), File("third.gif")}, folder.filePath("first.png")},
        {"MissingPassedOn", {File("missing.png"), File("second.bmp"), File("third.gif")},
         folder.filePath("missing.png")},
        {"WebAddressSkipped", {QUrl("http://example.org/a.png"), File("third.gif")}, folder.filePath("third.gif")},
        {"FolderPassedOn", {File("subfolder"), File("second.bmp")}, folder.filePath("subfolder")},
        {"LongPathPassedWhole", {QUrl::fromLocalFile(longPath)}, longPath},
        {"NoLocalName", {QUrl("ftp://example.org/b.png"), QUrl("http://example.org/c.png")}, QString()},
        {"EmptyDrop", {}, QString()},
    };
    cases.append({"UnreadablePassedOn", {QUrl::fromLocalFile(unreadable), File("first.png")}, unreadable});

    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TRecordingWindow window;
        Scripted().Clear();
        EXPECT_TRUE(Drop(window, c.Urls));
        EXPECT_TRUE(window.Loaded.isEmpty()) << "the load waits until the drop has finished";
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(window.Loaded, c.Loaded.isEmpty() ? QStringList{} : QStringList{c.Loaded});
        EXPECT_TRUE(Scripted().Requests().empty()) << "a drop itself shows nothing";
    }
}

TEST_F(DropTest, PlainTextIsNotAcceptedAsADrop) {
    TRecordingWindow window;
    QMimeData data;
    data.setText("first.png");
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    EXPECT_FALSE(enter.isAccepted());
}

// A file that cannot be read is reported by the exception display, once the
// drop is over.
TEST_F(DropTest, LoaderFailureReachesTheExceptionDisplay) {
    Tfmain window;
    Scripted().Clear();
    Drop(window, {File("first.png")});
    EXPECT_TRUE(Messages().isEmpty());
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(Messages().size(), 1);
    EXPECT_TRUE(Messages()[0].startsWith("Narvell Gloxen|"));
    EXPECT_TRUE(Messages()[0].endsWith(".|" + QString::number(int(TMsgIcon::Error))));
    EXPECT_EQ(window.sb->PanelText(1), "No image loaded");
}

}  // namespace
