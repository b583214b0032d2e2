#include "category_map.h"

#include "text_lines.h"

namespace lorvex {
namespace {

constexpr std::string_view kLastSection = "[VerAdded]";
constexpr int kHeaderLines = 3;

bool IsSkippedLine(std::string_view line) {
    return line.empty() || line.front() == '[' || line.front() == ';';
}

}  // namespace

MapScan ScanCategoryMap(std::string_view text, const MapEntryVisitor& visit,
                        std::string_view* lastLine) {
    TextLines lines(text);
    std::string_view line;
    for (int i = 0; i < kHeaderLines; ++i) {
        if (!lines.Next(line)) {
            return MapScan::MissingHeader;
        }
    }
    std::size_t entryNo = 1;
    MapScan result = MapScan::Complete;
    // The end test looks at the line read last, as it was left by its handling: an entry
    // line is tested after stripping, so "  [VerAdded]" also ends the map.
    while (!lines.AtEnd() && !line.starts_with(kLastSection)) {
        lines.Next(line);
        if (IsSkippedLine(line)) {
            continue;
        }
        line = StripSpaces(line);
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;  // not an entry at all: takes no number
        }
        const MapEntry entry{entryNo++, line.substr(0, equals), line.substr(equals + 1)};
        if (!entry.name.empty() && !visit(entry)) {
            result = MapScan::Stopped;
            break;
        }
    }
    if (lastLine) {
        *lastLine = line;
    }
    return result;
}

}  // namespace lorvex
