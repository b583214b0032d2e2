// The Windows desktop: message boxes and window mode for lorvex.exe and its console twin
// lorvex.com, and the start of both.
#pragma once

#include <string_view>

#include "mainmod.h"

namespace lorvex::win32 {

// A lorvex message box outside any window: the title, the text, OK only, no icon.
void ShowStandaloneMessage(std::string_view title, std::string_view text);

// lorvex.exe without arguments. The window is not built yet; a box says so.
int RunWindow(int argc, char** argv);

// lorvex.com without arguments: starts the windowed program beside it and returns, as
// typing the name of any windowed program at a prompt does.
int StartWindowedProgram(int argc, char** argv);

// Runs the program with the words of its own command line.
int RunProgram(const mainmod::WindowMode& runWindow, mainmod::CommandLineOutput& output);

}  // namespace lorvex::win32
