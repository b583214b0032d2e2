// Shared helpers for lorvex's tests: temporary directories, files, running the program.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace lorvex::test {

namespace fs = std::filesystem;

// The separator lorvex appends to directories.
inline constexpr char kSeparator = static_cast<char>(fs::path::preferred_separator);

// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const fs::path& path() const { return path_; }
    // The path as a string with a trailing separator, as lorvex keeps directories.
    std::string dir() const { return path_.string() + kSeparator; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

// Paths from and to UTF-8, which is how lorvex holds names everywhere. (The standard
// library's narrow path strings are in the ANSI code page on Windows.)
fs::path PathFromUtf8(const std::string& text);
std::string Utf8(const fs::path& path);

void WriteFile(const fs::path& path, const std::string& contents);
std::string ReadFile(const fs::path& path);
// Names of the entries of a directory in UTF-8, sorted.
std::vector<std::string> ListDirectory(const fs::path& directory);

// A fresh directory on another file system than `besides`, removed with this object, when
// there is one: on Linux in /dev/shm when that is a file system of its own, on Windows on
// drive X:, which the tests' wine session puts on a tmpfs.
class OtherFileSystemDirectory {
public:
    explicit OtherFileSystemDirectory(const fs::path& besides);
    OtherFileSystemDirectory(const OtherFileSystemDirectory&) = delete;
    OtherFileSystemDirectory& operator=(const OtherFileSystemDirectory&) = delete;
    ~OtherFileSystemDirectory();
    bool found() const { return !path_.empty(); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// A category map with the usual three header lines before `body`.
std::string MapWithHeader(const std::string& body);

// A program directory holding the data files of tests/data (two category lists and
// two maps over "Night Ferries", "Saltmarsh", "Gas 2024" and "Slow Tide"), with a
// search directory beside it and the path of a destination not yet made.
class ProgramFiles {
public:
    ProgramFiles();
    // Replaces the Full Lists map with the usual header and `body`.
    void WriteMap(const std::string& body) const;
    void WriteArchive(const std::string& name, const std::string& contents = "PK data") const;
    // `count` archives "album N.zip" of "Music / Jazz", the map's only entries and the only
    // archives in the search directory.
    void WriteAlbums(int count) const;
    // The first `count` albums already in the destination (made if missing), so that their
    // moves fail.
    void TakeAlbumNames(int count, const std::string& contents) const;

    TempDir root;
    fs::path program = root / "app";
    fs::path search = root / "in";
    fs::path dest = root / "out";
};

struct RunResult {
    int exitStatus = -1;
    std::string out;  // with LF line ends; lorvex.com writes CR LF, which rawOut keeps
    std::string rawOut;
    std::string err;
    bool timedOut = false;  // killed when its time limit ran out
};

// The operating system's words for the failures tests provoke, as lorvex reports them:
// a name that is already taken, and a file or directory that is not there.
std::string FileExistsReason();
std::string NoSuchFileReason();

// The environment for a program under test: this process's, without any display, plus
// `extra`. A run without a terminal would otherwise wait at a message box.
std::vector<std::string> ProgramEnvironment(const std::vector<std::string>& extra = {});

// The null-terminated array of pointers that execve takes, into `strings` (POSIX).
std::vector<char*> ExecArray(std::vector<std::string>& strings);

// Runs a program with arguments, no shell, stdin from /dev/null (NUL), and waits for it; a
// program still running after `limit` is killed, so a hang fails a test instead of the suite.
RunResult Run(const std::string& program, const std::vector<std::string>& arguments,
              const std::vector<std::string>& extraEnvironment = {},
              std::chrono::seconds limit = std::chrono::seconds(120));

// The variable that names the user's state folder, where runs keep their journals.
#ifdef _WIN32
inline constexpr const char* kStateVariable = "LOCALAPPDATA";
#else
inline constexpr const char* kStateVariable = "XDG_STATE_HOME";
#endif
// "XDG_STATE_HOME=<folder>" (LOCALAPPDATA on Windows), for a program under test; and the
// folder of the journals under it.
std::string StateEnvironment(const fs::path& folder);
fs::path RunsFolder(const fs::path& folder);

// The built lorvex executable.
std::string LorvexExecutable();

}  // namespace lorvex::test
