// The small set of operating-system services lorvex needs: the program directory,
// measuring a file, creating a directory and moving a file without replacing anything.
// One implementation file per platform (platform_posix.cpp, platform_windows.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lorvex::platform {

#ifdef _WIN32
inline constexpr char kSeparator = '\\';
inline constexpr std::string_view kExecutableName = "lorvex.exe";
#else
inline constexpr char kSeparator = '/';
inline constexpr std::string_view kExecutableName = "lorvex";
#endif

// True for a character that may not appear in a single file name.
bool IsSeparator(char c);

// The words of the command line after the program's name, in UTF-8.
std::vector<std::string> CommandLineWords(int argc, char** argv);

// True when standard input is a terminal, so a person is there to read the console.
bool StandardInputIsTerminal();

// True when standard error is a terminal, so a line redrawn in place is seen as one.
bool StandardErrorIsTerminal();

// Directory of the running executable, symlinks resolved, without a trailing separator.
std::string ProgramDirectory();

// Length in bytes of a regular file, or of the regular file a symbolic link names; nothing
// for a missing name, a dangling link, a directory or any failure.
std::optional<std::uint64_t> RegularFileLength(const std::string& path);

// The operating system's reason for a failure, e.g. "File exists".
struct Failure {
    std::string reason;
};

// Fails unless `path` is a directory whose files can be looked up by name.
std::optional<Failure> CheckSearchableDirectory(const std::string& path);

// True when both names lead to one and the same directory, however they are spelled
// (compared by device and inode, or volume and file ID); false when either cannot be reached.
bool IsSameDirectory(const std::string& first, const std::string& second);

// Creates one directory. Succeeds when the directory already exists; fails when the
// parent is missing or something that is not a directory stands under that name.
std::optional<Failure> MakeDirectory(const std::string& path);

// Moves a file to a new name and never replaces an existing file. Across file systems
// the data is copied to a temporary name beside the target, flushed, put in place and
// only then is the source removed, so an interrupted move never loses the archive.
// A symbolic link is moved as the link itself: nothing is ever read through it.
std::optional<Failure> MoveFileNoReplace(const std::string& from, const std::string& to);

// Marker at the end of the temporary name of a copy in progress; such a file never
// ends in ".zip", so it is never taken for an archive.
inline constexpr std::string_view kPartialSuffix = ".lorvex-partial";

// Reads a whole file. Throws DataFileError naming the file and the reason.
std::string ReadWholeFile(const std::string& path, std::string_view what);

}  // namespace lorvex::platform
