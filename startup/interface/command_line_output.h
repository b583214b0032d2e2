// Where a command-line run says what it has to say, and the statuses it ends with: what
// start-up and each desktop's programs share.
#pragma once

#include <string_view>

#include "interfaces.h"

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

}  // namespace lorvex::mainmod
