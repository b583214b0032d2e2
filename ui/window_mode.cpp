#include "window_mode.h"

#include <iostream>

namespace lorvex::ui {

int RunWindow(int, char**) {
    std::cerr << "lorvex: the window is not built yet; use the command line\n";
    return 2;
}

}  // namespace lorvex::ui
