// The desktop for Linux: the display check needs no toolkit, and the Qt window library is
// loaded from the program's own directory only when a window or a box is to be shown.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "desktop.h"
#include "errors.h"
#include "platform.h"
#include "window_library.h"

namespace lorvex::desktop {
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

// The window library, loaded once; throws when it cannot be.
void* WindowLibrary() {
    static void* library = nullptr;
    if (!library) {
        const std::string path =
            platform::ProgramDirectory() + platform::kSeparator + LORVEX_WINDOW_LIBRARY;
        library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            const char* reason = ::dlerror();
            throw LorvexError("cannot load the window library " + Quoted(path) + ": " +
                              (reason ? reason : "unknown error"));
        }
    }
    return library;
}

template <class Function>
Function EntryPoint(const char* name) {
    void* symbol = ::dlsym(WindowLibrary(), name);
    if (!symbol) {
        throw LorvexError(std::string("the window library has no ") + name);
    }
    return reinterpret_cast<Function>(symbol);
}

}  // namespace

bool PersonCanSeeDisplay() {
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

int RunWindow(const std::string& programDirectory) {
    return EntryPoint<LorvexRunWindow>(LORVEX_RUN_WINDOW)(programDirectory.c_str());
}

void ShowStandaloneMessage(std::string_view title, std::string_view text,
                           std::string_view details) {
    EntryPoint<LorvexShowMessage>(LORVEX_SHOW_MESSAGE)(
        std::string(title).c_str(), std::string(text).c_str(), std::string(details).c_str());
}

}  // namespace lorvex::desktop
