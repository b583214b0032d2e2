// Entry point of lorvex.exe, the windowed program. With arguments it runs the command line
// and shows every message in a box, and on the console it was started from, if any.
#include "console_output.h"
#include "desktop_windows.h"

int main() {
    lorvex::win32::ConsoleAndBoxes output(lorvex::win32::StandardStreams::OfParent());
    return lorvex::win32::RunProgram(lorvex::win32::RunWindow, output);
}
