#include "mainmod.h"

#include <exception>
#include <iostream>
#include <vector>

#include "errors.h"
#include "platform.h"

namespace lorvex::mainmod {
namespace {

// Routes the move action's message to the command line's output for as long as it lives.
class ReportToOutput : public MessageSink {
public:
    ReportToOutput(Form1& form, CommandLineOutput& output) : form_(form), output_(output) {
        form_.SetMessageSink(this);
    }
    ReportToOutput(const ReportToOutput&) = delete;
    ReportToOutput& operator=(const ReportToOutput&) = delete;
    ~ReportToOutput() override { form_.SetMessageSink(nullptr); }
    void ShowMessage(std::string_view, std::string_view text) override { output_.Report(text); }

private:
    Form1& form_;
    CommandLineOutput& output_;
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
void ApplyListMode(Form1& form, int listMode) {
    if (listMode == 1) {
        form.Option1.SetValue(true);
        form.Option2.SetValue(false);
    } else if (listMode == 2) {
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

}  // namespace

void ConsoleOutput::Usage(std::string_view usage) { std::cerr << usage << '\n'; }

void ConsoleOutput::Report(std::string_view report) { std::cout << report << std::endl; }

void ConsoleOutput::Error(std::string_view error) { std::cerr << "lorvex: " << error << '\n'; }

int RunCommandLine(std::span<const std::string_view> words, Form1& form,
                   CommandLineOutput& output) {
    const CommandSwitches switches = ParseSwitches(words);
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
    try {
        ApplyListMode(form, switches.cmdListMode);
        form.Start.SetText(switches.cmdSearchDir);
        form.Endd.SetText(switches.cmdDestDir);
        if (!SelectCategory(form.Combo1, switches.cmdCategory)) {
            output.Error("category " + Quoted(switches.cmdCategory) +
                         " is not in the category list " + Quoted(form.CategoryListPath()));
            return kExitNotRun;
        }
        form.Refresh();
        form.Command2_Click();
    } catch (const LorvexError& error) {
        output.Error(error.what());
        return kExitNotRun;
    }
    return form.failedMoves.empty() ? kExitAllMoved : kExitSomeNotMoved;
}

int Main(int argc, char** argv, const WindowMode& runWindow, CommandLineOutput& output) {
    try {
        if (argc <= 1) {
            return runWindow(argc, argv);
        }
        const std::vector<std::string_view> words(argv + 1, argv + argc);
        Form1 form(platform::ProgramDirectory());
        return RunCommandLine(words, form, output);
    } catch (const std::exception& error) {
        output.Error(error.what());
        return kExitNotRun;
    }
}

}  // namespace lorvex::mainmod
