// Splits arbitrary bytes at NUL into command-line words and checks the parsed switches.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "fuzz_check.h"

namespace {

using lorvex::fuzz::Check;

void CheckValue(const std::string& value) {
    Check(value.find('"') == std::string::npos);
    Check(value.empty() || (value.front() != ' ' && value.back() != ' '));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> words;
    std::size_t switches = 0;
    for (std::size_t begin = 0; begin <= size;) {
        const std::size_t end = std::min(text.find('\0', begin), size);
        words.push_back(text.substr(begin, end - begin));
        switches += words.back().starts_with('-') ? 1 : 0;
        begin = end + 1;
    }
    const lorvex::CommandSwitches parsed = lorvex::ParseSwitches(words);
    CheckValue(parsed.cmdCategory);
    CheckValue(parsed.cmdSearchDir);
    CheckValue(parsed.cmdDestDir);
    Check(parsed.unknownSwitches.size() <= switches);
    for (const auto& unknown : parsed.unknownSwitches) {
        Check(unknown.starts_with('-'));
    }
    return 0;
}
