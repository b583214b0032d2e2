// Entry point of the lorvex executable.
#include <unistd.h>

#include "mainmod.h"
#include "window_mode.h"

namespace {

// A run started from a desktop launcher or by another program has no terminal to read
// its output, so what it says is shown in message boxes as well.
class ConsoleAndBoxes : public lorvex::mainmod::ConsoleOutput {
public:
    void Usage(std::string_view usage) override {
        ConsoleOutput::Usage(usage);
        lorvex::ui::ShowStandaloneMessage("lorvex", usage);
    }
    void Report(std::string_view report) override {
        ConsoleOutput::Report(report);
        lorvex::ui::ShowStandaloneMessage("lorvex", report);
    }
    void Error(std::string_view error) override {
        ConsoleOutput::Error(error);
        lorvex::ui::ShowStandaloneMessage("lorvex", error);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && !::isatty(STDIN_FILENO) && lorvex::ui::HasGraphicalDisplay()) {
        ConsoleAndBoxes output;
        return lorvex::mainmod::Main(argc, argv, lorvex::ui::RunWindow, output);
    }
    lorvex::mainmod::ConsoleOutput console;
    return lorvex::mainmod::Main(argc, argv, lorvex::ui::RunWindow, console);
}
