#include "command_line.h"

#include <algorithm>

#include "platform.h"
#include "text_lines.h"

namespace lorvex {
namespace {

bool IsSwitch(std::string_view word) {
#ifdef _WIN32
    return !word.empty() && (word.front() == '-' || word.front() == '/');
#else
    return !word.empty() && word.front() == '-';
#endif
}

char SwitchLetter(std::string_view word) {
    if (word.size() < 2) {
        return '\0';
    }
    const char letter = word[1];
    return letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
}

// The rest of the switch word and the words that follow it up to the next switch,
// joined by single blanks; double quotes become blanks, then blanks are stripped.
std::string SwitchValue(std::span<const std::string_view> words, std::size_t& i) {
    std::string value(words[i].size() > 2 ? words[i].substr(2) : std::string_view{});
    while (i + 1 < words.size() && !IsSwitch(words[i + 1])) {
        value += ' ';
        value += words[++i];
    }
    std::replace(value.begin(), value.end(), '"', ' ');
    return std::string(StripSpaces(value));
}

// Words of two dashes name what a single letter cannot; any other is an unknown switch.
bool ReadLongSwitch(std::string_view word, CommandSwitches& switches) {
    if (word == "--help") {
        switches.help = true;
    } else if (word == "--version") {
        switches.version = true;
    } else if (word == "--all") {
        switches.allCategories = true;
    } else if (word == "--dry-run") {
        switches.dryRun = true;
    } else {
        return false;
    }
    return true;
}

}  // namespace

CommandSwitches ParseSwitches(std::span<const std::string_view> words) {
    CommandSwitches switches;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (!IsSwitch(words[i])) {
            continue;  // words before the first switch
        }
        if (ReadLongSwitch(words[i], switches)) {
            continue;
        }
        const std::size_t at = i;
        std::string value = SwitchValue(words, i);
        switch (SwitchLetter(words[at])) {
            case 'C':
                switches.cmdCategory = std::move(value);
                break;
            case 'E':
                switches.cmdSearchDir = std::move(value);
                break;
            case 'D':
                switches.cmdDestDir = std::move(value);
                break;
            case 'S':
                switches.cmdListMode = ListMode::Simple;
                break;
            case 'F':
                switches.cmdListMode = ListMode::Full;
                break;
            default:
                switches.unknownSwitches.emplace_back(words[at]);
                break;
        }
    }
    return switches;
}

std::string UsageText() {
    return "Usage: " + std::string(platform::kExecutableName) +
           " -c category -e searchdir -d destdir -[s|f]\nSee readme.txt";
}

std::string HelpText(const std::string& programDirectory) {
    const std::string program(platform::kExecutableName);
    const std::string dir = programDirectory + platform::kSeparator;
    return UsageText().substr(0, UsageText().find('\n')) + "\n       " + program +
           " --all -e searchdir -d destdir -[s|f] [--dry-run]\n\n"
           "Moves every archive of one category (or of every category) that is present and\n"
           "not empty from the search directory into the destination directory.\n\n"
           "  -c category   the category to move; it must be one of the category list\n"
           "  -e searchdir  where the archives are now\n"
           "  -d destdir    where they go; the last directory is created if missing\n"
           "  -s            Simple Lists: cats2.txt and lorvex2.ini\n"
           "  -f            Full Lists: cats.txt and lorvex.ini (the default)\n"
           "  --all         every category of the list instead of -c, each into its own\n"
           "                folder under destdir (\"Music / Jazz\" into destdir/Music/Jazz)\n"
           "  --dry-run     with -c or --all: list what would be moved and what would fail,\n"
           "                and move, create and write nothing\n"
           "  --help        show this text\n"
           "  --version     show the version\n\n"
           "A value runs up to the next switch. Without arguments " +
           program +
           " opens its window.\n\n"
           "Exit status:\n"
           "  0  the move ran and moved every archive of the category it found\n"
           "  1  the move ran, but some archives could not be moved, or Ctrl+C stopped it\n"
           "     (with --dry-run: some would not be moved)\n"
           "  2  nothing was moved: a switch is missing, the category is not in the list,\n"
           "     -c and --all were both given,\n"
           "     a directory or a data file cannot be used\n\n"
           "Data files are read from " +
           programDirectory +
           ":\n"
           "  cats.txt, lorvex.ini (Full Lists), cats2.txt, lorvex2.ini (Simple Lists)\n\n"
           "The user's guide is " +
           dir + "readme.txt" +
#ifdef _WIN32
           ".";
#else
           "; the reference is man lorvex.";
#endif
}

std::string VersionText() { return "lorvex " LORVEX_VERSION; }

}  // namespace lorvex
