// Reader of lorvex's command-line switches. The shell has already split the line into
// words; a switch is a word that begins with "-" ("/" too on Windows).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "list_mode.h"

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
};

// Reads the words after the program's name. Does no I/O.
CommandSwitches ParseSwitches(std::span<const std::string_view> words);

std::string UsageText();

// The text of --help: the usage, the switches, the exit statuses and where the data files
// and the user's guide are, for a program that lives in `programDirectory`.
std::string HelpText(const std::string& programDirectory);

// "lorvex 3.0.0"
std::string VersionText();

}  // namespace lorvex
