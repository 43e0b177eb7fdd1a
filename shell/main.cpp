// The start routine: one copy per user, the application object, the main
// window, the message loop. Whatever happens, the process ends with code 0.

#include <QStandardPaths>
#include <QString>

#include <cstdlib>
#include <memory>
#include <string>

#include "Application.h"
#include "Dialogs.h"
#include "InstanceGuard.h"
#include "Main.h"

namespace {

// The user's private runtime folder, where the guard's lock file lives.
std::string GuardFolder() {
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir != nullptr && *dir != '\0')
        return dir;
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation).toStdString();
}

}  // namespace

int main(int argc, char** argv) {
    TInstanceGuard guard(GuardFolder(), "Pravik");
    if (guard.GetState() == TInstanceGuard::State::AlreadyRunning)
        return 0;  // the running copy is neither told nor brought forward

    // The command line is ignored, Qt's own options included: the application
    // object sees the program's name alone.
    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 ? argv[0] : const_cast<char*>("gloxen"), nullptr};
    TApplication app(qtArgc, qtArgv);

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
