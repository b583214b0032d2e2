// The entry points of the window library, liblorvex-window.so, which holds everything
// that needs Qt. The program loads it only to show a window or a box, so a command-line
// run never loads the toolkit.
#pragma once

#define LORVEX_WINDOW_LIBRARY "liblorvex-window.so"

extern "C" {

// Shows Form1 with the data files of `programDirectory` until it is closed; the exit status.
using LorvexRunWindow = int (*)(const char* programDirectory);
#define LORVEX_RUN_WINDOW "lorvex_run_window"

// Shows one modal lorvex box outside any window, `details` on demand; UTF-8 texts.
using LorvexShowMessage = void (*)(const char* title, const char* text, const char* details);
#define LORVEX_SHOW_MESSAGE "lorvex_show_message"
}
