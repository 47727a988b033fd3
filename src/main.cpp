// The order server's program: the remote method server and the operator's
// window, on the window thread. Takes no arguments and reads no command line.
//
// The terminals' port (16000) listens before the window exists and stops
// only after the window is gone. SIGTERM and SIGINT close the window, which
// ends the program the way the operator does (useful where the window runs
// offscreen and nobody can close it).
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

#include "server/DSTCPServerTransport.h"
#include "server/KDSServerContainerUnit.h"
#include "server/wire/DSSocket.h"
#include "ui/KDSSV.h"

namespace {

constexpr uint16_t TerminalPort = 16000;

// The write end of the pipe a termination signal is passed through to the
// window thread.
int SignalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char Byte = 1;
    [[maybe_unused]] const ssize_t Written = ::write(SignalPipe[1], &Byte, 1);
}

// SIGTERM and SIGINT close Window on the window thread. Without a pipe the
// signals keep their default action.
void CloseOnTerminationSignals(QWidget& Window) {
    if (::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* Notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, &Window);
    QObject::connect(Notifier, &QSocketNotifier::activated, &Window, [&Window] {
        char Bytes[16];
        while (::read(SignalPipe[0], Bytes, sizeof Bytes) > 0) {
        }
        Window.close();
    });
    struct sigaction Action {};
    Action.sa_handler = OnTerminationSignal;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &Action, nullptr);
    ::sigaction(SIGINT, &Action, nullptr);
}

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
    // A terminal that resets its connection must not take the process with
    // it, and a thousand terminals must not run out of descriptors.
    kds::IgnoreSigPipe();
    kds::RaiseOpenFileLimit();

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
    // the window first, then the server container.
    std::unique_ptr<kds::TServerContainer1> ServerContainer1;
    std::unique_ptr<kds::TForm1> Form1;
    try {
        // 3. The server container, before any window exists: the server
        // starts, so the terminals' port listens while the window is built.
        // A port that is taken ends start-up here.
        ServerContainer1 = std::make_unique<kds::TServerContainer1>([] {
            auto Transport = std::make_unique<kds::TDSTCPServerTransport>(u"DSTCPServerTransport1");
            Transport->SetPort(TerminalPort);
            Transport->SetPoolSize(0);
            Transport->SetBufferKBSize(32);
            return Transport;
        });

        // 4. The main window; its creation hook creates the empty order book.
        // Action2 broadcasts the reset on the container's server, which
        // outlives the window.
        Form1 = std::make_unique<kds::TForm1>(nullptr, &ServerContainer1->DSServer1());
    } catch (const std::exception& E) {
        ReportStartupError(E.what(), Offscreen);
        return EXIT_FAILURE;
    } catch (...) {
        ReportStartupError("unknown error", Offscreen);
        return EXIT_FAILURE;
    }

    // 5. The event loop, until the main window is closed.
    CloseOnTerminationSignals(*Form1);
    Form1->show();
    const int Code = App->exec();

    // 6. Shut-down: the window (with its datasets and grids) first, then the
    // server container, whose destruction stops the server (tunnels, then
    // the transport with every connection, then the registry), then the
    // application object.
    Form1.reset();
    ServerContainer1.reset();
    App.reset();
    return Code;
}
