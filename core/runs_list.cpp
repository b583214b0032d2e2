#include "runs_list.h"

#include <ctime>
#include <initializer_list>
#include <utility>
#include <vector>

#include "run_journal.h"
#include "text_columns.h"

namespace lorvex {
namespace {

std::tm LocalCalendar(std::time_t when) {
    std::tm calendar{};
#ifdef _WIN32
    localtime_s(&calendar, &when);
#else
    localtime_r(&when, &calendar);
#endif
    return calendar;
}

std::string Counts(const RunLine& run) {
    return std::to_string(run.moved) + " moved, " + std::to_string(run.stillThere) +
           " still there" + (run.undone ? ", undone" : "") +
           (run.notBack > 0 ? ", " + std::to_string(run.notBack) + " not back" : "");
}

// `text` broken at blanks into pieces of at most `room` columns where it can be; a word
// wider than that stays whole.
std::vector<std::string> Words(const std::string& text, int room) {
    std::vector<std::string> pieces;
    std::string piece;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = std::min(text.find(' ', start), text.size());
        const std::string word = text.substr(start, end - start);
        if (!piece.empty() && ColumnsTaken(piece) + 1 + ColumnsTaken(word) > room) {
            pieces.push_back(std::exchange(piece, {}));
        }
        piece += (piece.empty() ? "" : " ") + word;
        start = end + 1;
    }
    pieces.push_back(piece);
    return pieces;
}

// `parts` joined by two blanks, a part that would pass `room` starting a line of its own,
// indented by two, and one wider than a line broken at its blanks.
std::string Packed(std::initializer_list<std::string> whole, int room) {
    std::vector<std::string> parts;
    for (const std::string& part : whole) {
        if (part.empty()) {
            continue;
        }
        const auto pieces =
            ColumnsTaken(part) > room - 2 ? Words(part, room - 2) : std::vector<std::string>{part};
        parts.insert(parts.end(), pieces.begin(), pieces.end());
    }
    std::string text;
    int used = 0;
    for (const std::string& part : parts) {
        const int width = ColumnsTaken(part);
        if (text.empty()) {
            text = part;
            used = width;
        } else if (used + 2 + width <= room) {
            text += "  " + part;
            used += 2 + width;
        } else {
            text += "\n  " + part;
            used = 2 + width;
        }
    }
    return text;
}

// One run: "id  time  category  -> destdir  counts", or on a narrow terminal the id, time
// and counts first (on as many lines as they need) and then, indented, where the run went.
std::string RunText(const RunLine& run, int columns) {
    const std::string when = LocalTimeOf(run.started);
    const std::string where = run.category + "  -> " + PathsAsWritten(run.destdir);
    const std::string counts = Counts(run);
    const std::string note = run.note.empty() ? "" : ", " + run.note;
    const std::string line = run.id + "  " + when + "  " + where + "  " + counts + note;
    const int room = columns - 1;  // the last column stays empty, so no terminal wraps
    if (columns <= 0 || ColumnsTaken(line) <= room) {
        return line + "\n";
    }
    return Packed({run.id, when, counts + (note.empty() ? "" : ","), run.note}, room) + "\n  " +
           ShortenedInTheMiddle(where, room - 2) + "\n";
}

}  // namespace

std::string LocalTimeOf(std::string_view utc) {
    constexpr std::string_view kTail = " UTC";
    if (!utc.ends_with(kTail)) {
        return std::string(utc);
    }
    std::string exact(utc.substr(0, utc.size() - kTail.size()));
    const auto time = ParseModified(exact + ".000000000" + std::string(kTail));
    if (!time) {
        return std::string(utc);
    }
    const std::tm calendar = LocalCalendar(static_cast<std::time_t>(time->seconds));
    char text[32] = {};
    return std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &calendar) > 0 ? text
                                                                                : std::string(utc);
}

std::string PathsAsWritten(std::string_view text) {
    std::string written(text);
#ifdef _WIN32
    // No path a user writes holds "\\?\": "?" is no character of a Windows file name.
    for (const auto& [verbatim, plain] :
         {std::pair<std::string_view, std::string_view>{"\\\\?\\UNC\\", "\\\\"}, {"\\\\?\\", ""}}) {
        for (auto at = written.find(verbatim); at != std::string::npos;
             at = written.find(verbatim, at + plain.size())) {
            written.replace(at, verbatim.size(), plain);
        }
    }
#endif
    return written;
}

std::string RunsListing(std::span<const RunLine> runs, int columns) {
    std::string text;
    for (const RunLine& run : runs) {
        text += RunText(run, columns);
    }
    if (!text.empty()) {
        text.pop_back();
    }
    return text;
}

}  // namespace lorvex
