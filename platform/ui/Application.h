#pragma once
// The application object: event delivery that survives failing handlers, the
// exception display, the title that message boxes carry, and the hint text of
// the control under the mouse.
//
// Exactly one TApplication exists while the program (or a test program) runs;
// Application() returns it.

#include <QApplication>
#include <QString>

class Exception;
class QWidget;

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    // Every event passes through here. An exception that leaves a handler is
    // shown by HandleException() and delivery goes on with the next event;
    // the failed event counts as handled. This is the last resort: Qt's own
    // frames between the handler and here are not built to be unwound (their
    // locals leak), so our handlers are connected through Guarded() and catch
    // before Qt's code is crossed.
    bool notify(QObject* receiver, QEvent* event) override;

    // Shows the exception being handled; call it only inside a catch block.
    // EAbort shows nothing; any of our Exception family is shown through
    // ShowException(); any other thrown object shows an empty error box.
    void HandleException();

    // The error box for `e`: the text of FormatExceptionMessage(e), the error
    // icon, one OK button and Title() as caption.
    void ShowException(const Exception& e);

    // The plain message box of the program's own conditions: `text`, Title()
    // as caption, no icon, one OK button.
    void ShowMessage(const QString& text);

    // The caption of every message box. Until the main window sets it, the
    // program file's base name, as the platform's default title would be.
    QString Title() const { return title_; }
    void SetTitle(const QString& title) { title_ = title; }

    // The hint of the control under the mouse: its own "hint" property or the
    // nearest ancestor's, the part after a "|" when the hint holds one, and
    // empty over anything without a hint. OnHint is raised whenever it changes.
    QString Hint() const { return hint_; }
    void SetHint(const QString& hint);

    // The program file's full path. Tests may replace it (empty restores the
    // real one) to point the program's folder somewhere else.
    QString ExeName() const;
    void SetExeName(const QString& path) { exeName_ = path; }

signals:
    void OnHint();

private:
    void TrackHint(QObject* receiver, QEvent* event);

    QString title_;
    QString hint_;
    QString exeName_;
};

// The one application object; null before it is created and after it is gone.
TApplication* Application();

// Wraps an event handler so that an exception it raises is shown by the
// application's exception display right there, without travelling through
// Qt's code. For connecting signals: connect(b, &QPushButton::clicked, w,
// Guarded([w] { w->btnconvertClick(); })).
template <class Handler>
auto Guarded(Handler handler) {
    return [handler = std::move(handler)]() {
        try {
            handler();
        } catch (...) {
            Application()->HandleException();
        }
    };
}

// The text the exception display shows for `e`: its message, replaced by each
// non-empty message found while walking the inner exceptions, with "."
// appended when the text is not empty and its last character's code is above
// that of "." (so letters and digits get one, "." and "!" do not).
QString FormatExceptionMessage(const Exception& e);

// The hint a widget shows: its own or its nearest ancestor's "hint" property,
// the part after the first "|" when there is one; empty when none has a hint.
QString HintOf(const QWidget* widget);
