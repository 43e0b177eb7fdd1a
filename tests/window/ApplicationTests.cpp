// The application object: the exception display reached through event
// delivery, the plain message box, and the hint of the control under the mouse.

#include "WindowSupport.h"

#include "Exception.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <memory>
#include <stdexcept>

#include <ostream>

namespace {

// Throws from its event handler for the first event, counts the others.
class TThrowingReceiver : public QObject {
public:
    explicit TThrowingReceiver(std::function<void()> thrower) : thrower_(std::move(thrower)) {}
    int Delivered = 0;

protected:
    bool event(QEvent* event) override {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        if (Delivered++ == 0)
            thrower_();
        return true;
    }

private:
    std::function<void()> thrower_;
};

struct TDisplayCase {
    const char* Name;
    std::function<void()> Throw;
    bool Shown;
    QString Text;
};

void PrintTo(const TDisplayCase& c, std::ostream* out) { *out << c.Name; }

std::shared_ptr<const Exception> Inner(const char* message, std::shared_ptr<const Exception> inner = nullptr) {
    return inner ? std::make_shared<Exception>(message, inner) : std::make_shared<Exception>(message);
}

const TDisplayCase kDisplayCases[] = {
    {"LetterGetsFullStop", [] { throw Exception("Cannot open file"); }, true, "Cannot open file."},
    {"DigitGetsFullStop", [] { throw Exception("Error 42"); }, true, "Error 42."},
    {"SlashIsAboveFullStop", [] { throw Exception("a/b/"); }, true, "a/b/."},
    {"NonAsciiLetterGetsFullStop", [] { throw Exception("Fichier illisible \xc3\xa9"); }, true,
     QString::fromUtf8("Fichier illisible \xc3\xa9.")},
    {"FullStopKept", [] { throw Exception("Done."); }, true, "Done."},
    {"ExclamationKept", [] { throw Exception("Stop!"); }, true, "Stop!"},
    {"ClosingParenthesisIsBelowFullStop", [] { throw Exception("failed (see above)"); }, true,
     "failed (see above)"},
    {"EmptyStaysEmpty", [] { throw Exception(""); }, true, ""},
    {"InnerMessageWins", [] { throw Exception("Outer", Inner("Inner reason")); }, true, "Inner reason."},
    {"EmptyInnerKeepsOuter", [] { throw Exception("Outer", Inner("")); }, true, "Outer."},
    {"DeepestNonEmptyWins", [] { throw Exception("Outer", Inner("Middle", Inner(""))); }, true, "Middle."},
    {"WalkGoesPastEmptyMiddle", [] { throw Exception("Outer", Inner("", Inner("Deep"))); }, true, "Deep."},
    {"KindOfTheFamily", [] { throw EConvertError("''abc'' is not a valid integer value"); }, true,
     "''abc'' is not a valid integer value."},
    {"AbortShowsNothing", [] { throw EAbort(); }, false, ""},
    {"ForeignExceptionShowsEmptyBox", [] { throw std::runtime_error("library detail"); }, true, ""},
    {"ThrownValueShowsEmptyBox", [] { throw 42; }, true, ""},
};

class ExceptionDisplay : public WindowTest, public ::testing::WithParamInterface<TDisplayCase> {};

TEST_P(ExceptionDisplay, ShowsTheRightBoxAndDeliversTheNextEvent) {
    const TDisplayCase& c = GetParam();
    Application()->SetTitle("Display Title");
    TThrowingReceiver receiver(c.Throw);
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&receiver);

    EXPECT_EQ(receiver.Delivered, 2) << "the event after the failing one must still arrive";
    const QStringList expected =
        c.Shown ? QStringList{"Display Title|" + c.Text + "|" + QString::number(int(TMsgIcon::Error))}
                : QStringList{};
    EXPECT_EQ(Messages(), expected);
    if (c.Shown) {
        EXPECT_EQ(Scripted().Requests().back().Buttons, QStringList{"OK"});
    }
}

INSTANTIATE_TEST_SUITE_P(Messages, ExceptionDisplay, ::testing::ValuesIn(kDisplayCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(WindowTest, FailingClickHandlerLeavesTheButtonUsable) {
    QPushButton button("Go");
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, Guarded([&] {
        if (++clicks == 1)
            throw Exception("First click fails");
    }));
    button.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&button));
    QTest::mouseClick(&button, Qt::LeftButton);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicks, 2);
    ASSERT_EQ(Messages().size(), 1);
    EXPECT_TRUE(Messages()[0].contains("|First click fails.|"));
    EXPECT_FALSE(button.isDown());
}

TEST_F(WindowTest, ShowMessageIsAPlainBoxWithTheTitle) {
    Application()->SetTitle("Narvell Gloxen");
    Application()->ShowMessage("Done");
    EXPECT_EQ(Messages(), QStringList{"Narvell Gloxen|Done|" + QString::number(int(TMsgIcon::None))});
}

struct THintCase {
    const char* Name;
    QString Own;
    QString Parent;
    QString Expected;
};

void PrintTo(const THintCase& c, std::ostream* out) { *out << c.Name; }

class HintLookup : public ::testing::TestWithParam<THintCase> {};

TEST_P(HintLookup, TakesOwnOrNearestAncestorsLongPart) {
    const THintCase& c = GetParam();
    QWidget window;
    QWidget parent(&window);
    QWidget child(&parent);
    if (!c.Parent.isNull())
        parent.setProperty("hint", c.Parent);
    if (!c.Own.isNull())
        child.setProperty("hint", c.Own);
    EXPECT_EQ(HintOf(&child), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Hints, HintLookup,
                         ::testing::Values(THintCase{"Own", "Convert", QString(), "Convert"},
                                           THintCase{"FromParent", QString(), "Group hint", "Group hint"},
                                           THintCase{"OwnBeatsParent", "Mine", "Theirs", "Mine"},
                                           THintCase{"PartAfterBar", "Short|Long text", QString(), "Long text"},
                                           THintCase{"FirstBarSplits", "a|b|c", QString(), "b|c"},
                                           THintCase{"EmptyLongPart", "Short|", QString(), ""},
                                           THintCase{"None", QString(), QString(), ""}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(WindowTest, HintEventRaisedOnlyWhenTheHintChanges) {
    int raised = 0;
    const auto connection = QObject::connect(Application(), &TApplication::OnHint, [&] { ++raised; });
    Application()->SetHint("One");
    Application()->SetHint("One");
    Application()->SetHint(QString());
    QObject::disconnect(connection);
    EXPECT_EQ(raised, 2);
}

}  // namespace
