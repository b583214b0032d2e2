// Feeds arbitrary bytes to the category map reader and checks what it hands out.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "category_map.h"
#include "fuzz_check.h"
#include "text_lines.h"

namespace {

using lorvex::fuzz::Check;

bool Inside(std::string_view part, std::string_view whole) {
    return part.empty() || (part.data() >= whole.data() &&
                            part.data() + part.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t expected = 1;
    std::size_t stopAt = size % 7;  // also exercise a visitor that stops early
    std::string_view lastLine;
    const auto scan = lorvex::ScanCategoryMap(
        text,
        [&](const lorvex::MapEntry& entry) {
            Check(entry.number >= expected);
            expected = entry.number + 1;
            Check(!entry.name.empty());
            Check(entry.name.find('=') == std::string_view::npos);
            Check(entry.name.front() != ' ');
            Check(entry.category.empty() || entry.category.back() != ' ');
            Check(entry.name.find('\n') == std::string_view::npos);
            Check(entry.category.find('\n') == std::string_view::npos);
            Check(Inside(entry.name, text) && Inside(entry.category, text));
            return stopAt == 0 || --stopAt > 0;
        },
        &lastLine);
    Check(Inside(lastLine, text));
    Check(scan != lorvex::MapScan::Stopped || size % 7 != 0);
    Check(lorvex::StripSpaces(text).size() <= size);
    return 0;
}
