// Moves that go wrong on purpose, on real directories and file systems: after each one
// every archive must be whole in the search directory or the destination, and each
// failure must be named in the report.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>

#include "child_process.h"
#include "form1.h"
#include "mounts.h"
#include "pass_report.h"
#include "platform.h"
#include "test_support.h"

namespace lorvex {
namespace {

namespace fs = std::filesystem;
using test::ChildProcess;
using test::ListDirectory;
using test::ReadFile;
using test::TempDir;
using test::Tmpfs;
using test::WriteFile;
using Names = std::vector<std::string>;
using Failures = std::map<std::string, std::string>;  // archive -> reason

constexpr const char* kCategory = "Fault";

dev_t DeviceOf(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

// Bytes of an archive, different for every name and size.
std::string ArchiveBytes(const std::string& name, std::size_t size) {
    std::mt19937 bytes(static_cast<unsigned>(std::hash<std::string>{}(name)));
    std::string contents = "PK\x03\x04" + name;
    while (contents.size() < size) {
        contents.push_back(static_cast<char>(bytes()));
    }
    contents.resize(size);
    return contents;
}

// "album.zip: reason" lines of a report.
Failures FailuresInReport(const std::string& report) {
    Failures failures;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        const auto colon = line.find(".zip: ");
        if (colon != std::string::npos) {
            failures[line.substr(0, colon + 4)] = line.substr(colon + 6);
        }
    }
    return failures;
}

// What a pass in this process did, as the tests compare it.
struct PassOutcome {
    std::int64_t moved = 0;
    Failures failures;
    std::string report;
};

// A program directory with data files listing every archive under one category, a search
// directory with the archives and a destination to move them to.
class FaultInjection : public ::testing::Test {
protected:
    FaultInjection() {
        fs::permissions(root.path(),
                        fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
        fs::create_directory(program);
        fs::create_directory(search);
    }

    void AddArchive(const std::string& name, std::size_t size) {
        archives[name + ".zip"] = ArchiveBytes(name, size);
        order.push_back(name);
    }

    void WriteArchivesAndData(const fs::path& into) {
        for (const auto& [file, contents] : archives) {
            WriteFile(into / file, contents);
        }
        WriteData();
    }

    void WriteData() {
        WriteFile(program / "cats.txt", std::string(kCategory) + "\r\nOther\r\n");
        std::string map = "Other Name=Other\r\n";
        for (const auto& name : order) {
            map += name + "=" + kCategory + "\r\n";
        }
        WriteFile(program / "lorvex.ini", test::MapWithHeader(map));
        WriteFile(program / "cats2.txt", "Other\r\n");
        WriteFile(program / "lorvex2.ini", test::MapWithHeader(""));
    }

    // The move action of the window, run in this process.
    PassOutcome Pass(const fs::path& from, const fs::path& to, PassProgress* progress = nullptr) {
        Form1 form(program.string());
        form.SetPassProgress(progress);
        form.Form_Load();
        form.Combo1.SetListIndex(0);
        form.Start.SetText(from.string());
        form.Endd.SetText(to.string());
        form.Command2_Click();
        PassOutcome result{form.LastPass().moved, {}, MoveReportParts(form.LastPass()).full};
        for (const auto& failure : form.LastPass().failed) {
            result.failures[failure.archive] = failure.reason;
        }
        return result;
    }

    // The executable, copied beside the data files, optionally as an unprivileged user.
    test::ChildResult Lorvex(const fs::path& from, const fs::path& to, bool unprivileged,
                             const std::vector<std::string>& switches = {"-c", kCategory}) {
        if (!fs::exists(program / "lorvex")) {
            fs::copy_file(test::LorvexExecutable(), program / "lorvex");
        }
        std::vector<std::string> command{(program / "lorvex").string()};
        if (unprivileged) {
            command = test::AsUnprivilegedUser(command.front());
        }
        command.insert(command.end(), switches.begin(), switches.end());
        command.insert(command.end(), {"-e", from.string(), "-d", to.string()});
        TempDir output;
        ChildProcess child(command.front(), {command.begin() + 1, command.end()}, output.path());
        return child.Wait();
    }

    // Every archive is whole where it is, and at least in one of the two directories.
    void ExpectNothingLost(const fs::path& from, const fs::path& to,
                           const std::set<std::string>& deletedByTheTest = {}) {
        for (const auto& [file, contents] : archives) {
            int copies = 0;
            for (const auto& dir : {from, to}) {
                if (fs::exists(dir / file)) {
                    ++copies;
                    EXPECT_EQ(ReadFile(dir / file), contents) << (dir / file) << " is not whole";
                }
            }
            if (!deletedByTheTest.contains(file)) {
                EXPECT_GE(copies, 1) << file << " was lost";
            }
        }
    }

    // Nothing in `dir` but archives: no temporary file left behind.
    void ExpectOnlyArchives(const fs::path& dir) {
        if (!fs::exists(dir)) {
            return;
        }
        for (const auto& name : ListDirectory(dir)) {
            EXPECT_TRUE(archives.contains(name)) << "stray file " << (dir / name);
        }
    }

    Failures AllFailing(const std::string& reason) const {
        Failures failures;
        for (const auto& entry : archives) {
            failures[entry.first] = reason;
        }
        return failures;
    }

    // The test's destination, and one on the other file system when it could be mounted.
    std::vector<fs::path> DestinationsBeside(const Tmpfs& other) const {
        std::vector<fs::path> destinations{dest};
        if (other.mounted()) {
            destinations.push_back(root / "other-fs" / "out");
        }
        return destinations;
    }

    TempDir root;
    fs::path program = root / "app";
    fs::path search = root / "in";
    fs::path dest = root / "out";
    std::map<std::string, std::string> archives;  // file name -> bytes
    Names order;
};

// On a share every look-up is a round trip: the whole program, over a FUSE file system
// that logs each look-up, must ask about the archives that are there and not about every
// name of the map.
TEST_F(FaultInjection, AbsentNamesAreNotLookedUpOneByOne) {
#ifndef LORVEX_POWER_CUT_FS
    GTEST_SKIP() << "built without libfuse3: no FUSE file system";
#else
    for (int i = 0; i < 300; ++i) {
        order.push_back("absent " + std::to_string(i));
    }
    for (int i = 0; i < 3; ++i) {
        AddArchive("present " + std::to_string(i), 100);
    }
    const fs::path backing = root / "backing";
    fs::create_directories(backing);
    WriteArchivesAndData(backing);
    const fs::path log = root / "lookups.txt";
    {
        test::PowerCutFs share(LORVEX_POWER_CUT_FS, backing, root / "share",
                               {"--log-lookups", log.string()});
        if (!share.mounted()) {
            GTEST_SKIP() << "cannot mount the FUSE file system (needs root and /dev/fuse)";
        }
        const auto run = Lorvex(root / "share", root / "dest", false);
        EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    }
    EXPECT_EQ(ListDirectory(root / "dest").size(), 3u);
    std::set<std::string> absentLookedUp;
    std::istringstream lines(ReadFile(log));
    for (std::string line; std::getline(lines, line);) {
        if (line.find("absent") != std::string::npos) {
            absentLookedUp.insert(line);
        }
    }
    // None of the 300 absent names (the look-up that learns whether the folder ignores
    // case is of a listed name with its case changed).
    EXPECT_TRUE(absentLookedUp.empty()) << *absentLookedUp.begin();
#endif
}

// Two lorvex at once: the first, from a FUSE folder, is held while it reads its copies into
// the destination; meanwhile an undo of it is refused and a second run into the same
// folder leaves the first's temporary copies alone. Then the first finishes unharmed.
TEST_F(FaultInjection, ARunStillGoingIsSeenByAnUndoAndByASecondRunIntoItsFolder) {
#ifndef LORVEX_POWER_CUT_FS
    GTEST_SKIP() << "built without libfuse3: no FUSE file system";
#else
    for (int i = 0; i < 20; ++i) {
        AddArchive("held " + std::to_string(i), 3000);
    }
    const fs::path backing = root / "backing";
    fs::create_directories(backing);
    WriteArchivesAndData(backing);
    WriteFile(search / "Other Name.zip", "PK other");
    const fs::path held = root / "held", release = root / "release";
    ASSERT_EQ(::mkfifo(held.c_str(), 0600) | ::mkfifo(release.c_str(), 0600), 0);
    test::PowerCutFs share(LORVEX_POWER_CUT_FS, backing, root / "share",
                           {"--hold-at", "read:2", held.string(), release.string()});
    if (!share.mounted()) {
        GTEST_SKIP() << "cannot mount the FUSE file system (needs root and /dev/fuse)";
    }
    fs::copy_file(test::LorvexExecutable(), program / "lorvex");
    const std::string lorvex = (program / "lorvex").string();
    TempDir output;
    ChildProcess first(lorvex,
                       {"-c", kCategory, "-e", (root / "share").string(), "-d", dest.string()},
                       output.path());
    // Not blocking on the FIFO, so that a first run that ends early ends the wait too.
    const int heldEnd = ::open(held.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    pollfd waits[] = {{heldEnd, POLLIN, 0}, {first.EndDescriptor(), POLLIN, 0}};
    ASSERT_GT(::poll(waits, 2, -1), 0);
    ::close(heldEnd);
    ASSERT_TRUE(waits[0].revents & POLLIN) << "the first run ended before it was held";
    const auto names = ListDirectory(dest);
    EXPECT_TRUE(std::ranges::any_of(
        names, [](const std::string& name) { return name.ends_with(".lorvex-partial"); }));

    const auto undo = test::Run(lorvex, {"--undo"});
    const auto second =
        test::Run(lorvex, {"-c", "Other", "-e", search.string(), "-d", dest.string()});
    WriteFile(release, "r");  // the daemon is waiting to read it
    const auto firstEnd = first.Wait();
    EXPECT_EQ(undo.exitStatus, 2);
    EXPECT_NE(undo.err.find("still going"), std::string::npos) << undo.err;
    EXPECT_EQ(second.exitStatus, 0) << second.out << second.err;
    EXPECT_EQ(second.out.find("Removed"), std::string::npos) << second.out;
    EXPECT_EQ(firstEnd.exitStatus, 0) << firstEnd.out << firstEnd.err;
    EXPECT_EQ(FailuresInReport(firstEnd.out), Failures{});
    EXPECT_EQ(ListDirectory(dest).size(), archives.size() + 1);
    ExpectNothingLost(backing, dest);
#endif
}

TEST_F(FaultInjection, DestinationHoldingTheSameNameKeepsBoth) {
    AddArchive("Same Name", 5000);
    AddArchive("Fresh", 300);
    Tmpfs other(root / "other-fs", "size=16m");
    for (const auto& to : DestinationsBeside(other)) {
        SCOPED_TRACE(to);
        WriteArchivesAndData(search);
        fs::create_directory(to);
        WriteFile(to / "Same Name.zip", "the copy that was there first");
        const PassOutcome pass = Pass(search, to);
        EXPECT_EQ(pass.moved, 1);
        EXPECT_EQ(pass.failures, (Failures{{"Same Name.zip", "File exists"}}));
        EXPECT_EQ(FailuresInReport(pass.report), pass.failures);
        EXPECT_EQ(ReadFile(to / "Same Name.zip"), "the copy that was there first");
        EXPECT_EQ(ReadFile(search / "Same Name.zip"), archives["Same Name.zip"]);
        EXPECT_EQ(ReadFile(to / "Fresh.zip"), archives["Fresh.zip"]);
        EXPECT_EQ(ListDirectory(to), (Names{"Fresh.zip", "Same Name.zip"}));
    }
}

TEST_F(FaultInjection, UnwritableSearchDirectoryOrDestinationMovesNothing) {
    if (test::AsUnprivilegedUser("lorvex").empty()) {
        GTEST_SKIP() << "running as root without setpriv: permission bits cannot be tested";
    }
    AddArchive("First", 4000);
    AddArchive("Second", 70000);
    WriteArchivesAndData(search);
    Tmpfs other(root / "other-fs", "size=16m,mode=0755");
    std::vector<fs::path> destinations{dest};
    if (other.mounted()) {
        destinations.push_back(root / "other-fs" / "out");
    }
    const auto readOnly = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                          fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
    for (const auto& to : destinations) {
        SCOPED_TRACE(to);
        fs::create_directory(to);
        for (const bool lockSearch : {true, false}) {
            SCOPED_TRACE(lockSearch ? "search directory locked" : "destination locked");
            fs::permissions(search, lockSearch ? readOnly : fs::perms::all);
            fs::permissions(to, lockSearch ? fs::perms::all : readOnly);
            const auto run = Lorvex(search, to, true);
            // A destination that takes nothing is refused before the pass, in one line.
            EXPECT_EQ(run.exitStatus, lockSearch ? 1 : 2) << run.err;
            if (lockSearch) {
                EXPECT_EQ(run.out.rfind(" 0 files were successfully found and moved!\n", 0), 0u);
                EXPECT_EQ(FailuresInReport(run.out), AllFailing("Permission denied"));
            } else {
                EXPECT_EQ(run.err, "lorvex: cannot write to destination directory \"" +
                                       to.string() + "/\": Permission denied\n");
            }
            ExpectNothingLost(search, to);
            EXPECT_EQ(ListDirectory(search).size(), archives.size());
            EXPECT_EQ(ListDirectory(to), Names{});
        }
    }
    if (!other.mounted()) {
        GTEST_SKIP() << "only tested on one file system: cannot mount a tmpfs";
    }
}

TEST_F(FaultInjection, ReadOnlyFileSystemOnEitherSideMovesNothing) {
    AddArchive("Read Only", 9000);
    WriteData();
    Tmpfs locked(root / "ro-fs", "size=16m");
    if (!locked.mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs (needs root and a private mount namespace)";
    }
    const fs::path inside = root / "ro-fs" / "dir";
    const fs::path empty = root / "ro-fs" / "empty";
    fs::create_directory(inside);
    fs::create_directory(empty);
    WriteFile(inside / "Read Only.zip", archives["Read Only.zip"]);
    fs::create_directory(dest);
    ASSERT_TRUE(locked.MakeReadOnly());
    // From it: the copy is made, then taken back because the source cannot be removed.
    PassOutcome pass = Pass(inside, dest);
    EXPECT_EQ(pass.moved, 0);
    EXPECT_EQ(pass.failures, AllFailing("Read-only file system"));
    EXPECT_EQ(FailuresInReport(pass.report), pass.failures);
    ExpectNothingLost(inside, dest);
    EXPECT_EQ(ListDirectory(dest), Names{});
    // Into it: refused before the pass.
    WriteArchivesAndData(search);
    pass = Pass(search, empty);
    EXPECT_EQ(pass.moved, 0);
    EXPECT_EQ(pass.failures, Failures{});
    ExpectNothingLost(search, empty);
    EXPECT_EQ(ListDirectory(empty), Names{});
    EXPECT_EQ(ListDirectory(search), Names{"Read Only.zip"});
}

TEST_F(FaultInjection, DestinationThatCannotBeCreatedStopsBeforeMoving) {
    AddArchive("Waiting", 2000);
    WriteArchivesAndData(search);
    WriteFile(root / "a file", "in the way");
    fs::create_directory(root / "locked");
    fs::permissions(root / "locked", fs::perms::owner_read | fs::perms::owner_exec |
                                         fs::perms::others_read | fs::perms::others_exec);
    struct Case {
        fs::path destination;
        std::string reason;
        bool unprivileged;
    };
    std::vector<Case> cases{
        {root / "missing" / "out",
         "the directory \"" + (root / "missing").string() + "/\" does not exist", false},
        {root / "a file" / "out", "Not a directory", false},
        {root / "a file", "Not a directory", false}};
    if (!test::AsUnprivilegedUser("lorvex").empty()) {
        cases.push_back({root / "locked" / "out", "Permission denied", true});
    }
    for (const auto& [destination, reason, unprivileged] : cases) {
        SCOPED_TRACE(destination);
        const auto run = Lorvex(search, destination, unprivileged);
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "lorvex: cannot create destination directory \"" + destination.string() +
                               "/\": " + reason + "\n");
        EXPECT_EQ(ListDirectory(search), (Names{"Waiting.zip"}));
        ExpectNothingLost(search, destination);
    }
    EXPECT_EQ(ReadFile(root / "a file"), "in the way");
}

// A dry run meets what the real run meets, and says so with the same lines and status.
TEST_F(FaultInjection, DryRunAndRealRunAgree) {
    AddArchive("First", 3000);
    AddArchive("Second", 500);
    WriteArchivesAndData(search);
    const std::string tooLong(300, 'x');
    // --all sends First to a folder too long to make (its first line decides); -c moves both.
    WriteFile(program / "cats.txt", std::string(kCategory) + "\n" + tooLong + "\n");
    WriteFile(program / "lorvex.ini",
              test::MapWithHeader("First=" + tooLong + "\nFirst=Fault\nSecond=Fault\n"));
    const auto locked = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                        fs::perms::others_exec;
    Tmpfs readOnly(root / "ro-fs", "size=1m");
    struct Case {
        std::string name;
        fs::path from;
        fs::path to;
        bool unprivileged;
        std::vector<std::string> switches;
        int exitStatus;
        std::string said;  // on standard error, or a failure on standard output
    };
    std::vector<Case> cases = {
        {"category folder name too long", search, dest, false, {"--all"}, 1, "File name too long"},
    };
    if (readOnly.mounted()) {
        fs::create_directory(root / "ro-fs" / "there");
        ASSERT_TRUE(readOnly.MakeReadOnly());
        cases.push_back({"read-only, existing",
                         search,
                         root / "ro-fs" / "there",
                         false,
                         {"-c", kCategory},
                         2,
                         "cannot write to destination directory"});
        cases.push_back({"read-only, to be made",
                         search,
                         root / "ro-fs" / "new",
                         false,
                         {"-c", kCategory},
                         2,
                         "Read-only file system"});
    }
    if (!test::AsUnprivilegedUser("lorvex").empty()) {
        fs::create_directory(root / "locked");
        fs::permissions(root / "locked", locked);
        cases.push_back({"unwritable destination",
                         search,
                         root / "locked",
                         true,
                         {"-c", kCategory},
                         2,
                         "Permission denied"});
        cases.push_back({"unwritable parent",
                         search,
                         root / "locked" / "new",
                         true,
                         {"-c", kCategory},
                         2,
                         "Permission denied"});
        fs::create_directory(root / "fixed");
        fs::copy(search, root / "fixed");
        fs::permissions(root / "fixed", locked);
        fs::create_directory(root / "open");
        fs::permissions(root / "open", fs::perms::all);
        cases.push_back({"search directory not removable",
                         root / "fixed",
                         root / "open",
                         true,
                         {"-c", kCategory},
                         1,
                         "Permission denied"});
    }
    for (const auto& [name, from, to, unprivileged, switches, exitStatus, said] : cases) {
        SCOPED_TRACE(name);
        auto dry = switches;
        dry.push_back("--dry-run");
        const auto planned = Lorvex(from, to, unprivileged, dry);
        const auto real = Lorvex(from, to, unprivileged, switches);
        EXPECT_EQ(planned.exitStatus, exitStatus) << planned.err << planned.out;
        EXPECT_EQ(real.exitStatus, exitStatus) << real.err << real.out;
        EXPECT_EQ(planned.err, real.err);
        EXPECT_EQ(FailuresInReport(planned.out), FailuresInReport(real.out));
        EXPECT_NE((planned.err + planned.out).find(said), std::string::npos)
            << planned.err << planned.out;
        if (exitStatus == 2) {
            EXPECT_EQ(std::count(real.err.begin(), real.err.end(), '\n'), 1) << real.err;
        }
    }
    if (!readOnly.mounted() || test::AsUnprivilegedUser("lorvex").empty()) {
        GTEST_SKIP() << "some cases need root: a tmpfs of its own and the user nobody";
    }
}

// Every regular file under `dir` whose bytes are `contents`.
Names RegularFilesHolding(const fs::path& dir, const std::string& contents) {
    Names found;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file() && !entry.is_symlink() && ReadFile(entry.path()) == contents) {
            found.push_back(entry.path().string());
        }
    }
    return found;
}

TEST_F(FaultInjection, SymbolicLinksAreMovedAsLinksAndNeverReadThrough) {
    const fs::path outside = root / "private";
    fs::create_directories(outside / "folder");
    const std::string secret = "bytes that must never leave this directory";
    WriteFile(outside / "secret.txt", secret);
    fs::permissions(outside / "secret.txt", fs::perms::owner_read | fs::perms::owner_write);
    WriteFile(outside / "empty", "");
    // Moved: a link to a non-empty file, by absolute and by relative target text.
    // Left alone: links that name nothing, a directory or an empty file.
    const std::map<std::string, fs::path> moved{{"Absolute.zip", outside / "secret.txt"},
                                                {"Relative.zip", "../private/secret.txt"}};
    const std::map<std::string, fs::path> left{{"Dangling.zip", outside / "missing"},
                                               {"Folder.zip", outside / "folder"},
                                               {"Empty.zip", outside / "empty"}};
    for (const auto& [file, target] : moved) {
        order.push_back(file.substr(0, file.size() - 4));
    }
    for (const auto& [file, target] : left) {
        order.push_back(file.substr(0, file.size() - 4));
    }
    WriteData();
    Tmpfs other(root / "other-fs", "size=16m");
    for (const auto& to : DestinationsBeside(other)) {
        SCOPED_TRACE(to);
        for (const auto* links : {&moved, &left}) {
            for (const auto& [file, target] : *links) {
                fs::create_symlink(target, search / file);
            }
        }
        const auto run = Lorvex(search, to, false);
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_EQ(run.out, " 2 files were successfully found and moved!\n");
        EXPECT_EQ(ListDirectory(to), (Names{"Absolute.zip", "Relative.zip"}));
        for (const auto& [file, target] : moved) {
            EXPECT_TRUE(fs::is_symlink(to / file)) << file;
            EXPECT_EQ(fs::read_symlink(to / file), target) << file;
        }
        EXPECT_EQ(ListDirectory(search), (Names{"Dangling.zip", "Empty.zip", "Folder.zip"}));
        for (const auto& [file, target] : left) {
            EXPECT_EQ(fs::read_symlink(search / file), target) << file;
        }
        EXPECT_EQ(ReadFile(outside / "secret.txt"), secret);
        EXPECT_EQ(fs::status(outside / "secret.txt").permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(RegularFilesHolding(root.path(), secret),
                  Names{(outside / "secret.txt").string()});
        for (const auto& name : ListDirectory(search)) {
            fs::remove(search / name);
        }
    }
    if (!other.mounted()) {
        GTEST_SKIP() << "only tested on one file system: cannot mount a tmpfs";
    }
}

// Deletes one archive after the pass has found it and before it is moved.
class DeleteBeforeMove : public PassProgress {
public:
    explicit DeleteBeforeMove(std::string archive) : archive_(std::move(archive)) {}
    bool ContinuePass(const PassStatus& status) override {
        const fs::path path(status.archive);
        if (path.filename() == archive_) {
            fs::remove(path);
        }
        return true;
    }

private:
    std::string archive_;
};

TEST_F(FaultInjection, SourceThatDisappearsBeforeItsMoveIsReported) {
    AddArchive("Before", 1000);
    AddArchive("Vanishing", 1000);
    AddArchive("After", 1000);
    Tmpfs other(root / "other-fs", "size=16m");
    for (const auto& to : DestinationsBeside(other)) {
        SCOPED_TRACE(to);
        WriteArchivesAndData(search);
        DeleteBeforeMove progress("Vanishing.zip");
        const PassOutcome pass = Pass(search, to, &progress);
        EXPECT_EQ(pass.moved, 2);
        EXPECT_EQ(pass.failures, (Failures{{"Vanishing.zip", "No such file or directory"}}));
        EXPECT_EQ(FailuresInReport(pass.report), pass.failures);
        ExpectNothingLost(search, to, {"Vanishing.zip"});
        EXPECT_EQ(ListDirectory(to), (Names{"After.zip", "Before.zip"}));
        EXPECT_EQ(ListDirectory(search), Names{});
    }
}

TEST_F(FaultInjection, MoveAcrossFileSystemsKeepsEveryByte) {
    Tmpfs other(root / "other-fs", "size=64m");
    if (!other.mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs (needs root and a private mount namespace)";
    }
    ASSERT_NE(DeviceOf(search), DeviceOf(root / "other-fs"));
    const fs::path to = root / "other-fs" / "out";
    AddArchive("Empty Looking", 1);
    AddArchive("Odd Size", 1234567);
    AddArchive("Several Megabytes", 5 << 20);
    // The longest name a file can have: the temporary copy must still find a name.
    AddArchive(std::string(NAME_MAX - 4, 'L'), 4096);
    WriteArchivesAndData(search);
    fs::permissions(search / "Odd Size.zip", fs::perms::owner_read | fs::perms::group_read);
    const PassOutcome pass = Pass(search, to);
    EXPECT_EQ(pass.failures, Failures{});
    EXPECT_EQ(pass.moved, 4);
    ExpectNothingLost(search, to);
    EXPECT_EQ(ListDirectory(search), Names{});
    ExpectOnlyArchives(to);
    EXPECT_EQ(fs::status(to / "Odd Size.zip").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::group_read);
}

TEST_F(FaultInjection, FullDestinationLeavesTheSourceWholeAndNoPartialFile) {
    Tmpfs small(root / "small-fs", "size=1m");
    if (!small.mounted()) {
        GTEST_SKIP() << "cannot mount a 1 MB tmpfs (needs root and a private mount namespace)";
    }
    const fs::path to = root / "small-fs" / "out";
    AddArchive("Small Before", 100000);
    AddArchive("Too Big", 3 << 20);
    AddArchive("Small After", 100000);
    WriteArchivesAndData(search);
    const PassOutcome pass = Pass(search, to);
    EXPECT_EQ(pass.moved, 2);
    EXPECT_EQ(pass.failures, (Failures{{"Too Big.zip", "No space left on device"}}));
    EXPECT_EQ(FailuresInReport(pass.report), pass.failures);
    ExpectNothingLost(search, to);
    EXPECT_EQ(ListDirectory(search), Names{"Too Big.zip"});
    EXPECT_EQ(ListDirectory(to), (Names{"Small After.zip", "Small Before.zip"}));
}

// The changes a run makes in its two folders (an archive's temporary copy made, written,
// renamed into place, its source removed), watched from before the run starts: the clock
// by which a test chooses the moment to kill the run.
class ChangeWatch {
public:
    // `source` exists; `target` is made by the run, in a folder that exists.
    ChangeWatch(const fs::path& source, fs::path target)
        : target_(std::move(target)), notify_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
        if (notify_ < 0 ||
            ::inotify_add_watch(notify_, source.c_str(), IN_DELETE | IN_MOVED_FROM) < 0 ||
            ::inotify_add_watch(notify_, target_.parent_path().c_str(), IN_CREATE) < 0) {
            throw std::runtime_error("cannot watch " + source.string() + " and " +
                                     target_.parent_path().string());
        }
    }
    ChangeWatch(const ChangeWatch&) = delete;
    ChangeWatch& operator=(const ChangeWatch&) = delete;
    ~ChangeWatch() { ::close(notify_); }

    // Returns once `changes` more changes were made, or once the run has ended; the
    // number of changes seen.
    std::size_t WaitFor(ChildProcess& run, std::size_t changes) {
        pollfd ready[2] = {{notify_, POLLIN, 0}, {run.EndDescriptor(), POLLIN, 0}};
        std::size_t seen = 0;
        for (;;) {
            if (!watchingTarget_) {
                // Fails until the run makes the folder; its making wakes the poll below.
                watchingTarget_ = ::inotify_add_watch(notify_, target_.c_str(),
                                                      IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                                          IN_MOVED_TO | IN_DELETE) >= 0;
            }
            if (seen >= changes) {
                return seen;
            }
            if (::poll(ready, 2, -1) < 0 && errno != EINTR) {
                throw std::runtime_error("poll failed: " + std::string(std::strerror(errno)));
            }
            seen += Drain();
            if (ready[1].revents != 0) {
                // Every change of an ended run is queued by now.
                return seen + Drain();
            }
        }
    }

private:
    // The number of changes queued since the last call.
    std::size_t Drain() {
        alignas(inotify_event) char buffer[16 * 1024];
        std::size_t count = 0;
        for (;;) {
            const ssize_t got = ::read(notify_, buffer, sizeof buffer);
            if (got <= 0) {
                return count;
            }
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                ++count;
            }
        }
    }

    fs::path target_;
    int notify_;
    bool watchingTarget_ = false;
};

// What a killed run leaves: a temporary copy ".<archive>[.<run tag>].XXXXXX.lorvex-partial",
// or the lock ".lorvex-<run tag>.lock" it held while it lived.
bool IsTemporaryName(const std::string& name) {
    static const std::regex kLeftover(
        R"(\..+\.zip(\.run-[0-9a-z-]+)?\.[A-Za-z0-9]{6}\.lorvex-partial|\.lorvex-run-[0-9a-z-]+\.lock)");
    return std::regex_match(name, kLeftover);
}

TEST_F(FaultInjection, KilledAtRandomMomentsAcrossFileSystemsLosesNothing) {
    Tmpfs from(root / "from-fs", "size=64m");
    Tmpfs into(root / "into-fs", "size=64m");
    fs::path source = root / "from-fs" / "in";
    fs::path target = root / "into-fs" / "out";
    // Without mounts of its own, /dev/shm may still be another file system than /tmp.
    const test::OtherFileSystemDirectory shm(root.path());
    if (!from.mounted() || !into.mounted()) {
        if (!shm.found()) {
            GTEST_SKIP() << "no second file system: cannot mount a tmpfs, /dev/shm unusable";
        }
        source = search;
        target = shm.path() / "out";
    }
    std::mt19937 random(20240611);
    std::uniform_int_distribution<std::size_t> size(1, 96 * 1024);
    for (int i = 0; i < 300; ++i) {
        AddArchive("archive " + std::to_string(i), size(random));
    }
    WriteData();
    constexpr int kKills = 40;
    int killedMidRun = 0;
    int partialsLeft = 0;
    int inBothPlaces = 0;
    const auto fillSource = [&] {
        fs::remove_all(source);
        fs::remove_all(target);
        fs::create_directories(source);
        for (const auto& [file, contents] : archives) {
            WriteFile(source / file, contents);
        }
        if (!fs::exists(program / "lorvex")) {
            fs::copy_file(test::LorvexExecutable(), program / "lorvex");
        }
    };
    const std::vector<std::string> arguments{"-c", kCategory,      "-e", source.string(),
                                             "-d", target.string()};
    // How many changes a whole run makes, counted on one run left alone.
    std::size_t wholeRun = 0;
    {
        fillSource();
        TempDir output;
        ChangeWatch changes(source, target);
        ChildProcess run((program / "lorvex").string(), arguments, output.path());
        wholeRun = changes.WaitFor(run, std::numeric_limits<std::size_t>::max());
        ASSERT_EQ(run.Wait().exitStatus, 0);
        ASSERT_GT(wholeRun, archives.size());
    }
    for (int round = 0; round < kKills; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        fillSource();
        // The moment: after a random number of the changes a whole run makes, so that kills
        // land inside copies, between renames and while sources are removed.
        const std::size_t after =
            std::uniform_int_distribution<std::size_t>(0, wholeRun - 1)(random);
        TempDir output;
        {
            ChangeWatch changes(source, target);
            ChildProcess run((program / "lorvex").string(), arguments, output.path());
            changes.WaitFor(run, after);
            run.Kill();
            killedMidRun += run.Wait().killedBySignal ? 1 : 0;
        }
        ExpectNothingLost(source, target);
        std::set<std::string> both;
        for (const auto& name : ListDirectory(target)) {
            if (archives.contains(name)) {
                if (fs::exists(source / name)) {
                    both.insert(name);
                }
            } else {
                EXPECT_TRUE(IsTemporaryName(name)) << "unexpected file " << name;
                ++partialsLeft;
            }
        }
        inBothPlaces += static_cast<int>(both.size());
        // Running again finishes the job; an archive left in both places is reported.
        std::size_t left = ListDirectory(source).size() - both.size();
        const auto rerun = Lorvex(source, target, false);
        EXPECT_EQ(rerun.exitStatus, both.empty() ? 0 : 1) << rerun.err;
        EXPECT_EQ(rerun.out.rfind(" " + std::to_string(left) + " files were", 0), 0u) << rerun.out;
        Failures expected;
        for (const auto& name : both) {
            expected[name] = kSameContentsReason;
        }
        EXPECT_EQ(FailuresInReport(rerun.out), expected);
        ExpectNothingLost(source, target);
        for (const auto& [file, contents] : archives) {
            EXPECT_TRUE(fs::exists(target / file)) << file;
        }
        if (HasFailure()) {
            break;
        }
    }
    std::cout << "[ figures  ] " << kKills << " kills, " << killedMidRun << " mid-run, "
              << partialsLeft << " temporary copies left, " << inBothPlaces
              << " archives left in both places\n";
    RecordProperty("killedMidRun", killedMidRun);
    // A kill that never lands mid-run would test nothing.
    EXPECT_GT(killedMidRun, kKills / 2);
}

TEST_F(FaultInjection, AnArchiveListedTwiceIsMovedOnceWhileItsBatchIsOnItsWay) {
    Tmpfs other(root / "other-fs", "size=16m");
    AddArchive("Twice", 3000);
    AddArchive("Once", 3000);
    order.push_back("Twice");
    for (const auto& to : DestinationsBeside(other)) {
        SCOPED_TRACE(to);
        WriteArchivesAndData(search);
        const PassOutcome pass = Pass(search, to);
        EXPECT_EQ(pass.moved, 2);
        EXPECT_EQ(pass.failures, Failures{});
        ExpectNothingLost(search, to);
        EXPECT_EQ(ListDirectory(to), (Names{"Once.zip", "Twice.zip"}));
    }
}

TEST_F(FaultInjection, KilledBetweenABatchsRenamesAndItsUnlinksKeepsBothCopies) {
    constexpr const char* kStrace = "/usr/bin/strace";
    Tmpfs other(root / "other-fs", "size=64m");
    if (!other.mounted() || ::access(kStrace, X_OK) != 0) {
        GTEST_SKIP() << "needs a tmpfs of its own (root) and strace";
    }
    const fs::path to = root / "other-fs" / "out";
    for (int i = 0; i < 100; ++i) {
        AddArchive("archive " + std::to_string(i), 20000 + static_cast<std::size_t>(i));
    }
    WriteArchivesAndData(search);
    fs::copy_file(test::LorvexExecutable(), program / "lorvex");
    // strace kills the program as it asks for its first unlink, without running it: the
    // first batch is in place by then, and no source has gone.
    TempDir output;
    ChildProcess run(
        kStrace,
        {"-f", "-o", "/dev/null", "-e", "trace=unlink,unlinkat", "-e",
         "inject=unlink,unlinkat:error=EIO:signal=KILL:when=1", (program / "lorvex").string(), "-c",
         kCategory, "-e", search.string(), "-d", to.string()},
        output.path());
    EXPECT_EQ(run.Wait().exitStatus, 128 + SIGKILL);
    ExpectNothingLost(search, to);
    EXPECT_EQ(ListDirectory(search).size(), archives.size());
    Failures inBoth;
    for (const auto& name : ListDirectory(to)) {
        if (archives.contains(name)) {
            inBoth[name] = kSameContentsReason;
        } else {
            EXPECT_TRUE(IsTemporaryName(name)) << "unexpected file " << name;
        }
    }
    ASSERT_FALSE(inBoth.empty()) << "killed before any archive was put in place";
    // A second run moves the rest and names each archive left in both places.
    const auto rerun = Lorvex(search, to, false);
    EXPECT_EQ(rerun.exitStatus, 1) << rerun.err;
    EXPECT_EQ(FailuresInReport(rerun.out), inBoth);
    ExpectNothingLost(search, to);
    EXPECT_EQ(ListDirectory(search).size(), inBoth.size());
}

TEST_F(FaultInjection, PowerCutAfterAnyStepLeavesEveryArchiveWholeSomewhere) {
#ifndef LORVEX_POWER_CUT_FS
    GTEST_SKIP() << "built without libfuse3: no power-cut file system";
#else
    struct Case {
        const char* stop;
        std::vector<std::string> source;  // power_cut_fs options of either side
        std::vector<std::string> dest;
        int exitStatus;
    };
    constexpr int kKilled = 128 + SIGKILL;
    const std::vector<Case> cases{
        {"runs to the end", {}, {}, 0},
        {"killed after the copies", {}, {"--kill-at", "fsync:1"}, kKilled},
        {"killed before the renames", {}, {"--kill-at", "rename:1"}, kKilled},
        {"killed after the renames", {}, {"--kill-at", "fsyncdir:1"}, kKilled},
        {"killed while removing sources", {"--kill-at", "unlink:3"}, {}, kKilled},
        {"every flush fails", {}, {"--fail-fsync"}, 1},
    };
    for (int i = 0; i < 100; ++i) {
        AddArchive("archive " + std::to_string(i), 3000 + static_cast<std::size_t>(i));
    }
    WriteData();
    for (std::size_t n = 0; n < cases.size(); ++n) {
        const Case& c = cases[n];
        SCOPED_TRACE(c.stop);
        const fs::path disks = root / ("case " + std::to_string(n));
        const fs::path from = disks / "source disk";
        const fs::path to = disks / "dest disk" / "out";
        fs::create_directories(from);
        WriteArchivesAndData(from);
        {
            test::PowerCutFs source(LORVEX_POWER_CUT_FS, from, disks / "source", c.source);
            test::PowerCutFs dest(LORVEX_POWER_CUT_FS, to.parent_path(), disks / "dest", c.dest);
            if (!source.mounted() || !dest.mounted()) {
                GTEST_SKIP() << "cannot mount power_cut_fs (needs root and /dev/fuse)";
            }
            const auto run = Lorvex(disks / "source", disks / "dest" / "out", false);
            EXPECT_EQ(run.exitStatus, c.exitStatus) << run.out << run.err;
        }
        // After the power cut: each name holds a whole archive, and none is lost.
        ExpectNothingLost(from, to);
        std::size_t leftovers = 0;
        for (const auto& name : ListDirectory(to)) {
            if (!archives.contains(name)) {
                EXPECT_TRUE(IsTemporaryName(name)) << "unexpected file " << name;
                leftovers += name.ends_with(".lorvex-partial") ? 1 : 0;  // not the run's lock
            }
        }
        if (c.exitStatus == 0) {
            EXPECT_EQ(ListDirectory(from), Names{});
        } else if (c.exitStatus == 1) {
            EXPECT_EQ(ListDirectory(from).size(), archives.size());
            EXPECT_EQ(ListDirectory(to), Names{});
        }
        // The next run removes the leftovers, says so, and finishes the move.
        const auto rerun = Lorvex(from, to, false);
        EXPECT_EQ(rerun.out.find("Removed " + std::to_string(leftovers) + " temporary cop") !=
                      std::string::npos,
                  leftovers > 0)
            << rerun.out;
        ExpectNothingLost(from, to);
        ExpectOnlyArchives(to);
        EXPECT_EQ(ListDirectory(to).size(), archives.size());
    }
#endif
}

TEST_F(FaultInjection, FailedFlushKeepsEverySourceOfTheBatch) {
    // An ext4 file system in a sparse image on a tmpfs that is full: ext4 believes it has
    // room, so the copies are written, and only their flush to the disk fails, as on
    // storage that is thinly provisioned.
    Tmpfs backing(root / "backing", "size=16m");
    const fs::path image = root / "backing" / "ext4.img";
    const fs::path mounted = root / "ext4";
    fs::create_directory(mounted);
    if (backing.mounted()) {
        WriteFile(image, "");
        fs::resize_file(image, 64 << 20);
    }
    if (!backing.mounted() ||
        test::Run("/sbin/mkfs.ext4", {"-q", "-F", "-O", "^has_journal", "-E",
                                      "nodiscard,lazy_itable_init=0", image.string()})
                .exitStatus != 0 ||
        test::Run("/bin/mount", {"-o", "loop", image.string(), mounted.string()}).exitStatus != 0) {
        GTEST_SKIP() << "cannot loop-mount an ext4 image (needs root, mkfs.ext4, loop devices)";
    }
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> unmount(
        &mounted, [](const fs::path* path) { ::umount2(path->c_str(), MNT_DETACH); });
    const fs::path to = mounted / "out";
    fs::create_directory(to);
    ::sync();
    {
        std::ofstream filler(root / "backing" / "filler", std::ios::binary);
        const std::string chunk(1 << 16, 'f');
        while (filler.write(chunk.data(), static_cast<std::streamsize>(chunk.size()))) {
        }
    }
    AddArchive("First", 1 << 20);
    AddArchive("Second", 3 << 20);
    AddArchive("Third", 5000);
    WriteArchivesAndData(search);
    const PassOutcome pass = Pass(search, to);
    EXPECT_EQ(pass.moved, 0);
    // The system's reason for the lost writes, the same for every archive of the batch.
    ASSERT_FALSE(pass.failures.empty());
    const std::string reason = pass.failures.begin()->second;
    EXPECT_TRUE(reason == "Input/output error" || reason == "No space left on device") << reason;
    EXPECT_EQ(pass.failures, AllFailing(reason));
    EXPECT_EQ(FailuresInReport(pass.report), pass.failures);
    ExpectNothingLost(search, to);
    EXPECT_EQ(ListDirectory(search).size(), archives.size());
    EXPECT_EQ(ListDirectory(to), Names{});
}

}  // namespace
}  // namespace lorvex
