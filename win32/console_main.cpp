// Entry point of lorvex.com, the console twin of lorvex.exe for prompts and scripts: the
// same command line, its report on standard output, no message boxes.
#include "console_output.h"
#include "desktop_windows.h"

int main() {
    lorvex::win32::ConsoleOutput output(lorvex::win32::StandardStreams::OfProcess());
    return lorvex::win32::RunProgram(lorvex::win32::StartWindowedProgram, output);
}
