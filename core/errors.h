// Errors that stop an action before it can do its work (a data file that cannot be read,
// a destination that cannot be made). Front ends show what() and carry on or exit.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace lorvex {

class LorvexError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A data file beside the executable is missing, unreadable or malformed.
class DataFileError : public LorvexError {
public:
    using LorvexError::LorvexError;
};

// An error in what a control of the window holds (a destination that cannot be made): a
// window puts the focus there, for the user to fix it.
class FieldError : public LorvexError {
public:
    FieldError(const std::string& message, std::string_view control)
        : LorvexError(message), control_(control) {}
    std::string_view Control() const { return control_; }

private:
    std::string_view control_;  // a name of kForm1Controls
};

std::string Quoted(std::string_view text);

// `text` as a box shows it, a sentence of its own: its first letter in upper case. Errors
// begin in lower case, as a command line's do, and always with an ASCII word.
std::string AsSentence(std::string_view text);

}  // namespace lorvex
