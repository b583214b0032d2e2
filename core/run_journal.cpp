#include "run_journal.h"

#include <charconv>
#include <cstdio>
#include <limits>

namespace lorvex {
namespace {

using namespace std::chrono;

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

std::string Escaped(std::string_view text) {
    std::string out;
    AppendEscaped(out, text);
    return out;
}

std::string Unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[++i]) {
            case 't':
                out += '\t';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                out += text[i];
        }
    }
    return out;
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const auto tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) {
            return fields;
        }
        line.remove_prefix(tab + 1);
    }
}

template <class Number>
std::optional<Number> NumberIn(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string TwoDigits(unsigned value) {
    char digits[3] = {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10),
                      '\0'};
    return digits;
}

// "2026-12-07 16:41:31" for a second since 1970.
std::string CalendarText(std::int64_t seconds, std::string_view dateTimeSeparator) {
    const sys_seconds when{std::chrono::seconds(seconds)};
    const auto day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss time{when - day};
    return std::to_string(static_cast<int>(date.year())) + "-" +
           TwoDigits(static_cast<unsigned>(date.month())) + "-" +
           TwoDigits(static_cast<unsigned>(date.day())) + std::string(dateTimeSeparator) +
           TwoDigits(static_cast<unsigned>(time.hours().count())) +
           (dateTimeSeparator.empty() ? "" : ":") +
           TwoDigits(static_cast<unsigned>(time.minutes().count())) +
           (dateTimeSeparator.empty() ? "" : ":") +
           TwoDigits(static_cast<unsigned>(time.seconds().count()));
}

}  // namespace

// Paths may hold any byte but NUL; tabs, line ends and backslashes are written as escapes
// so that each record stays one line of tab-separated fields.
void AppendEscaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
}

void AppendModified(std::string& out, std::int64_t nanoseconds) {
    std::int64_t seconds = nanoseconds / kNanosecondsPerSecond;
    std::int64_t fraction = nanoseconds % kNanosecondsPerSecond;
    if (fraction < 0) {
        fraction += kNanosecondsPerSecond;
        --seconds;
    }
    // Archives moved together mostly share their second: its calendar text is made once.
    thread_local std::int64_t lastSeconds = -1;
    thread_local std::string lastText;
    if (seconds != lastSeconds || lastText.empty()) {
        lastText = CalendarText(seconds, " ");
        lastSeconds = seconds;
    }
    char digits[16];
    std::snprintf(digits, sizeof digits, ".%09lld UTC", static_cast<long long>(fraction));
    out += lastText;
    out += digits;
}

std::string JournalHeader(const RunJournalText& run) {
    return "lorvex run\t" + run.id + "\nstarted\t" + run.started + "\ncategory\t" +
           Escaped(run.category) + "\nsearch\t" + Escaped(run.searchdir) + "\ndestination\t" +
           Escaped(run.destdir) + "\n";
}

std::string CreatedFolderLine(std::string_view path) { return "created\t" + Escaped(path) + "\n"; }

std::string RecordLine(const RunRecord& record) {
    return "moved\t" + Escaped(record.moved) + "\t" + Escaped(record.original) + "\t" +
           std::to_string(record.facts.size) + " bytes\t" +
           ReadableModified(record.facts.modified) + "\n";
}

std::string WithdrawnLine(std::string_view moved) { return "not moved\t" + Escaped(moved) + "\n"; }

std::string UndoneLine(std::string_view when, std::string_view what) {
    return "undone\t" + std::string(when) + "\t" + std::string(what) + "\n";
}

RunJournalText ParseJournal(std::string_view text) {
    RunJournalText run;
    while (!text.empty()) {
        const auto end = text.find('\n');
        if (end == std::string_view::npos) {
            break;  // a line cut short by a run that was killed
        }
        const auto fields = Fields(text.substr(0, end));
        text.remove_prefix(end + 1);
        const std::string_view key = fields[0];
        if (fields.size() < 2) {
            continue;
        }
        if (key == "lorvex run") {
            run.id = fields[1];
        } else if (key == "started") {
            run.started = fields[1];
        } else if (key == "category") {
            run.category = Unescaped(fields[1]);
        } else if (key == "search") {
            run.searchdir = Unescaped(fields[1]);
        } else if (key == "destination") {
            run.destdir = Unescaped(fields[1]);
        } else if (key == "created") {
            run.createdFolders.push_back(Unescaped(fields[1]));
        } else if (key == "undone") {
            run.undone.push_back(std::string(fields[1]) +
                                 (fields.size() > 2 ? ": " + std::string(fields[2]) : ""));
        } else if (key == "not moved") {
            const std::string moved = Unescaped(fields[1]);
            std::erase_if(run.records, [&](const RunRecord& r) { return r.moved == moved; });
        } else if (key == "moved" && fields.size() == 5 && fields[3].ends_with(" bytes")) {
            const auto size = NumberIn<std::uint64_t>(fields[3].substr(0, fields[3].size() - 6));
            const auto modified = ParseModified(fields[4]);
            if (size && modified) {
                run.records.push_back(
                    {Unescaped(fields[1]), Unescaped(fields[2]), {*size, *modified}});
            }
        }
    }
    return run;
}

std::string RunIdAt(system_clock::time_point when) {
    const auto seconds = floor<std::chrono::seconds>(when).time_since_epoch().count();
    std::string text = CalendarText(seconds, "-");  // 2026-12-07-16:41:31
    std::erase(text, ':');
    text.erase(7, 1);
    return text.erase(4, 1);
}

std::string ReadableTime(system_clock::time_point when) {
    return CalendarText(floor<std::chrono::seconds>(when).time_since_epoch().count(), " ") + " UTC";
}

std::string ReadableModified(std::int64_t nanoseconds) {
    std::string out;
    AppendModified(out, nanoseconds);
    return out;
}

std::optional<std::int64_t> ParseModified(std::string_view text) {
    // YYYY-MM-DD HH:MM:SS.NNNNNNNNN UTC, the year of any length
    constexpr std::string_view kTail = " UTC";
    if (!text.ends_with(kTail) || text.size() < 33) {
        return std::nullopt;
    }
    text.remove_suffix(kTail.size());
    const std::string_view clock = text.substr(text.size() - 18);  // HH:MM:SS.NNNNNNNNN
    const std::string_view date = text.substr(0, text.size() - 19);
    if (text[text.size() - 19] != ' ' || clock[2] != ':' || clock[5] != ':' || clock[8] != '.' ||
        date.size() < 10 || date[date.size() - 3] != '-' || date[date.size() - 6] != '-') {
        return std::nullopt;
    }
    // Four-digit years and no signs: every time a file system gives, and nothing that
    // would overflow the count of nanoseconds.
    const auto year = NumberIn<unsigned>(date.substr(0, date.size() - 6));
    const auto month = NumberIn<unsigned>(date.substr(date.size() - 5, 2));
    const auto day = NumberIn<unsigned>(date.substr(date.size() - 2));
    const auto hours = NumberIn<unsigned>(clock.substr(0, 2));
    const auto minutes = NumberIn<unsigned>(clock.substr(3, 2));
    const auto seconds = NumberIn<unsigned>(clock.substr(6, 2));
    const auto fraction = NumberIn<std::uint64_t>(clock.substr(9));
    if (!year || !month || !day || !hours || !minutes || !seconds || !fraction ||
        date.size() != 10 || *year < 1000 || *hours > 23 || *minutes > 59 || *seconds > 59) {
        return std::nullopt;
    }
    const year_month_day date_{std::chrono::year{static_cast<int>(*year)},
                               std::chrono::month{*month}, std::chrono::day{*day}};
    if (!date_.ok()) {
        return std::nullopt;
    }
    const std::int64_t total = sys_days{date_}.time_since_epoch().count() * 86400 + *hours * 3600 +
                               *minutes * 60 + *seconds;
    // Nanoseconds since 1970 reach from 1677 to 2262.
    constexpr std::int64_t kLimit =
        std::numeric_limits<std::int64_t>::max() / kNanosecondsPerSecond - 1;
    if (total > kLimit || total < -kLimit) {
        return std::nullopt;
    }
    return total * kNanosecondsPerSecond + static_cast<std::int64_t>(*fraction);
}

}  // namespace lorvex
