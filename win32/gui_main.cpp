// Entry point of lorvex.exe, the windowed program. With arguments it runs the command line
// and shows every message in a box, and on the console it was started from, if any.
#include "desktop_windows.h"

int main() { return lorvex::win32::RunWindowedProgram(); }
