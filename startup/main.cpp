// Entry point of the lorvex executable.
#include "mainmod.h"
#include "window_mode.h"

int main(int argc, char** argv) {
    lorvex::mainmod::ConsoleOutput console;
    return lorvex::mainmod::Main(argc, argv, lorvex::ui::RunWindow, console);
}
