// The start of the two Windows programs, linked into each of them.
#include <string>

#include "console_output.h"
#include "desktop.h"
#include "desktop_windows.h"
#include "mainmod.h"
#include "platform.h"
#include "platform_windows.h"

namespace lorvex::win32 {

int StartWindowedProgram() {
    const std::string program = platform::ProgramDirectory() + platform::kSeparator +
                                std::string(platform::kExecutableName);
    std::wstring commandLine = L"\"" + platform::Widen(program) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(platform::LongPath(program).c_str(), commandLine.data(), nullptr, nullptr,
                          FALSE, 0, nullptr, nullptr, &startup, &process)) {
        const std::string reason = platform::SystemMessage(::GetLastError());
        WriteText(StandardStreams::OfProcess().error,
                  "lorvex: cannot start the window \"" + program + "\": " + reason + "\n");
        return mainmod::kExitNotRun;
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return mainmod::kExitAllMoved;
}

int RunWindowedProgram() {
    ConsoleOutput console(StandardStreams::OfParent());
    mainmod::AlsoInBoxes output(console);
    const auto words = platform::CommandLineWords(0, nullptr);
    return mainmod::Main(words, output,
                         [] { return desktop::RunWindow(platform::ProgramDirectory()); });
}

int RunConsoleProgram() {
    ConsoleOutput output(StandardStreams::OfProcess());
    const auto words = platform::CommandLineWords(0, nullptr);
    return mainmod::Main(words, output, StartWindowedProgram);
}

}  // namespace lorvex::win32
