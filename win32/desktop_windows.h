// The start of the two Windows programs: lorvex.exe, the windowed program, and its console
// twin lorvex.com.
#pragma once

namespace lorvex::win32 {

// lorvex.com without arguments: starts the windowed program beside it and returns, as
// typing the name of any windowed program at a prompt does.
int StartWindowedProgram();

// Runs lorvex.exe with the words of its own command line: every message in a box, and on
// the console it was started from, if any.
int RunWindowedProgram();

// Runs lorvex.com with the words of its own command line, on its standard streams.
int RunConsoleProgram();

}  // namespace lorvex::win32
