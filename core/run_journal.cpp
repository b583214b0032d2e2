#include "run_journal.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <limits>

namespace lorvex {
namespace {

using namespace std::chrono;

constexpr std::int64_t kSecondsPerDay = 86400;
// Years as far as any file system reaches, with room for the seconds of each to stay in
// 64 bits.
constexpr std::int64_t kFarthestYear = 100'000'000'000;

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

struct CivilDate {
    std::int64_t year;
    unsigned month;  // 1 to 12
    unsigned day;    // 1 to 31
};

// The proleptic Gregorian date of a day since 1970-01-01, for any 64-bit count of days
// (std::chrono's years end at 32767).
CivilDate DateOf(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<std::uint64_t>(days - era * 146097);
    const std::uint64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::uint64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const auto day = static_cast<unsigned>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    const auto month = static_cast<unsigned>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
    return {year, month, day};
}

// The day since 1970-01-01 of a valid date.
std::int64_t DaysOf(const CivilDate& date) {
    const std::int64_t year = date.year - (date.month <= 2);
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<std::uint64_t>(year - era * 400);
    const std::uint64_t dayOfYear =
        (153 * (date.month > 2 ? date.month - 3 : date.month + 9) + 2) / 5 + date.day - 1;
    const std::uint64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

bool IsLeapYear(std::int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

unsigned DaysInMonth(std::int64_t year, unsigned month) {
    constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// The year with at least four digits, and a minus before year 0.
std::string YearText(std::int64_t year) {
    std::string digits = std::to_string(year < 0 ? -year : year);
    digits.insert(0, digits.size() < 4 ? 4 - digits.size() : 0, '0');
    return year < 0 ? "-" + digits : digits;
}

// "2026-12-07 16:41:31" for a second since 1970.
std::string CalendarText(std::int64_t seconds, std::string_view dateTimeSeparator) {
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t rest = seconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    const CivilDate date = DateOf(days);
    const std::string_view colon = dateTimeSeparator.empty() ? "" : ":";
    return YearText(date.year) + "-" + TwoDigits(date.month) + "-" + TwoDigits(date.day) +
           std::string(dateTimeSeparator) + TwoDigits(static_cast<unsigned>(rest / 3600)) +
           std::string(colon) + TwoDigits(static_cast<unsigned>(rest / 60 % 60)) +
           std::string(colon) + TwoDigits(static_cast<unsigned>(rest % 60));
}

}  // namespace

// Paths may hold any byte but NUL; tabs, line ends and backslashes are written as escapes
// so that each record stays one line of tab-separated fields.
void AppendEscaped(std::string& out, std::string_view text) {
    // Paths seldom hold a character to escape: the runs between them are copied whole, and
    // each character is told by one look in a table.
    static constexpr auto kSpecial = [] {
        std::array<bool, 256> special{};
        for (const unsigned char c : {'\\', '\t', '\n', '\r'}) {
            special[c] = true;
        }
        return special;
    }();
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!kSpecial[static_cast<unsigned char>(text[i])]) {
            continue;
        }
        out.append(text, start, i - start);
        out += '\\';
        out += text[i] == '\t' ? 't' : text[i] == '\n' ? 'n' : text[i] == '\r' ? 'r' : '\\';
        start = i + 1;
    }
    out.append(text, start);
}

void AppendModified(std::string& out, fs::FileTime time) {
    // Archives moved together mostly share their second: its calendar text is made once.
    thread_local std::int64_t lastSeconds = -1;
    thread_local std::string lastText;
    if (time.seconds != lastSeconds || lastText.empty()) {
        lastText = CalendarText(time.seconds, " ");
        lastSeconds = time.seconds;
    }
    char digits[] = ".000000000 UTC";
    auto nanoseconds = time.nanoseconds % 1'000'000'000u;
    for (std::size_t at = 9; at > 0; --at, nanoseconds /= 10) {
        digits[at] = static_cast<char>('0' + nanoseconds % 10);
    }
    out += lastText;
    out.append(digits, sizeof digits - 1);
}

std::string JournalHeader(const RunJournalText& run) {
    return "lorvex run\t" + run.id + "\nends\tmarked\nstarted\t" + run.started + "\ncategory\t" +
           Escaped(run.category) + "\nsearch\t" + Escaped(run.searchdir) + "\ndestination\t" +
           Escaped(run.destdir) + "\n";
}

std::string CreatedFolderLine(std::string_view path) { return "created\t" + Escaped(path) + "\n"; }

std::string RemovedFolderLine(std::string_view path) {
    return "removed folder\t" + Escaped(path) + "\n";
}

std::string RecordLine(const RunRecord& record) {
    return std::string(record.made ? kMovedKey : kMovingKey) + "\t" + Escaped(record.moved) + "\t" +
           Escaped(record.original) + "\t" + std::to_string(record.facts.size) + " bytes\t" +
           ReadableModified(record.facts.modified) + "\n";
}

std::string BatchLine(std::uint64_t batch) { return "batch\t" + std::to_string(batch) + "\n"; }

std::string BatchMadeLine(std::uint64_t batch) { return "made\t" + std::to_string(batch) + "\n"; }

std::string EndedLine(std::string_view when) { return "ended\t" + std::string(when) + "\n"; }

std::string WithdrawnLine(std::string_view moved) { return "not moved\t" + Escaped(moved) + "\n"; }

std::string NotBackLine(std::string_view when, std::int64_t count, std::string_view what) {
    return "not back\t" + std::string(when) + "\t" + std::to_string(count) + "\t" +
           std::string(what) + "\n";
}

std::string UndoneLine(std::string_view when, std::string_view what) {
    return "undone\t" + std::string(when) + "\t" + std::string(what) + "\n";
}

namespace {

std::optional<RunRecord> RecordIn(const std::vector<std::string_view>& fields) {
    if (fields.size() != 5 || !fields[3].ends_with(" bytes")) {
        return std::nullopt;
    }
    const auto size = NumberIn<std::uint64_t>(fields[3].substr(0, fields[3].size() - 6));
    const auto modified = ParseModified(fields[4]);
    if (!size || !modified) {
        return std::nullopt;
    }
    return RunRecord{
        Unescaped(fields[1]), Unescaped(fields[2]), {*size, *modified}, fields[0] == kMovedKey};
}

}  // namespace

RunJournalText ParseJournal(std::string_view text) {
    RunJournalText run;
    std::uint64_t batch = 0;  // of the records that follow
    while (!text.empty()) {
        const auto end = text.find('\n');
        if (end == std::string_view::npos || text.substr(0, end).find('\0') != text.npos) {
            // A line cut short by a run that was killed, or what a power cut left of one.
            run.unreadable += text.substr(0, end).find_first_not_of('\0') != text.npos;
            if (end == std::string_view::npos) {
                break;
            }
            text.remove_prefix(end + 1);
            continue;
        }
        const auto fields = Fields(text.substr(0, end));
        text.remove_prefix(end + 1);
        const std::string_view key = fields[0];
        if (key == kMovedKey || key == kMovingKey) {
            if (auto record = RecordIn(fields)) {
                record->batch = record->made ? 0 : batch;
                run.records.push_back(std::move(*record));
            } else {
                ++run.unreadable;
            }
            continue;
        }
        if (fields.size() < 2) {
            continue;
        }
        if (key == "lorvex run") {
            run.id = fields[1];
        } else if (key == "ends") {
            run.marksEnd = true;
        } else if (key == "ended") {
            run.ended = true;
        } else if (key == "batch") {
            batch = NumberIn<std::uint64_t>(fields[1]).value_or(0);
        } else if (key == "made") {
            const auto made = NumberIn<std::uint64_t>(fields[1]);
            for (auto& record : run.records) {
                record.made = record.made || (made && record.batch == *made);
            }
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
        } else if (key == "removed folder") {
            run.removedFolders.push_back(Unescaped(fields[1]));
        } else if (key == "not back" && fields.size() > 2) {
            run.notBack = NumberIn<std::int64_t>(fields[2]).value_or(0);
        } else if (key == "undone") {
            run.undone.push_back(std::string(fields[1]) +
                                 (fields.size() > 2 ? ": " + std::string(fields[2]) : ""));
        } else if (key == "not moved") {
            const std::string moved = Unescaped(fields[1]);
            std::erase_if(run.records, [&](const RunRecord& r) { return r.moved == moved; });
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

std::string ReadableModified(fs::FileTime time) {
    std::string out;
    AppendModified(out, time);
    return out;
}

std::optional<fs::FileTime> ParseModified(std::string_view text) {
    // [-]YYYY-MM-DD HH:MM:SS.NNNNNNNNN UTC, the year of four digits or more
    constexpr std::string_view kTail = " UTC";
    if (!text.ends_with(kTail) || text.size() < 33) {
        return std::nullopt;
    }
    text.remove_suffix(kTail.size());
    const std::string_view clock = text.substr(text.size() - 18);  // HH:MM:SS.NNNNNNNNN
    std::string_view date = text.substr(0, text.size() - 19);
    if (text[text.size() - 19] != ' ' || clock[2] != ':' || clock[5] != ':' || clock[8] != '.' ||
        date.size() < 10 || date[date.size() - 3] != '-' || date[date.size() - 6] != '-') {
        return std::nullopt;
    }
    const bool beforeYearZero = date.starts_with('-');
    if (beforeYearZero) {
        date.remove_prefix(1);
    }
    const std::string_view yearDigits = date.substr(0, date.size() - 6);
    const auto year = NumberIn<std::int64_t>(yearDigits);
    const auto month = NumberIn<unsigned>(date.substr(date.size() - 5, 2));
    const auto day = NumberIn<unsigned>(date.substr(date.size() - 2));
    const auto hours = NumberIn<unsigned>(clock.substr(0, 2));
    const auto minutes = NumberIn<unsigned>(clock.substr(3, 2));
    const auto seconds = NumberIn<unsigned>(clock.substr(6, 2));
    const auto fraction = NumberIn<std::uint32_t>(clock.substr(9));
    if (!year || !month || !day || !hours || !minutes || !seconds || !fraction ||
        yearDigits.size() < 4 || !std::isdigit(static_cast<unsigned char>(yearDigits[0])) ||
        *year > kFarthestYear || *month < 1 || *month > 12 || *hours > 23 || *minutes > 59 ||
        *seconds > 59) {
        return std::nullopt;
    }
    const CivilDate civil{beforeYearZero ? -*year : *year, *month, *day};
    if (*day < 1 || *day > DaysInMonth(civil.year, civil.month)) {
        return std::nullopt;
    }
    return fs::FileTime{DaysOf(civil) * kSecondsPerDay + *hours * 3600 + *minutes * 60 + *seconds,
                        *fraction};
}

}  // namespace lorvex
