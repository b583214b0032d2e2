// Start-up: chooses between the window and the command line, and runs the command line.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "form1.h"

namespace lorvex::mainmod {

// Exit statuses of a run, for scripts.
// Every archive found was moved (also none); also the status of --help and --version.
inline constexpr int kExitAllMoved = 0;
inline constexpr int kExitSomeNotMoved = 1;  // the pass ran, some archives could not be moved
inline constexpr int kExitNotRun = 2;        // the move did not run: bad input or data file

// Where a command-line run shows what it has to say.
class CommandLineOutput {
public:
    virtual ~CommandLineOutput() = default;
    virtual void Usage(std::string_view usage) = 0;
    virtual void Report(std::string_view report) = 0;  // the move's message, help, version
    // The result of a move; an output that cannot show details on demand prints it whole.
    virtual void MoveReport(const MoveReportText& report) { Report(report.full); }
    virtual void Error(std::string_view error) = 0;  // why the move did not run
};

// Usage and errors on standard error, the report on standard output.
class ConsoleOutput : public CommandLineOutput {
public:
    void Usage(std::string_view usage) override;
    void Report(std::string_view report) override;
    void Error(std::string_view error) override;
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

// The same for a program that runs as a console program on a desktop: its messages go to
// the console, and also to boxes when it was started without a terminal and a person can
// see them; without words it shows the desktop's window.
int Main(std::span<const std::string> words);

}  // namespace lorvex::mainmod
