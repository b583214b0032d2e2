// Reader of lorvex's command-line switches. The shell has already split the line into
// words; a switch is a word that begins with "-" ("/" too on Windows).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "list_mode.h"
#include "platform.h"
#include "transfer.h"

namespace lorvex {

struct CommandSwitches {
    std::string cmdCategory;                   // -c
    std::string cmdSearchDir;                  // -e
    std::string cmdDestDir;                    // -d
    std::optional<ListMode> cmdListMode;       // -s or -f, the last one given
    std::vector<std::string> unknownSwitches;  // each one shows the usage text
    bool help = false;                         // --help
    bool version = false;                      // --version
    bool allCategories = false;                // --all: every category, each into its own folder
    bool dryRun = false;                       // --dry-run: say what would move, move nothing
    bool listCategories = false;               // --categories: the map's categories, counted
    // --copy, --link, --link=symbolic: what is done with each archive instead of a move
    Transfer transfer = Transfer::Move;
    bool noJournal = false;  // --no-journal: a move that cannot be undone
    bool listRuns = false;   // --runs: the recent move runs
    bool undo = false;       // --undo [RUN]: a move run's archives put back
    std::string undoRun;     // RUN, "" for the last one
    bool resort = false;     // --resort: a sorted tree sorted again by the current map
    // Why the words must not run at all, "" when they may: a long option lorvex does not
    // know, a value switch given twice with different values, a one-dash word that reads as
    // a long option ("-dry-run" would otherwise be -d "ry-run"), a word that begins with
    // typographic dashes and reads as a long option, a value word that begins with an en or
    // em dash or a minus sign, "--" followed by an option's name, and on Windows a category
    // with " / " in it unquoted. Each would otherwise move archives somewhere unmeant.
    std::string refusal;
};

// Every long option the reader takes, as a user writes it ("--dry-run").
std::span<const std::string_view> LongOptions();

// Reads the words after the program's name. Does no I/O.
CommandSwitches ParseSwitches(std::span<const std::string_view> words);

// The program's name as the user typed it: "lorvex", or "lorvex.com" or "lorvex.exe".
std::string UsageText(std::string_view program = platform::kExecutableName);

// Where --help says things are.
struct HelpPlaces {
    std::string program = std::string(platform::kExecutableName);
    std::string programDirectory;   // without a trailing separator
    std::string userDataDirectory;  // "" when the user has none
    bool portable = false;          // a portable copy, which reads only its own files
    std::string runsDirectory;      // where the journals are kept, "" when nowhere
    // Each data file's name and the path it is read from.
    std::vector<std::pair<std::string, std::string>> dataFiles;
};

// The text of --help: the usage, the switches, the exit statuses and where the data files
// and the user's guide are.
std::string HelpText(const HelpPlaces& places);

// "lorvex 3.0.0"
std::string VersionText();

}  // namespace lorvex
