#include "errors.h"

namespace lorvex {

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::string AsSentence(std::string_view text) {
    std::string sentence(text);
    if (!sentence.empty() && sentence.front() >= 'a' && sentence.front() <= 'z') {
        sentence.front() = static_cast<char>(sentence.front() - 'a' + 'A');
    }
    return sentence;
}

}  // namespace lorvex
