// Window mode, and what the command line needs of the desktop.
#pragma once

#include <string_view>

namespace lorvex::ui {

// Shows Form1 as a window and runs until it is closed. Without a display it says so on
// standard error and returns 2.
int RunWindow(int argc, char** argv);

// True when a window could be shown: Qt's platform is set, or an X11 or Wayland display
// is there to connect to.
bool HasGraphicalDisplay();

// Shows one lorvex message box outside any window, starting Qt if needed.
void ShowStandaloneMessage(std::string_view title, std::string_view text);

}  // namespace lorvex::ui
