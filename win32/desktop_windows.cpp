#include "desktop_windows.h"

#include <string>
#include <vector>

#include "console_output.h"
#include "platform.h"
#include "platform_windows.h"

namespace lorvex::win32 {

void ShowStandaloneMessage(std::string_view title, std::string_view text) {
    ::MessageBoxW(nullptr, platform::Widen(text).c_str(), platform::Widen(title).c_str(),
                  MB_OK | MB_SETFOREGROUND);
}

int RunWindow(int, char**) {
    ShowStandaloneMessage("lorvex",
                          "The lorvex window is not part of this build yet.\n\n"
                          "Sort from a command prompt instead:\n"
                          "lorvex -c category -e searchdir -d destdir -[s|f]");
    return mainmod::kExitNotRun;
}

int StartWindowedProgram(int, char**) {
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

int RunProgram(const mainmod::WindowMode& runWindow, mainmod::CommandLineOutput& output) {
    std::vector<std::string> words = platform::ProgramArguments(0, nullptr);
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    return mainmod::Main(static_cast<int>(words.size()), argv.data(), runWindow, output);
}

}  // namespace lorvex::win32
