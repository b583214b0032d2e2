// Entry point of lorvex.com, the console twin of lorvex.exe for prompts and scripts: the
// same command line, its report on standard output, no message boxes.
#include "desktop_windows.h"

int main() { return lorvex::win32::RunConsoleProgram(); }
