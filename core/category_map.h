// Reader of the category map: three header lines, then entry lines "name=category",
// with section, comment and empty lines between them, up to the "[VerAdded]" line.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace lorvex {

struct MapEntry {
    std::size_t number;  // entry lines count from 1 in file order
    std::string_view name;
    std::string_view category;
};

enum class MapScan {
    Complete,       // read to the end or to the "[VerAdded]" line
    Stopped,        // the visitor asked to stop
    MissingHeader,  // fewer than three lines
};

// Returns false to stop the scan.
using MapEntryVisitor = std::function<bool(const MapEntry&)>;

// Calls `visit` for every entry with a non-empty name, in file order. Does no I/O.
// `lastLine` (if given) receives the line read last, as the scan left it.
MapScan ScanCategoryMap(std::string_view text, const MapEntryVisitor& visit,
                        std::string_view* lastLine = nullptr);

}  // namespace lorvex
