#include "Application.h"

#include "AccessibleRoles.h"

#include "Dialogs.h"
#include "Exception.h"

#include <QEvent>
#include <QFileInfo>
#include <QWidget>

namespace {

TApplication* theApplication = nullptr;

}  // namespace

TApplication* Application() { return theApplication; }

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    theApplication = this;
    title_ = QFileInfo(applicationFilePath()).completeBaseName();
    InstallAccessibleRoles();
}

TApplication::~TApplication() {
    if (theApplication == this)
        theApplication = nullptr;
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        TrackHint(receiver, event);
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleException();
        return true;
    }
}

void TApplication::HandleException() {
    try {
        throw;
    } catch (const EAbort&) {
        // The silent exception: the handler it ended has said all it had to.
    } catch (const Exception& e) {
        ShowException(e);
    } catch (...) {
        // Something outside our family (a library's exception, a thrown
        // value): there is no message we could trust, so the box is empty.
        ShowException(Exception(std::string()));
    }
}

QString FormatExceptionMessage(const Exception& e) {
    QString text = QString::fromStdString(e.Message());
    for (const Exception* inner = e.InnerException(); inner && inner != &e; inner = inner->InnerException()) {
        if (!inner->Message().empty())
            text = QString::fromStdString(inner->Message());
    }
    if (!text.isEmpty() && text.back().unicode() > u'.')
        text += u'.';
    return text;
}

void TApplication::ShowException(const Exception& e) {
    Dialogs().Message(activeWindow(), title_, FormatExceptionMessage(e), TMsgIcon::Error);
}

void TApplication::ShowMessage(const QString& text) {
    Dialogs().Message(activeWindow(), title_, text, TMsgIcon::None);
}

QString TApplication::ExeName() const {
    return exeName_.isEmpty() ? applicationFilePath() : exeName_;
}

void TApplication::SetHint(const QString& hint) {
    if (hint == hint_)
        return;
    hint_ = hint;
    emit OnHint();
}

QString HintOf(const QWidget* widget) {
    for (; widget; widget = widget->parentWidget()) {
        const QString hint = widget->property("hint").toString();
        if (!hint.isEmpty()) {
            const qsizetype bar = hint.indexOf(u'|');
            return bar < 0 ? hint : hint.mid(bar + 1);
        }
        if (widget->isWindow())
            break;
    }
    return QString();
}

void TApplication::TrackHint(QObject* receiver, QEvent* event) {
    // Mouse moves reach the deepest widget under the pointer first, whether
    // or not that widget tracks the mouse; that widget decides the hint.
    switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::Enter:
        if (receiver->isWidgetType())
            SetHint(HintOf(static_cast<QWidget*>(receiver)));
        break;
    case QEvent::Leave:
        // Leaving a window altogether leaves nothing under the mouse.
        if (receiver->isWidgetType() && static_cast<QWidget*>(receiver)->isWindow())
            SetHint(QString());
        break;
    default:
        break;
    }
}
