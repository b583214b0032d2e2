#include "command_line.h"

#include <algorithm>
#include <array>

#include "data_files.h"
#include "errors.h"
#include "nearest_names.h"
#include "text_lines.h"

namespace lorvex {
namespace {

constexpr std::array<std::string_view, 12> kLongOptions = {
    "--all",  "--dry-run",       "--categories", "--help", "--version", "--copy",
    "--link", "--link=symbolic", "--no-journal", "--runs", "--undo",    "--resort"};

#ifdef _WIN32
constexpr bool kSlashStartsSwitches = true;
#else
constexpr bool kSlashStartsSwitches = false;
#endif

bool IsSwitch(std::string_view word) {
    return !word.empty() && (word.front() == '-' || (kSlashStartsSwitches && word.front() == '/'));
}

bool IsLongOption(std::string_view word) { return word.size() > 2 && word.starts_with("--"); }

std::string LowerCase(std::string_view word) {
    std::string lower(word);
    for (char& c : lower) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return lower;
}

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

// The dashes a word processor, a web page or a keyboard layout may give for "-": the
// hyphens and dashes U+2010 to U+2015, the minus sign, the small and full-width hyphen-minus.
constexpr std::array<std::string_view, 9> kTypographicDashes = {
    "\u2010", "\u2011", "\u2012", "\u2013", "\u2014", "\u2015", "\u2212", "\uFE63", "\uFF0D"};

// The typographic dash `text` begins with, or "".
std::string_view TypographicDashAt(std::string_view text) {
    for (const std::string_view dash : kTypographicDashes) {
        if (text.starts_with(dash)) {
            return dash;
        }
    }
    return {};
}

// `word` with every dash written as "-"; true in `leading` when a typographic one stood
// among the dashes the word begins with.
std::string PlainDashes(std::string_view word, bool& leading) {
    std::string plain;
    bool inLead = true;
    leading = false;
    for (std::size_t at = 0; at < word.size();) {
        if (const std::string_view dash = TypographicDashAt(word.substr(at)); !dash.empty()) {
            leading = leading || inLead;
            plain += '-';
            at += dash.size();
            continue;
        }
        inLead = inLead && word[at] == '-';
        plain += word[at++];
    }
    return plain;
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

// The long option whose name `name` is, or is within one letter of ("dryrun", "Dry_Run"),
// or "".
std::string_view LongOptionNamed(std::string_view name) {
    const std::string letters = LettersOf(name);
    for (const std::string_view option : kLongOptions) {
        if (!letters.empty() && EditDistance(letters, LettersOf(option)) <= 1) {
            return option;
        }
    }
    return {};
}

// The long option a one-dash word was probably meant to be ("-dry-run", "-dryrun", "-all"),
// or "" when it reads as a switch letter and its value.
std::string_view LongOptionWithOneDash(std::string_view word) {
    if (word.size() < 4 || word[1] == '-' || !IsSwitch(word)) {
        return {};
    }
    return LongOptionNamed(word);
}

// The long option a word begun with a typographic dash reads as ("\u2010\u2010dry-run",
// "-\u2013all"), or "".
std::string_view LongOptionWithTypographicDash(std::string_view word) {
    bool leading = false;
    const std::string plain = PlainDashes(word, leading);
    const auto name = plain.find_first_not_of('-');
    if (!leading || name == std::string::npos) {
        return {};
    }
    return LongOptionNamed(std::string_view(plain).substr(name));
}

void Refuse(CommandSwitches& switches, std::string why);

// A word that begins with typographic dashes and reads as a long option ("\u2010\u2010dry-run")
// was meant to be that option: as a value or a word before the switches it would go unseen.
void RefuseTypographicDash(std::string_view word, CommandSwitches& switches) {
    if (const auto meant = LongOptionWithTypographicDash(word); !meant.empty()) {
        Refuse(switches, Quoted(word) +
                             " begins with a typographic dash, not \"-\"; did you mean " +
                             Quoted(meant) + "?");
    }
}

// The rest of the switch word and the words that follow it up to the next switch,
// joined by single blanks; double quotes become blanks, then blanks are stripped.
std::string SwitchValue(std::span<const std::string_view> words, std::size_t& i,
                        CommandSwitches& switches) {
    std::string value(words[i].size() > 2 ? words[i].substr(2) : std::string_view{});
    while (i + 1 < words.size() && !IsSwitch(words[i + 1])) {
        RefuseTypographicDash(words[i + 1], switches);
        if (StartsWithTypographicDash(words[i + 1])) {
            Refuse(switches, Quoted(words[i + 1]) +
                                 " begins with a typographic dash, not \"-\"; type the option "
                                 "with plain dashes");
        }
        value += ' ';
        value += words[++i];
    }
    std::replace(value.begin(), value.end(), '"', ' ');
    return std::string(StripSpaces(value));
}

// --copy, --link and --link=symbolic each say what to do instead of a move; one of them.
void SetTransfer(Transfer transfer, std::string_view word, CommandSwitches& switches) {
    if (switches.transfer != Transfer::Move && switches.transfer != transfer) {
        Refuse(switches, "--copy, --link and --link=symbolic cannot be used together (" +
                             std::string(word) + " was the second); give one");
    }
    switches.transfer = transfer;
}

// Words of two dashes name what a single letter cannot; in any letter case, as the letters.
bool ReadLongSwitch(std::string_view typed, CommandSwitches& switches) {
    const std::string word = LowerCase(typed);
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
        SetTransfer(Transfer::Copy, typed, switches);
    } else if (word == "--link") {
        SetTransfer(Transfer::HardLink, typed, switches);
    } else if (word == "--link=symbolic") {
        SetTransfer(Transfer::SymbolicLink, typed, switches);
    } else if (word == "--no-journal") {
        switches.noJournal = true;
    } else if (word == "--runs") {
        switches.listRuns = true;
    } else if (word == "--resort") {
        switches.resort = true;
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

namespace {

// A one-dash word that reads as a long option: "-dry-run" would be -d "ry-run", "-all" is
// no switch at all.
void RefuseOneDashOption(std::string_view word, std::string_view meant, CommandSwitches& switches) {
    const std::string letter(word.substr(0, 2));
    const std::string rest(word.substr(2));
    switch (SwitchLetter(word)) {
        case 'C':
        case 'E':
        case 'D':
            Refuse(switches, Quoted(word) + " would be " + letter + " " + Quoted(rest) +
                                 "; did you mean " + Quoted(meant) + "? For that value, write " +
                                 letter + " " + Quoted(rest));
            break;
        default:
            Refuse(switches,
                   Quoted(word) + " is not an option; did you mean " + Quoted(meant) + "?");
            break;
    }
}

// "--" with a blank before the option's name: "-- dry-run" would be an unknown switch and
// the name a value nobody meant.
void RefuseDetachedOption(std::span<const std::string_view> words, std::size_t i,
                          CommandSwitches& switches) {
    if (words[i] != "--" || i + 1 == words.size() || IsSwitch(words[i + 1])) {
        return;
    }
    if (const auto meant = LongOptionNamed(words[i + 1]); !meant.empty()) {
        Refuse(switches, Quoted("-- " + std::string(words[i + 1])) +
                             " has a blank after \"--\"; did you mean " + Quoted(meant) + "?");
    }
}

// On Windows a "/" of its own starts a switch, so an unquoted /c Music / Jazz would choose
// the category "Music".
void RefuseUnquotedCategory(std::span<const std::string_view> words, std::size_t i,
                            std::string_view letter, const std::string& value,
                            CommandSwitches& switches) {
    if (!kSlashStartsSwitches || i + 2 >= words.size() || words[i + 1] != "/") {
        return;
    }
    std::string meant = value + " /";
    for (std::size_t next = i + 2; next < words.size() && !IsSwitch(words[next]); ++next) {
        meant += ' ';
        meant += words[next];
    }
    Refuse(switches, "a category with blanks or \"/\" needs quotes: " + std::string(letter) +
                         " \"" + meant + "\", as one word");
}

// A word of two dashes that is not one of the options.
void RefuseUnknownOption(std::string_view word, CommandSwitches& switches) {
    switches.unknownSwitches.emplace_back(word);
    const std::vector<std::string> known(kLongOptions.begin(), kLongOptions.end());
    Refuse(switches,
           "unknown option " + Quoted(word) + DidYouMean(NearestNames(LowerCase(word), known, 1)));
}

}  // namespace

std::span<const std::string_view> LongOptions() { return kLongOptions; }

CommandSwitches ParseSwitches(std::span<const std::string_view> words) {
    CommandSwitches switches;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view word = words[i];
        RefuseTypographicDash(word, switches);
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
        if (LowerCase(word) == "--undo") {
            switches.undo = true;
            // The run's id is the word after it, if any: an id holds no blanks.
            if (i + 1 < words.size() && !IsSwitch(words[i + 1])) {
                switches.undoRun = words[++i];
            }
            continue;
        }
        if (IsLongOption(word)) {
            RefuseUnknownOption(word, switches);
            continue;
        }
        if (const auto meant = LongOptionWithOneDash(word); !meant.empty()) {
            RefuseOneDashOption(word, meant, switches);
        }
        RefuseDetachedOption(words, i, switches);
        std::string value = SwitchValue(words, i, switches);
        switch (SwitchLetter(word)) {
            case 'C':
                RefuseUnquotedCategory(words, i, word.substr(0, 2), value, switches);
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

namespace {

// Where the data files are read from, where the journals are kept and where the guide is.
std::string PlacesText(const HelpPlaces& places) {
    const char separator = platform::kSeparator;
    std::string text;
    if (places.portable) {
        text = "This copy is portable (" + std::string(kPortableMarker) +
               " is beside it): each data file is read\nfrom the program's folder, never from "
               "your data folder:\n";
    } else {
        text =
            "Each data file is read from your data folder when it is there, else from the\n"
            "program's folder:\n";
        if (!places.userDataDirectory.empty()) {
            text += "  " + places.userDataDirectory + "\n";
        }
    }
    text += "  " + places.programDirectory + "\n";
    for (const auto& [name, path] : places.dataFiles) {
        const auto folder = path.substr(0, path.find_last_of(separator));
        text += "  " + name + std::string(12 - std::min<std::size_t>(name.size(), 11), ' ') +
                "read from " + folder + "\n";
    }
    if (!places.runsDirectory.empty()) {
        text += "\nEach move writes a journal (for --runs and --undo) into\n  " +
                places.runsDirectory + "\n";
    }
    text += "\nThe user's guide is " + places.programDirectory + separator + "readme.txt";
#ifdef _WIN32
    return text + ".";
#else
    return text + "; the reference is man lorvex.";
#endif
}

// A collection sorted, then sorted again by a new map, and put back as it was.
std::string ResortExample(const std::string& program) {
    const std::pair<std::string_view, std::string_view> steps[] = {
        {" --all -e new -d sorted", "sorts new into sorted by the map"},
        {" --resort -d sorted --dry-run", "with a new map: what would move"},
        {" --resort -d sorted", "moves only those archives"},
        {" --undo", "puts them back where they were"},
    };
    std::string text = "A sorted tree after a new map:\n";
    for (const auto& [command, what] : steps) {
        const std::string line = "  " + program + std::string(command);
        text +=
            line + std::string(program.size() + 34 - line.size(), ' ') + std::string(what) + "\n";
    }
    return text + "\n";
}

}  // namespace

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
                       " --resort -d destdir [-e searchdir] [-s|-f] [--dry-run]\n" +
                       moveOptions.substr(0, moveOptions.find('[')) + "[--no-journal]\n" + indent +
                       program + " --runs | --undo [RUN] [--dry-run]\n" + indent + program +
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
                       "  --resort      sort destdir, a tree --all filled, again by the current "
                       "map, in\n"
                       "                place: only the archives whose category's folder changed "
                       "move;\n"
                       "                those the map no longer places stay and are named, "
                       "folders\n"
                       "                holding other files are left alone; with -e, then sort\n"
                       "                searchdir into the tree as --all does\n"
                       "  --no-journal  move without writing the run's journal (it cannot be "
                       "undone)\n"
                       "  --runs        list the recent move runs from their journals\n"
                       "  --undo [RUN]  move every archive of a run (the last one not undone) "
                       "back\n"
                       "                where it was, never replacing a file; with --dry-run, "
                       "only\n                say what would go back\n"
                       "  --categories  the map's categories with how many names each has (with "
                       "-e,\n"
                       "                how many of its archives are there), marking those not "
                       "in\n"
                       "                the category list\n"
                       "  --help        show this text\n"
                       "  --version     show the version\n\n"
                       "A value runs up to the next switch. Long options may be written in any "
                       "letter\ncase. A long option lorvex does not know, a switch given twice "
                       "with different\nvalues, or a word that reads as a long option but is "
                       "written with one dash\n(\"-dry-run\"), with typographic dashes or with "
                       "a blank after \"--\" stops the run.\nWithout arguments " +
                       program +
                       " opens its window.\n\n"
                       "Exit status:\n"
                       "  0  the move ran and moved every archive of the category it found\n"
                       "  1  the move ran, but some archives could not be moved, or Ctrl+C "
                       "stopped it\n"
                       "     (with --dry-run: some would not be moved)\n"
                       "  2  nothing was moved: a switch is missing, unknown or given twice, the\n"
                       "     category is not in the list, -c and --all were both given, a "
                       "directory\n"
                       "     or a data file cannot be used, the destination cannot be written, "
                       "or\n"
                       "     --resort was given a folder that is no sorted tree\n\n";
    return text + ResortExample(program) + PlacesText(places);
}

std::string VersionText() { return "lorvex " LORVEX_VERSION; }

}  // namespace lorvex
