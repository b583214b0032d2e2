// Feeds arbitrary bytes to the category list reader and checks every field it yields.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "category_list.h"
#include "fuzz_check.h"

using lorvex::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const char* previousEnd = text.data();
    std::size_t total = 0;
    lorvex::ForEachCategory(text, [&](std::string_view field) {
        Check(!field.empty());
        // Fields come in file order, never overlap and stay inside the text.
        Check(field.data() >= previousEnd);
        Check(field.data() + field.size() <= text.data() + text.size());
        previousEnd = field.data() + field.size();
        // Only a quoted field keeps spaces at its ends.
        const bool quoted = field.data() > text.data() && field.data()[-1] == '"';
        Check(quoted || (field.front() != ' ' && field.back() != ' '));
        Check(field.find_first_of("\r\n") == std::string_view::npos);
        total += field.size();
    });
    Check(total <= size);
    return 0;
}
