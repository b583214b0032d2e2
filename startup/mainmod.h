// Start-up: chooses between the window and the command line, and runs the command line.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "command_line_output.h"
#include "form1.h"
#include "progress_label.h"
#include "terminal.h"

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

// For as long as it lives: Ctrl+C, SIGTERM, SIGHUP (on Windows Ctrl+Break and a closed
// console) end the pass between two archives, after the batch in hand, and a pass longer
// than half a second shows one line of progress on standard error when that is a terminal.
// A pipe or a log sees nothing of it.
class TerminalProgress : public PassProgress {
public:
    using Clock = ProgressDelay::Clock;
    // Where the line is drawn, and the clock it goes by.
    struct Terminal {
        bool present = false;  // standard error is a terminal
        std::function<int()> columns;
        std::function<void(std::string_view)> draw;  // over the one status line; "" clears it
        std::function<Clock::time_point()> now;
    };
    static Terminal SystemTerminal();

    explicit TerminalProgress(Terminal terminal);
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    void PassBegins() override;
    bool ContinuePass(const PassStatus& status) override;
    void PassEnds() override;

    static constexpr auto kRedrawEvery = std::chrono::milliseconds(250);

private:
    Terminal terminal_;
    // From before the pass until its report is written: a report to a terminal or pipe
    // that has gone away is lost, but the exit status still tells.
    platform::StopRequests stopRequests_;
    ProgressDelay delay_;
    Clock::time_point lastDrawn_;
    bool shown_ = false;
};

// Runs what the switches ask: a move (copy, link) of one category or all, --runs, --undo,
// --categories, --help or --version; `form` gives the program's folder and file system.
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
