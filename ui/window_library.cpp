// The window library's entry points: the window and standalone boxes, with Qt.
#include "window_library.h"

#include <QApplication>
#include <QIcon>

#include <memory>
#include <string>

#include "dialogs.h"
#include "encoding.h"
#include "form1_window.h"

namespace lorvex::ui {
namespace {

// Qt's own warnings are no business of a script reading lorvex's standard error.
void DropQtMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

// The application a standalone box needs, made once and kept until the process ends.
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

int RunWindow(const std::string& programDirectory) {
    int argc = 1;
    char name[] = "lorvex";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lorvex"));
    QApplication::setWindowIcon(Form1Window::ProgramIcon());
    Form1 form(programDirectory);
    ModalDialogs dialogs;
    Form1Window window(form, dialogs);
    form.Show();
    form.Form_Load();  // a missing list shows its box over the window, which stays usable
    return QApplication::exec();
}

}  // namespace
}  // namespace lorvex::ui

extern "C" __attribute__((visibility("default"))) int lorvex_run_window(
    const char* programDirectory) {
    return lorvex::ui::RunWindow(programDirectory);
}

extern "C" __attribute__((visibility("default"))) void lorvex_show_message(const char* title,
                                                                           const char* text,
                                                                           const char* details) {
    using lorvex::ui::FromUtf8;
    lorvex::ui::EnsureApplication();
    lorvex::ui::ModalDialogs().ShowMessage(nullptr, FromUtf8(title), FromUtf8(text),
                                           FromUtf8(details));
}
