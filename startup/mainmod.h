// Start-up: chooses between the window and the command line, and runs the command line.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "command_line_output.h"
#include "form1.h"

namespace lorvex::mainmod {

// Every message on `console`, and in a box as well: for a run started without a terminal
// on a desktop. A move's box names the first few failures and keeps the rest on demand,
// so that it fits the screen; an error's box begins with a capital letter.
class AlsoInBoxes : public CommandLineOutput {
public:
    explicit AlsoInBoxes(CommandLineOutput& console) : console_(console) {}
    void Usage(std::string_view usage) override;
    void Report(std::string_view report) override;
    void MoveReport(const MoveReportText& report) override;
    void Error(std::string_view error) override;

private:
    CommandLineOutput& console_;
};

// Fills the window state from the switches as a user would and runs the move action.
// Returns one of the exit statuses above.
int RunCommandLine(std::span<const std::string> words, Form1& form, CommandLineOutput& output);

// What a run without words does: show the window (a console program may instead start the
// windowed one). Returns the exit status.
using WindowMode = std::function<int()>;

// The program's start, given the words after its name: `windowMode` without any, the
// command line with them, its messages to `output`. Returns the exit status.
int Main(std::span<const std::string> words, CommandLineOutput& output,
         const WindowMode& windowMode);

// The usage line without its "Usage: ", as a command to type.
std::string CommandToType();

}  // namespace lorvex::mainmod
