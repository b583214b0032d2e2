// The start of the lorvex executable on Linux: its console, its boxes and its window.
#include <iostream>
#include <string>
#include <vector>

#include "desktop.h"
#include "mainmod.h"
#include "platform.h"
#include "terminal.h"

namespace lorvex::mainmod {
namespace {

// Usage and errors on standard error, the report on standard output.
class ConsoleOutput : public CommandLineOutput {
public:
    void Usage(std::string_view usage) override { std::cerr << usage << '\n'; }
    void Report(std::string_view report) override { std::cout << report << std::endl; }
    void Error(std::string_view error) override { std::cerr << "lorvex: " << error << '\n'; }
};

int RunWindowMode(CommandLineOutput& output) {
    if (!desktop::PersonCanSeeDisplay()) {
        output.Error(
            "no graphical display to show the window on (no X11 or Wayland display"
            " can be reached); to sort from the command line, run: " +
            CommandToType());
        return kExitNotRun;
    }
    return desktop::RunWindow(platform::ProgramDirectory());
}

// Messages go to the console, and also to boxes when the program was started without a
// terminal and a person can see them; without words it shows the window.
int Start(const std::vector<std::string>& words) {
    ConsoleOutput console;
    AlsoInBoxes boxes(console);
    // Boxes only where a person can see and close them; a script never waits at one.
    const bool showBoxes =
        !words.empty() && !platform::StandardInputIsTerminal() && desktop::PersonCanSeeDisplay();
    CommandLineOutput& output = showBoxes ? static_cast<CommandLineOutput&>(boxes) : console;
    return Main(words, output, [&output] { return RunWindowMode(output); });
}

}  // namespace
}  // namespace lorvex::mainmod

int main(int argc, char** argv) {
    return lorvex::mainmod::Start(lorvex::platform::CommandLineWords(argc, argv));
}
