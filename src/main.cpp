// The order server's program: the remote method server and the operator's
// window, on the window thread. Takes no arguments and reads no command line.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "ui/KDSSV.h"

namespace {

bool HasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// An error that ends start-up: always on standard error, and in a message box
// where there is a screen to show it on.
void ReportStartupError(const std::string& Text, bool Offscreen) {
    std::fprintf(stderr, "kdssv: start-up failed: %s\n", Text.c_str());
    if (!Offscreen && qApp)
        QMessageBox::critical(nullptr, QStringLiteral("kdssv"), QString::fromStdString(Text));
}

} // namespace

int main(int, char** argv) {
    // Without a screen the terminals' server must still run, so the window
    // goes to Qt's offscreen platform. An explicit QT_QPA_PLATFORM wins.
    bool Offscreen = qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("offscreen");
    if (!HasDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        Offscreen = true;
        std::fprintf(stderr, "kdssv: no display (DISPLAY and WAYLAND_DISPLAY are unset); "
                             "running the window offscreen\n");
    }

    // 1. The application object. Only the program name is passed on: the
    // program reads no command line, Qt's options included.
    int QtArgc = 1;
    char* QtArgv[] = {argv[0], nullptr};
    std::unique_ptr<QApplication> App;
    try {
        App = std::make_unique<QApplication>(QtArgc, QtArgv);
    } catch (const std::exception& E) {
        ReportStartupError(E.what(), true);
        return EXIT_FAILURE;
    }

    // 2. The main window gets its own taskbar button: Qt gives every
    // top-level window one, so there is nothing to ask for.

    // Objects made here are destroyed in reverse order after the event loop:
    // the window first, then whatever was created before it.
    std::unique_ptr<kds::TForm1> Form1;
    try {
        // 3. The server container goes here, before any window exists, so
        // that the terminals' port is listening while the window is built.
        // It arrives with the server; until then there is no server step.

        // 4. The main window; its creation hook creates the empty order book.
        Form1 = std::make_unique<kds::TForm1>();
    } catch (const std::exception& E) {
        ReportStartupError(E.what(), Offscreen);
        return EXIT_FAILURE;
    } catch (...) {
        ReportStartupError("unknown error", Offscreen);
        return EXIT_FAILURE;
    }

    // 5. The event loop, until the main window is closed.
    Form1->show();
    const int Code = App->exec();

    // 6. Shut-down: the window (with its datasets and grids) first, then the
    // server container once it exists, then the application object.
    Form1.reset();
    App.reset();
    return Code;
}
