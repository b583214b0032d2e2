// The console a command-line run talks to, and requests from outside to stop.
#pragma once

#include <string_view>

namespace lorvex::platform {

// True when standard input is a terminal, so a person is there to read the console.
bool StandardInputIsTerminal();

// True when standard error is a terminal, so a line redrawn in place is seen as one.
bool StandardErrorIsTerminal();

// Columns of the terminal that standard error is, 0 when it is none or cannot tell.
int TerminalColumns();

// Draws `line` over the one line of progress on standard error, a terminal; "" clears it.
// A Windows console gets no escape codes, which not every console understands.
void DrawStatusLine(std::string_view line);

// For as long as it lives, a request from outside to stop (Ctrl+C, SIGTERM, SIGHUP; on
// Windows also Ctrl+Break and a closed console window) is noted instead of ending the
// program, so that a pass can finish the archives in hand and report. Writing to a
// terminal or pipe that has gone away fails instead of ending the program.
class StopRequests {
public:
    StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;
    ~StopRequests();
    bool Requested() const;
};

}  // namespace lorvex::platform
