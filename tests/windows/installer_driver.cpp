// Works an installer's or uninstaller's window for the packages test as a user would, by
// messages rather than a mouse: starts the program given on the command line (its
// arguments joined by blanks, not quoted: "_?=" takes the rest of the line), prints
// "ready" once it waits for input on its first page, then follows standard input:
//   next     presses the page's Next (Install, Uninstall) button, waits for the box the
//            program then opens and prints "box: " and the box's text
//   cancel   answers that box with Cancel
// At the end of the input it waits for the program and exits with its exit status.
// Every wait is on an event: the program's first idle moment, the making of a box.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

DWORD program = 0;
HWND box = nullptr;

bool TopLevelOfProgram(HWND window) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    return owner == program && ::IsWindowVisible(window) && !::GetWindow(window, GW_OWNER);
}

HWND MainWindow() {
    HWND found = nullptr;
    ::EnumWindows(
        [](HWND window, LPARAM result) {
            if (!TopLevelOfProgram(window)) {
                return TRUE;
            }
            *reinterpret_cast<HWND*>(result) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// A box is a dialog owned by the program's window.
void CALLBACK WindowMade(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD, DWORD) {
    char name[32] = {};
    if (object == OBJID_WINDOW && ::GetWindow(window, GW_OWNER) &&
        ::GetClassNameA(window, name, sizeof name) && std::strcmp(name, "#32770") == 0) {
        box = window;
        ::PostThreadMessageW(::GetCurrentThreadId(), WM_NULL, 0, 0);  // GetMessage returns
    }
}

std::string TextOf(HWND window) {
    std::string text;
    ::EnumChildWindows(
        window,
        [](HWND child, LPARAM result) {
            char name[32] = {};
            char part[2048] = {};
            ::GetClassNameA(child, name, sizeof name);
            if (std::strcmp(name, "Static") == 0 && ::GetWindowTextA(child, part, sizeof part)) {
                *reinterpret_cast<std::string*>(result) += part;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&text));
    return text;
}

// Returns once the box is laid out: its thread answers a message only once it waits for
// input.
void WaitForBox() {
    MSG message;
    while (!box && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::DispatchMessageW(&message);
    }
    ::SendMessageW(box, WM_NULL, 0, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: installer_driver PROGRAM [ARGUMENT...]\n", stderr);
        return 2;
    }
    std::string line = "\"" + std::string(argv[1]) + "\"";
    for (int i = 2; i < argc; ++i) {
        line += " " + std::string(argv[i]);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        std::fprintf(stderr, "installer_driver: cannot start the program (%lu)\n",
                     ::GetLastError());
        return 2;
    }
    program = process.dwProcessId;
    ::SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr, &WindowMade, program, 0,
                      WINEVENT_OUTOFCONTEXT);
    ::WaitForInputIdle(process.hProcess, INFINITE);
    std::printf("ready\n");
    std::fflush(stdout);
    char command[32];
    while (std::fgets(command, sizeof command, stdin)) {
        if (std::strncmp(command, "next", 4) == 0) {
            box = nullptr;
            ::PostMessageW(::GetDlgItem(MainWindow(), IDOK), BM_CLICK, 0, 0);
            WaitForBox();
            std::printf("box: %s\n", TextOf(box).c_str());
            std::fflush(stdout);
        } else if (box) {
            ::PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
        }
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 2;
    ::GetExitCodeProcess(process.hProcess, &status);
    return static_cast<int>(status);
}
