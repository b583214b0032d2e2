// The small set of operating-system services lorvex needs: the program's arguments and
// directory, measuring a file, creating a directory and moving a file without replacing
// anything. One implementation file per platform (platform_posix.cpp, platform_windows.cpp).
// Text is UTF-8 on every platform; the Windows layer converts at its API calls.
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

// True when `name` can only name a plain file inside a directory: it holds no separator
// or NUL, and on Windows no drive or stream colon, control character, wildcard or
// reserved device name (CON, NUL, COM1...), so that no map entry reaches elsewhere.
bool IsPlainFileName(std::string_view name);

// The program's command-line words, its own name first. POSIX passes them in `argv`;
// Windows reads its wide command line instead, so that any name arrives intact as UTF-8.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Directory of the running executable, symlinks resolved, without a trailing separator.
std::string ProgramDirectory();

// Length in bytes of a regular file; nothing for a missing name, a directory or any failure.
std::optional<std::uint64_t> RegularFileLength(const std::string& path);

// The operating system's reason for a failure, e.g. "File exists".
struct Failure {
    std::string reason;
};

// Fails unless `path` is a directory whose files can be looked up by name.
std::optional<Failure> CheckSearchableDirectory(const std::string& path);

// Creates one directory. Succeeds when the directory already exists; fails when the
// parent is missing or something that is not a directory stands under that name.
std::optional<Failure> MakeDirectory(const std::string& path);

// Moves a file to a new name and never replaces an existing file. Across file systems
// the data is copied to a temporary name beside the target, flushed, put in place and
// only then is the source removed, so an interrupted move never loses the archive.
std::optional<Failure> MoveFileNoReplace(const std::string& from, const std::string& to);

// Marker at the end of the temporary name of a copy in progress; such a file never
// ends in ".zip", so it is never taken for an archive.
inline constexpr std::string_view kPartialSuffix = ".lorvex-partial";

// Reads a whole file. Throws DataFileError naming the file and the reason.
std::string ReadWholeFile(const std::string& path, std::string_view what);

}  // namespace lorvex::platform
