// The start routine: one copy per user, the application object, the main
// window, the message loop. Once the window system is reached, the process
// ends with code 0 whatever happens; without a usable display it says so in
// one line and ends with code 1.

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Application.h"
#include "Dialogs.h"
#include "InstanceGuard.h"
#include "LockFolder.h"
#include "Main.h"

namespace {

// Qt's messages while the application object connects to the display. Qt
// ends a failed connection with a fatal message and abort(), and its text
// ("Reinstalling the application may fix this problem") misleads; so these
// messages are held back, and a fatal one is replaced by one line that names
// the display, followed by a plain exit.
std::vector<QString>& HeldMessages() {
    static std::vector<QString> held;
    return held;
}

void HoldStartMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtFatalMsg) {
        HeldMessages().push_back(text);
        return;
    }
    const std::string platform = std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "";
    const char* display = std::getenv("DISPLAY");
    if (!platform.empty() && platform.rfind("xcb", 0) != 0)
        std::fprintf(stderr, "gloxen: cannot start the window system \"%s\"\n", platform.c_str());
    else if (display == nullptr || *display == '\0')
        std::fprintf(stderr, "gloxen: cannot open a display: DISPLAY is not set\n");
    else
        std::fprintf(stderr, "gloxen: cannot open display \"%s\"\n", display);
    std::fflush(stderr);
    std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    TInstanceGuard guard(PrivateLockFolder(), "Pravik");
    if (guard.GetState() == TInstanceGuard::State::AlreadyRunning)
        return 0;  // the running copy is neither told nor brought forward

    // The command line is ignored, Qt's own options included: the application
    // object sees the program's name alone.
    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 ? argv[0] : const_cast<char*>("gloxen"), nullptr};
    qInstallMessageHandler(HoldStartMessage);
    TApplication app(qtArgc, qtArgv);
    qInstallMessageHandler(nullptr);
    for (const QString& text : HeldMessages())
        qWarning().noquote() << text;
    HeldMessages().clear();

    // The application object owns the window: it outlives the loop and is
    // destroyed after the guard has been given up.
    std::unique_ptr<Tfmain> window;
    try {
        window = std::make_unique<Tfmain>();
        fmain = window.get();
        window->show();
        app.exec();
    } catch (...) {
        app.HandleException();
    }
    guard.Close();
    window.reset();
    fmain = nullptr;
    return 0;
}
