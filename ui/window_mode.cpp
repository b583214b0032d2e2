#include "window_mode.h"

#include <sys/stat.h>

#include <QApplication>
#include <QIcon>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "form1_window.h"
#include "message_box.h"
#include "platform.h"

namespace lorvex::ui {
namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool IsSocket(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// Qt ends the process when it cannot reach the display, so a local X11 display is checked
// for its socket first; remote displays are trusted.
bool CanReachX11(const std::string& display) {
    if (display.empty()) {
        return false;
    }
    if (display.front() != ':') {
        return true;
    }
    const std::string number = display.substr(1, display.find('.') - 1);
    return IsSocket("/tmp/.X11-unix/X" + number);
}

bool CanReachWayland(const std::string& display) {
    if (display.empty()) {
        return false;
    }
    if (display.front() == '/') {
        return IsSocket(display);
    }
    return IsSocket(Environment("XDG_RUNTIME_DIR") + "/" + display);
}

// Which Qt platform would be used, as named by QT_QPA_PLATFORM ("" when it is not set):
// the first of a ";"-separated list, without its ":options".
std::string RequestedQtPlatform() {
    std::string platform = Environment("QT_QPA_PLATFORM");
    platform = platform.substr(0, platform.find(';'));
    return platform.substr(0, platform.find(':'));
}

// Qt's platforms that draw where no person can see: a box shown there waits for ever.
bool IsInvisiblePlatform(const std::string& platform) {
    return platform == "offscreen" || platform == "minimal";
}

// Qt's own warnings are no business of a script reading lorvex's standard error.
void DropQtMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

void EnsureApplication() {
    if (QApplication::instance()) {
        return;
    }
    static int argc = 1;
    static char name[] = "lorvex";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QApplication> application;
    qInstallMessageHandler(DropQtMessages);
    application = std::make_unique<QApplication>(argc, argv);
    QApplication::setWindowIcon(Form1Window::ProgramIcon());
}

}  // namespace

bool HasGraphicalDisplay() {
    const std::string platform = RequestedQtPlatform();
    if (IsInvisiblePlatform(platform)) {
        return false;
    }
    if (platform == "xcb") {
        return CanReachX11(Environment("DISPLAY"));
    }
    if (platform.starts_with("wayland")) {
        return CanReachWayland(Environment("WAYLAND_DISPLAY"));
    }
    if (!platform.empty()) {
        return true;  // a frame buffer or a remote screen: Qt itself finds out
    }
    return CanReachWayland(Environment("WAYLAND_DISPLAY")) || CanReachX11(Environment("DISPLAY"));
}

int RunWindow(int argc, char** argv) {
    if (!HasGraphicalDisplay()) {
        std::cerr << "lorvex: no graphical display to show the window on (DISPLAY is not set);"
                     " to sort from the command line, run: "
                  << platform::kExecutableName << " -c category -e searchdir -d destdir -[s|f]\n";
        return 2;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lorvex"));
    QApplication::setWindowIcon(Form1Window::ProgramIcon());
    Form1 form(platform::ProgramDirectory());
    Form1Window window(form);
    const auto loadError = window.Load();
    window.show();
    if (loadError) {
        ShowMessageBox(&window, "lorvex", *loadError);
    }
    return QApplication::exec();
}

void ShowStandaloneMessage(std::string_view title, std::string_view text) {
    EnsureApplication();
    ShowMessageBox(nullptr, title, text);
}

}  // namespace lorvex::ui
