#include "mainmod.h"

#include <chrono>
#include <csignal>
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
    void ShowMoveReport(std::string_view, const MoveReportText& report) override {
        output_.MoveReport(report);
    }
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
        Box(AsSentence(error));
    }
    // The console gets every failure; the box names the first few and keeps the rest on
    // demand, so that it always fits the screen.
    void MoveReport(const MoveReportText& report) override {
        ConsoleOutput::Report(report.full);
        Box(report.summary, report.details);
    }

private:
    // The console already has the text, so a desktop that cannot show it costs nothing.
    static void Box(std::string_view text, std::string_view details = {}) {
        try {
            desktop::ShowStandaloneMessage("lorvex", text, details);
        } catch (const LorvexError&) {
        }
    }
};

// Set by Ctrl+C during a pass; the pass stops before its next archive.
volatile std::sig_atomic_t interrupted = 0;

extern "C" void NoteInterrupt(int) { interrupted = 1; }

// For as long as it lives: Ctrl+C ends the pass between two archives, and a pass longer
// than half a second shows one line of progress on standard error when that is a
// terminal. A pipe or a log sees nothing of it.
class TerminalProgress : public PassProgress {
public:
    explicit TerminalProgress(Form1& form) : form_(form) { form_.SetPassProgress(this); }
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;
    ~TerminalProgress() override { form_.SetPassProgress(nullptr); }

    void PassBegins() override {
        interrupted = 0;
        previousHandler_ = std::signal(SIGINT, NoteInterrupt);
        start_ = Clock::now();
        lastDrawn_ = start_;
        drawing_ = platform::StandardErrorIsTerminal();
    }

    bool ContinuePass(const PassStatus& status) override {
        if (interrupted) {
            return false;
        }
        const auto now = Clock::now();
        if (drawing_ && now - start_ > kQuietStart && now - lastDrawn_ >= kRedrawEvery) {
            Draw(status, now);
            lastDrawn_ = now;
        }
        return true;
    }

    void PassEnds() override {
        if (shown_) {
            std::cerr << "\r\x1b[K" << std::flush;  // the report starts on a clean line
        }
        std::signal(SIGINT, previousHandler_ == SIG_ERR ? SIG_DFL : previousHandler_);
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kQuietStart = std::chrono::milliseconds(500);
    static constexpr auto kRedrawEvery = std::chrono::milliseconds(250);

    void Draw(const PassStatus& status, Clock::time_point now) {
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const auto rate = static_cast<long long>(static_cast<double>(status.movedCount) / seconds);
        std::string archive(
            status.archive.substr(status.archive.find_last_of(platform::kSeparator) + 1));
        constexpr std::size_t kWidest = 40;  // one line on an ordinary terminal
        if (archive.size() > kWidest) {
            archive = archive.substr(0, kWidest - 3) + "...";
        }
        std::cerr << "\r\x1b[K" << status.movedCount << " moved, " << status.failedCount
                  << " not moved, " << rate << "/s: " << archive << std::flush;
        shown_ = true;
    }

    Form1& form_;
    void (*previousHandler_)(int) = SIG_DFL;
    Clock::time_point start_;
    Clock::time_point lastDrawn_;
    bool drawing_ = false;
    bool shown_ = false;
};

// Says which required switch is missing, or "" when all are there.
std::string MissingSwitch(const CommandSwitches& switches) {
    if (switches.allCategories && !switches.cmdCategory.empty()) {
        return "-c and --all cannot be used together: give one category or all of them";
    }
    if (switches.cmdCategory.empty() && !switches.allCategories) {
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
        output.Error(
            "no graphical display to show the window on (no X11 or Wayland display"
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
    form.SetMoveOptions({switches.allCategories, switches.dryRun});
    if (!switches.allCategories && !SelectCategory(form.Combo1, switches.cmdCategory)) {
        output.Error("category " + Quoted(switches.cmdCategory) + " is not in the category list " +
                     Quoted(form.CategoryListPath()));
        return kExitNotRun;
    }
    form.Refresh();
    {
        TerminalProgress progress(form);
        form.Command2_Click();
    }
    if (form.LastHandlerFailed()) {
        return kExitNotRun;
    }
    const PassResult& pass = form.LastPass();
    return pass.failed.empty() && !pass.cancelled ? kExitAllMoved : kExitSomeNotMoved;
}

int Main(std::span<const std::string> words, CommandLineOutput& output,
         const WindowMode& windowMode) {
    try {
        if (words.empty()) {
            return windowMode();
        }
        Form1 form(platform::ProgramDirectory());
        return RunCommandLine(words, form, output);
    } catch (const std::exception& error) {
        output.Error(error.what());
        return kExitNotRun;
    }
}

int Main(std::span<const std::string> words) {
    ConsoleOutput console;
    ConsoleAndBoxes boxes;
    // Boxes only where a person can see and close them; a script never waits at one.
    const bool showBoxes =
        !words.empty() && !platform::StandardInputIsTerminal() && desktop::PersonCanSeeDisplay();
    CommandLineOutput& output = showBoxes ? static_cast<CommandLineOutput&>(boxes) : console;
    return Main(words, output, [&output] { return RunWindowMode(output); });
}

}  // namespace lorvex::mainmod
