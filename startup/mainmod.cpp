#include "mainmod.h"

#include <exception>
#include <iostream>
#include <vector>

#include "command_line.h"
#include "desktop.h"
#include "errors.h"
#include "platform.h"

namespace lorvex::mainmod {
namespace {

// Routes the core's messages to the command line's output for as long as it lives.
class ReportToOutput : public MessageSink {
public:
    ReportToOutput(Form1& form, CommandLineOutput& output) : form_(form), output_(output) {
        form_.SetMessageSink(this);
    }
    ReportToOutput(const ReportToOutput&) = delete;
    ReportToOutput& operator=(const ReportToOutput&) = delete;
    ~ReportToOutput() override { form_.SetMessageSink(nullptr); }
    void ShowMessage(std::string_view, std::string_view text) override { output_.Report(text); }
    void ShowError(std::string_view, std::string_view text) override { output_.Error(text); }

private:
    Form1& form_;
    CommandLineOutput& output_;
};

// A run started from a desktop launcher or by another program has no terminal to read
// its output, so what it says is shown in boxes as well.
class ConsoleAndBoxes : public ConsoleOutput {
public:
    void Usage(std::string_view usage) override {
        ConsoleOutput::Usage(usage);
        Box(usage);
    }
    void Report(std::string_view report) override {
        ConsoleOutput::Report(report);
        Box(report);
    }
    void Error(std::string_view error) override {
        ConsoleOutput::Error(error);
        Box(error);
    }

private:
    // The console already has the text, so a desktop that cannot show it costs nothing.
    static void Box(std::string_view text) {
        try {
            desktop::ShowStandaloneMessage("lorvex", text);
        } catch (const LorvexError&) {
        }
    }
};

// Says which required switch is missing, or "" when all are there.
std::string MissingSwitch(const CommandSwitches& switches) {
    if (switches.cmdCategory.empty()) {
        return "no category given: use -c category";
    }
    if (switches.cmdSearchDir.empty()) {
        return "no search directory given: use -e searchdir";
    }
    if (switches.cmdDestDir.empty()) {
        return "no destination directory given: use -d destdir";
    }
    return {};
}

// Setting an option runs its click handler, which loads that mode's category list.
void ApplyListMode(Form1& form, std::optional<ListMode> listMode) {
    if (listMode == ListMode::Simple) {
        form.Option1.SetValue(true);
        form.Option2.SetValue(false);
    } else if (listMode == ListMode::Full) {
        form.Option1.SetValue(false);
        form.Option2.SetValue(true);
    } else {
        form.getCats();
    }
}

// Chooses the first item equal to `category`; false when there is none, so that the
// run never falls back to another category's archives.
bool SelectCategory(ComboBox& combo, const std::string& category) {
    for (int i = 0; i < combo.ListCount(); ++i) {
        if (combo.List(i) == category) {
            combo.SetListIndex(i);
            return true;
        }
    }
    combo.SetListIndex(-1);
    return false;
}

// The usage line without its "Usage: ", as a command to type.
std::string CommandToType() {
    const std::string usage = UsageText();
    const std::string line = usage.substr(0, usage.find('\n'));
    return line.substr(line.find(' ') + 1);
}

int RunWindowMode(CommandLineOutput& output) {
    if (!desktop::PersonCanSeeDisplay()) {
        output.Error("no graphical display to show the window on (no X11 or Wayland display"
                     " can be reached); to sort from the command line, run: " +
                     CommandToType());
        return kExitNotRun;
    }
    return desktop::RunWindow(platform::ProgramDirectory());
}

}  // namespace

void ConsoleOutput::Usage(std::string_view usage) { std::cerr << usage << '\n'; }

void ConsoleOutput::Report(std::string_view report) { std::cout << report << std::endl; }

void ConsoleOutput::Error(std::string_view error) { std::cerr << "lorvex: " << error << '\n'; }

int RunCommandLine(std::span<const std::string> words, Form1& form, CommandLineOutput& output) {
    const std::vector<std::string_view> views(words.begin(), words.end());
    const CommandSwitches switches = ParseSwitches(views);
    if (switches.help) {
        output.Report(HelpText(form.ProgramDirectory()));
        return kExitAllMoved;
    }
    if (switches.version) {
        output.Report(VersionText());
        return kExitAllMoved;
    }
    for (std::size_t i = 0; i < switches.unknownSwitches.size(); ++i) {
        output.Usage(UsageText());
    }
    if (const std::string missing = MissingSwitch(switches); !missing.empty()) {
        output.Error(missing);
        return kExitNotRun;
    }
    const ReportToOutput reports(form, output);
    ApplyListMode(form, switches.cmdListMode);
    if (form.LastHandlerFailed()) {
        return kExitNotRun;
    }
    form.Start.SetText(switches.cmdSearchDir);
    form.Endd.SetText(switches.cmdDestDir);
    if (!SelectCategory(form.Combo1, switches.cmdCategory)) {
        output.Error("category " + Quoted(switches.cmdCategory) + " is not in the category list " +
                     Quoted(form.CategoryListPath()));
        return kExitNotRun;
    }
    form.Refresh();
    form.Command2_Click();
    if (form.LastHandlerFailed()) {
        return kExitNotRun;
    }
    return form.LastPass().failed.empty() ? kExitAllMoved : kExitSomeNotMoved;
}

int Main(std::span<const std::string> words) {
    ConsoleOutput console;
    ConsoleAndBoxes boxes;
    // Boxes only where a person can see and close them; a script never waits at one.
    const bool showBoxes = !words.empty() && !platform::StandardInputIsTerminal() &&
                           desktop::PersonCanSeeDisplay();
    CommandLineOutput& output = showBoxes ? static_cast<CommandLineOutput&>(boxes) : console;
    try {
        if (words.empty()) {
            return RunWindowMode(output);
        }
        Form1 form(platform::ProgramDirectory());
        return RunCommandLine(words, form, output);
    } catch (const std::exception& error) {
        output.Error(error.what());
        return kExitNotRun;
    }
}

}  // namespace lorvex::mainmod
