// Standard output and standard error of the Windows programs. To a console window the
// text goes as UTF-16, so that names in any script show as they are; to a file or a pipe
// it goes as UTF-8 bytes, the same bytes a script gets on Linux.
#pragma once

#include <string_view>

#include "command_line_output.h"
#include "platform_windows.h"

namespace lorvex::win32 {

struct StandardStreams {
    HANDLE output = nullptr;
    HANDLE error = nullptr;

    // The streams the process was started with (lorvex.com).
    static StandardStreams OfProcess();
    // For the windowed program: the streams its parent gave it, or else the console of the
    // parent process when it was started from one; none otherwise.
    static StandardStreams OfParent();
};

// Writes UTF-8 text to a console, a file or a pipe; nothing when there is no stream.
void WriteText(HANDLE stream, std::string_view text);

// The report on standard output; the usage text and "lorvex: " errors on standard error.
class ConsoleOutput : public mainmod::CommandLineOutput {
public:
    explicit ConsoleOutput(StandardStreams streams) : streams_(streams) {}
    void Usage(std::string_view usage) override;
    void Report(std::string_view report) override;
    void Error(std::string_view error) override;

private:
    StandardStreams streams_;
};

}  // namespace lorvex::win32
