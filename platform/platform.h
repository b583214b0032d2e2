// The operating-system services lorvex needs besides the file system of a run
// (system_file_system.h): the program's words, directory and name, the user's folders,
// and reading a data file. The terminal and requests to stop are in terminal.h. One
// implementation per system: platform_posix.cpp and platform_windows.cpp.
// Text is UTF-8 on every platform; the Windows layer converts at its API calls.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lorvex::platform {

#ifdef _WIN32
inline constexpr char kSeparator = '\\';
// Every character that separates the levels of a path a user or the system may write.
inline constexpr std::string_view kSeparators = "\\/";
inline constexpr std::string_view kExecutableName = "lorvex.exe";
#else
inline constexpr char kSeparator = '/';
inline constexpr std::string_view kSeparators = "/";
inline constexpr std::string_view kExecutableName = "lorvex";
#endif

// True for a character of kSeparators, by comparison: searching the set would cost a
// library call for every character of a path.
constexpr bool IsSeparator(char c) { return c == '/' || (kSeparators.size() > 1 && c == '\\'); }

// Where the last separator of `path` is, or npos.
constexpr std::size_t LastSeparator(std::string_view path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (IsSeparator(path[i - 1])) {
            return i - 1;
        }
    }
    return std::string_view::npos;
}

// True when `name` can only name a plain file inside a directory: it holds no separator
// or NUL, and on Windows no drive or stream colon, control character, wildcard or
// reserved device name (CON, NUL, COM1...), so that no map entry reaches elsewhere.
bool IsPlainFileName(std::string_view name);

// The words of the command line after the program's name, in UTF-8. POSIX passes them in
// `argv`; Windows reads its wide command line instead, so that any name arrives intact.
std::vector<std::string> CommandLineWords(int argc, char** argv);

// Directory of the running executable, symlinks resolved, without a trailing separator.
std::string ProgramDirectory();

// The program's name as usages show it: "lorvex"; on Windows "lorvex.com" or "lorvex.exe",
// whichever is running.
std::string ExecutableName();

// The user's own folder for lorvex's data files, whether or not it exists:
// $XDG_DATA_HOME/lorvex (by default ~/.local/share/lorvex), or %APPDATA%\lorvex on Windows;
// "" when the environment names no such place.
std::string UserDataDirectory();

// The user's own folder for what lorvex keeps between runs (the journals of moves), whether
// or not it exists: $XDG_STATE_HOME/lorvex (by default ~/.local/state/lorvex), or
// %LOCALAPPDATA%\lorvex on Windows; "" when the environment names no such place.
std::string UserStateDirectory();

// True when anything at all stands under `path` (a file, a directory, a link).
bool EntryExists(const std::string& path);

// The operating system's reason for a failure, e.g. "File exists".
struct Failure {
    std::string reason;
};

// Fails unless `path` is a directory whose files can be looked up by name.
std::optional<Failure> CheckSearchableDirectory(const std::string& path);

// True when both names lead to one and the same directory, however they are spelled
// (compared by device and inode, or volume and file ID); false when either cannot be reached.
bool IsSameDirectory(const std::string& first, const std::string& second);

// `path` from the root: relative to the current directory when it is not already.
std::string AbsolutePath(const std::string& path);

// A whole file's bytes, in a buffer that is never filled with zeros first: a map runs to
// megabytes, and the read fills it anyway.
class FileText {
public:
    FileText() = default;
    FileText(std::unique_ptr<char[]> bytes, std::size_t size)
        : bytes_(std::move(bytes)), size_(size) {}
    // A copy of `text`.
    explicit FileText(std::string_view text) : bytes_(new char[text.size()]), size_(text.size()) {
        std::copy(text.begin(), text.end(), bytes_.get());
    }
    std::string_view view() const { return {bytes_.get(), size_}; }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0;
};

// Reads a whole regular file into `text` (a data file: on Windows turned into UTF-8);
// the reason when it cannot.
std::optional<Failure> ReadWholeFile(const std::string& path, FileText& text);

}  // namespace lorvex::platform
