#include "command_line.h"

#include <algorithm>
#include <array>

#include "errors.h"
#include "nearest_names.h"
#include "text_lines.h"

namespace lorvex {
namespace {

constexpr std::array<std::string_view, 11> kLongOptions = {
    "--all",  "--dry-run",       "--categories", "--help", "--version", "--copy",
    "--link", "--link=symbolic", "--no-journal", "--runs", "--undo"};

bool IsSwitch(std::string_view word) {
#ifdef _WIN32
    return !word.empty() && (word.front() == '-' || word.front() == '/');
#else
    return !word.empty() && word.front() == '-';
#endif
}

bool IsLongOption(std::string_view word) { return word.size() > 2 && word.starts_with("--"); }

char SwitchLetter(std::string_view word) {
    if (word.size() < 2) {
        return '\0';
    }
    const char letter = word[1];
    return letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
}

// An en dash, an em dash or a minus sign: what a word processor or a web page makes of
// "--", which the shell passes on as part of a value.
bool StartsWithTypographicDash(std::string_view word) {
    return word.starts_with("\u2013") || word.starts_with("\u2014") || word.starts_with("\u2212");
}

// The letters of a word, lower case, without dashes and underscores: "-Dry_Run" -> "dryrun".
std::string LettersOf(std::string_view word) {
    std::string letters;
    for (const char c : word) {
        if (c != '-' && c != '_') {
            letters.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
        }
    }
    return letters;
}

// The long option a one-dash word was probably meant to be ("-dry-run", "-dryrun", "-all"),
// or "" when it reads as a switch letter and its value.
std::string_view LongOptionWithOneDash(std::string_view word) {
    if (word.size() < 4 || word[1] == '-' || !IsSwitch(word)) {
        return {};
    }
    const std::string letters = LettersOf(word);
    for (const std::string_view option : kLongOptions) {
        if (EditDistance(letters, LettersOf(option)) <= 1) {
            return option;
        }
    }
    return {};
}

// The rest of the switch word and the words that follow it up to the next switch,
// joined by single blanks; double quotes become blanks, then blanks are stripped.
std::string SwitchValue(std::span<const std::string_view> words, std::size_t& i,
                        CommandSwitches& switches) {
    std::string value(words[i].size() > 2 ? words[i].substr(2) : std::string_view{});
    while (i + 1 < words.size() && !IsSwitch(words[i + 1])) {
        if (StartsWithTypographicDash(words[i + 1]) && switches.refusal.empty()) {
            switches.refusal = Quoted(words[i + 1]) +
                               " begins with a typographic dash, not \"-\"; type the option with "
                               "plain dashes";
        }
        value += ' ';
        value += words[++i];
    }
    std::replace(value.begin(), value.end(), '"', ' ');
    return std::string(StripSpaces(value));
}

void Refuse(CommandSwitches& switches, std::string why);

// --copy, --link and --link=symbolic each say what to do instead of a move; one of them.
void SetTransfer(Transfer transfer, std::string_view word, CommandSwitches& switches) {
    if (switches.transfer != Transfer::Move && switches.transfer != transfer) {
        Refuse(switches, "--copy, --link and --link=symbolic cannot be used together (" +
                             std::string(word) + " was the second); give one");
    }
    switches.transfer = transfer;
}

// Words of two dashes name what a single letter cannot.
bool ReadLongSwitch(std::string_view word, CommandSwitches& switches) {
    if (word == "--help") {
        switches.help = true;
    } else if (word == "--version") {
        switches.version = true;
    } else if (word == "--all") {
        switches.allCategories = true;
    } else if (word == "--dry-run") {
        switches.dryRun = true;
    } else if (word == "--categories") {
        switches.listCategories = true;
    } else if (word == "--copy") {
        SetTransfer(Transfer::Copy, word, switches);
    } else if (word == "--link") {
        SetTransfer(Transfer::HardLink, word, switches);
    } else if (word == "--link=symbolic") {
        SetTransfer(Transfer::SymbolicLink, word, switches);
    } else if (word == "--no-journal") {
        switches.noJournal = true;
    } else if (word == "--runs") {
        switches.listRuns = true;
    } else {
        return false;
    }
    return true;
}

void Refuse(CommandSwitches& switches, std::string why) {
    if (switches.refusal.empty()) {
        switches.refusal = std::move(why);
    }
}

// Sets a value switch; a second, different value stops the run, as one of the two was not
// meant (-d golf -dry-run gives -d twice).
void SetValue(std::string& field, std::string value, std::string_view word,
              CommandSwitches& switches) {
    if (!field.empty() && !value.empty() && field != value) {
        Refuse(switches, std::string(word.substr(0, 2)) + " was given twice, as " + Quoted(field) +
                             " and as " + Quoted(value) + "; give it once");
    }
    field = std::move(value);
}

}  // namespace

CommandSwitches ParseSwitches(std::span<const std::string_view> words) {
    CommandSwitches switches;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view word = words[i];
        if (!IsSwitch(word)) {
            continue;  // words before the first switch
        }
#ifdef _WIN32
        if (word == "/?") {
            switches.help = true;
            continue;
        }
#endif
        if (ReadLongSwitch(word, switches)) {
            continue;
        }
        if (word == "--undo") {
            switches.undo = true;
            // The run's id is the word after it, if any: an id holds no blanks.
            if (i + 1 < words.size() && !IsSwitch(words[i + 1])) {
                switches.undoRun = words[++i];
            }
            continue;
        }
        if (IsLongOption(word)) {
            switches.unknownSwitches.emplace_back(word);
            const std::vector<std::string> known(kLongOptions.begin(), kLongOptions.end());
            Refuse(switches,
                   "unknown option " + Quoted(word) + DidYouMean(NearestNames(word, known, 1)));
            continue;
        }
        if (const auto meant = LongOptionWithOneDash(word); !meant.empty()) {
            const std::string letter(word.substr(0, 2));
            Refuse(switches, Quoted(word) + " would be " + letter + " " + Quoted(word.substr(2)) +
                                 "; did you mean " + Quoted(meant) + "? For that value, write " +
                                 letter + " " + Quoted(word.substr(2)));
        }
        std::string value = SwitchValue(words, i, switches);
        switch (SwitchLetter(word)) {
            case 'C':
                SetValue(switches.cmdCategory, std::move(value), word, switches);
                break;
            case 'E':
                SetValue(switches.cmdSearchDir, std::move(value), word, switches);
                break;
            case 'D':
                SetValue(switches.cmdDestDir, std::move(value), word, switches);
                break;
            case 'S':
                switches.cmdListMode = ListMode::Simple;
                break;
            case 'F':
                switches.cmdListMode = ListMode::Full;
                break;
            default:
                switches.unknownSwitches.emplace_back(word);
                break;
        }
    }
    return switches;
}

std::string UsageText(std::string_view program) {
    return "Usage: " + std::string(program) +
           " -c category|--all -e searchdir -d destdir [-s|-f] [--dry-run]\nSee " +
           std::string(program) + " --help and readme.txt";
}

std::string HelpText(const HelpPlaces& places) {
    const std::string& program = places.program;
    const std::string usage = UsageText(program);
    const std::string indent(std::string_view("Usage: ").size(), ' ');
    const char separator = platform::kSeparator;
    // The options of a move that the usage line has no room for, under it.
    const std::string moveOptions = indent + std::string(program.size() + 1, ' ') +
                                    "[--copy|--link[=symbolic]] [--no-journal]\n";
    std::string text = usage.substr(0, usage.find('\n')) + "\n" + moveOptions + indent + program +
                       " --categories [-s|-f] [-e searchdir]\n" + indent + program +
                       " --runs | --undo [RUN] [--dry-run]\n" + indent + program +
                       " --help | --version\n\n"
                       "Moves every archive of one category (or of every category) that is "
                       "present and\nnot empty from the search directory into the destination "
                       "directory.\n\n"
                       "  -c category   the category to move; it must be one of the category "
                       "list\n"
                       "  -e searchdir  where the archives are now\n"
                       "  -d destdir    where they go; the last directory is created if missing\n"
                       "  -s            Simple Lists: cats2.txt and lorvex2.ini\n"
                       "  -f            Full Lists: cats.txt and lorvex.ini (the default)\n"
                       "  --all         every category of the list instead of -c, each into its "
                       "own\n"
                       "                folder under destdir (\"Music / Jazz\" into destdir" +
                       separator + "Music" + separator +
                       "Jazz)\n"
                       "  --dry-run     list what would be moved and what would not, with the "
                       "exit\n"
                       "                status of the real run; move, create and write nothing\n"
                       "  --copy        copy each archive instead of moving it; the source stays\n"
                       "  --link        make a hard link to each archive (same file system only)\n"
                       "  --link=symbolic\n"
                       "                make a symbolic link to each archive's full path\n"
                       "  --no-journal  move without writing the run's journal (it cannot be "
                       "undone)\n"
                       "  --runs        list the recent move runs from their journals\n"
                       "  --undo [RUN]  move every archive of a run (the last one not undone) "
                       "back\n"
                       "                where it was, never replacing a file; with --dry-run, "
                       "only say\n"
                       "  --categories  the map's categories with how many names each has (with "
                       "-e,\n"
                       "                how many of its archives are there), marking those not "
                       "in\n"
                       "                the category list\n"
                       "  --help        show this text\n"
                       "  --version     show the version\n\n"
                       "A value runs up to the next switch. A long option lorvex does not know, "
                       "a\nswitch given twice with different values, or a switch that reads as "
                       "a long\noption with one dash (\"-dry-run\") stops the run. Without "
                       "arguments " +
                       program +
                       "\nopens its window.\n\n"
                       "Exit status:\n"
                       "  0  the move ran and moved every archive of the category it found\n"
                       "  1  the move ran, but some archives could not be moved, or Ctrl+C "
                       "stopped it\n"
                       "     (with --dry-run: some would not be moved)\n"
                       "  2  nothing was moved: a switch is missing, unknown or given twice, the\n"
                       "     category is not in the list, -c and --all were both given, a "
                       "directory\n"
                       "     or a data file cannot be used, the destination cannot be written\n\n"
                       "Each data file is read from your data folder when it is there, else "
                       "from the\nprogram's folder:\n";
    if (!places.userDataDirectory.empty()) {
        text += "  " + places.userDataDirectory + "\n";
    }
    text += "  " + places.programDirectory + "\n";
    for (const auto& [name, path] : places.dataFiles) {
        const auto folder = path.substr(0, path.find_last_of(separator));
        text += "  " + name + std::string(12 - std::min<std::size_t>(name.size(), 11), ' ') +
                "read from " + folder + "\n";
    }
    text += "\nThe user's guide is " + places.programDirectory + separator + "readme.txt";
#ifdef _WIN32
    return text + ".";
#else
    return text + "; the reference is man lorvex.";
#endif
}

std::string VersionText() { return "lorvex " LORVEX_VERSION; }

}  // namespace lorvex
