// Window mode: shows Form1 as a Qt window and runs until it is closed.
#pragma once

namespace lorvex::ui {

int RunWindow(int argc, char** argv);

}  // namespace lorvex::ui
