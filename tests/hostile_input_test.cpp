// Data files and command lines far from what a person writes, given to the built
// executable: each run gives the right result or a "lorvex: " error with status 2.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <iostream>

#include "child_process.h"
#include "test_support.h"

namespace lorvex {
namespace {

namespace fs = std::filesystem;
using test::ChildResult;
using test::ListDirectory;
using test::MapWithHeader;
using test::TempDir;
using test::WriteFile;
using Names = std::vector<std::string>;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;  // its shadow memory inflates the peak
#else
constexpr bool kAddressSanitizer = false;
#endif

std::string Moved(int count) {
    return " " + std::to_string(count) + " files were successfully found and moved!\n";
}

class HostileInput : public ::testing::Test {
protected:
    HostileInput() {
        fs::create_directory(program);
        fs::copy_file(test::LorvexExecutable(), program / "lorvex");
        fs::create_directory(search);
        WriteFile(program / "cats2.txt", "Simple\r\n");
        WriteFile(program / "lorvex2.ini", MapWithHeader(""));
    }

    void Archives(const Names& names) {
        for (const auto& name : names) {
            WriteFile(search / (name + ".zip"), "PK " + name);
        }
        archives = ListDirectory(search);
    }

    // Every archive back in the search directory, no destination.
    void Reset() {
        for (const auto& name : fs::exists(dest) ? ListDirectory(dest) : Names{}) {
            fs::rename(dest / name, search / name);
        }
        fs::remove(dest);
    }

    ChildResult Lorvex(const std::vector<std::string>& arguments) {
        TempDir output;
        test::ChildProcess child((program / "lorvex").string(), arguments, output.path());
        return child.Wait();
    }

    ChildResult Move(const std::string& category) {
        return Lorvex({"-c", category, "-e", search.string(), "-d", dest.string()});
    }

    void ExpectMoved(const ChildResult& run, const Names& moved) {
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_EQ(run.out, Moved(static_cast<int>(moved.size())));
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(fs::exists(dest) ? ListDirectory(dest) : Names{}, moved);
    }

    void ExpectError(const ChildResult& run, const std::string& start) {
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("lorvex: " + start, 0), 0u) << run.err.substr(0, 300);
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line only";
        EXPECT_TRUE(!fs::exists(dest) || fs::is_empty(dest));
        EXPECT_EQ(ListDirectory(search), archives);
    }

    TempDir root;
    fs::path program = root / "app";
    fs::path search = root / "in";
    fs::path dest = root / "out";
    Names archives;
};

TEST_F(HostileInput, MapOfAMillionEntriesInBoundedMemory) {
    WriteFile(program / "cats.txt", "Bulk\r\nOther\r\n");
    std::string map;
    map.reserve(30 << 20);
    for (int i = 0; i < 1'000'000; ++i) {
        map += "archive " + std::to_string(i) + (i % 2 ? "=Other\r\n" : "=Bulk\r\n");
    }
    WriteFile(program / "lorvex.ini", MapWithHeader(map));
    Archives({"archive 0", "archive 1", "archive 500000", "archive 999998", "archive 999999"});
    const auto run = Move("Bulk");
    ExpectMoved(run, {"archive 0.zip", "archive 500000.zip", "archive 999998.zip"});
    std::cout << "[ figures  ] peak memory of a 1,000,000-entry map (" << (map.size() >> 20)
              << " MB): " << run.maxResidentKb / 1024 << " MB\n";
    RecordProperty("peakKb", static_cast<int>(run.maxResidentKb));
    if (!kAddressSanitizer) {
        EXPECT_LT(run.maxResidentKb, 256 * 1024);
    }
}

TEST_F(HostileInput, TenMegabyteLines) {
    WriteFile(program / "cats.txt", "Cat\r\n");
    const std::string huge(10 << 20, 'x');
    // A long line without "=", and an entry whose name no file can have.
    WriteFile(program / "lorvex.ini",
              MapWithHeader(huge + "\r\na=Cat\r\n" + huge + "=Cat\r\nb=Cat\r\nc=" + huge + "\r\n"));
    Archives({"a", "b", "c"});
    ExpectMoved(Move("Cat"), {"a.zip", "b.zip"});
    // The whole map one line: not even a header.
    Reset();
    WriteFile(program / "lorvex.ini", huge);
    ExpectError(Move("Cat"), "cannot read category map");
}

TEST_F(HostileInput, NulBytesNeitherCutNamesNorMatchCategories) {
    using namespace std::string_literals;
    WriteFile(program / "cats.txt", "Cat\r\nCa\0t\r\n\0\r\n"s);
    WriteFile(program / "lorvex.ini",
              MapWithHeader("a=Cat\r\nb\0c=Cat\r\nd=Ca\0t\r\n\0=Cat\r\ne=Cat\r\n"s));
    Archives({"a", "b", "d", "e"});
    ExpectMoved(Move("Cat"), {"a.zip", "e.zip"});
    EXPECT_EQ(ListDirectory(search), (Names{"b.zip", "d.zip"}));
}

TEST_F(HostileInput, InvalidUtf8IsTakenByteForByte) {
    const std::string category = "\xff\xfe Cat \xc3\x28";
    const std::string name = "\x80\x81 \xed\xa0\x80";
    WriteFile(program / "cats.txt", "Cat\r\n" + category + "\r\n");
    WriteFile(program / "lorvex.ini",
              MapWithHeader(name + "=" + category + "\r\nplain=Cat\r\n\xc3=" + category + "\r\n"));
    Archives({name, "plain", "\xc3\xa9"});
    ExpectMoved(Move(category), {name + ".zip"});
    EXPECT_EQ(ListDirectory(search).size(), 2u);
}

TEST_F(HostileInput, MapsOfOnlySpacesOrOnlyHeaderLines) {
    WriteFile(program / "cats.txt", "Cat\r\n");
    Archives({"a"});
    WriteFile(program / "lorvex.ini", std::string(1 << 20, ' '));
    ExpectError(Move("Cat"), "cannot read category map");
    WriteFile(program / "lorvex.ini", "; one\r\n; two\r\n");
    ExpectError(Move("Cat"), "cannot read category map");
    std::string spaces;
    std::string sections;
    for (int i = 0; i < 100'000; ++i) {
        spaces += std::string(static_cast<std::size_t>(i % 40), ' ') + "\r\n";
        sections += i % 2 ? "[Section " + std::to_string(i) + "]\r\n" : "; a=Cat\r\n";
    }
    for (const auto& map : {spaces, MapWithHeader(""), MapWithHeader(sections),
                            MapWithHeader("[VerAdded]\r\na=Cat\r\n")}) {
        WriteFile(program / "lorvex.ini", map);
        ExpectMoved(Move("Cat"), {});
        Reset();
    }
    WriteFile(program / "cats.txt", std::string(1 << 20, ' '));
    ExpectError(Move("Cat"), "category \"Cat\" is not in the category list");
}

TEST_F(HostileInput, DataFilesThatAreNotPlainFilesAreRefused) {
    WriteFile(program / "cats.txt", "Cat\r\n");
    Archives({"a"});
    // A pipe nobody writes to would block a reader for ever; a device may never end.
    ASSERT_EQ(::mkfifo((program / "lorvex.ini").c_str(), 0644), 0);
    fs::remove(program / "cats2.txt");
    fs::create_symlink("/dev/null", program / "cats2.txt");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"-c", "Cat", "-e", search.string(), "-d", dest.string()},
         "category map \"" + (program / "lorvex.ini").string()},
        {{"-s", "-c", "Cat", "-e", search.string(), "-d", dest.string()},
         "category list \"" + (program / "cats2.txt").string()}};
    for (const auto& [arguments, file] : cases) {
        // A run that hangs reading the file never returns here: the suite's time limit in
        // CTest ends it.
        ExpectError(Lorvex(arguments), "cannot read " + file + "\": not a regular file");
    }
}

TEST_F(HostileInput, CategoryListOfAHundredThousandNames) {
    std::string lines;
    std::string oneLine;
    for (int i = 0; i < 100'000; ++i) {
        lines += "Category " + std::to_string(i) + "\r\n";
        oneLine += "\"Category, " + std::to_string(i) + "\",";
    }
    WriteFile(program / "lorvex.ini",
              MapWithHeader("a=Category 99999\r\nb=Category, 99999\r\nc=Category 5\r\n"));
    Archives({"a", "b", "c"});
    WriteFile(program / "cats.txt", lines);
    ExpectMoved(Move("Category 99999"), {"a.zip"});
    Reset();
    WriteFile(program / "cats.txt", oneLine);
    ExpectMoved(Move("Category, 99999"), {"b.zip"});
    Reset();
    ExpectError(Move("Category 5"), "category \"Category 5\" is not in the category list");
}

TEST_F(HostileInput, CommandLineOfTenThousandWords) {
    // One category of 10,000 words.
    std::vector<std::string> words{"-c"};
    std::string category;
    for (int i = 0; i < 10'000; ++i) {
        words.push_back("w" + std::to_string(i));
        category += (i ? " " : "") + words.back();
    }
    words.insert(words.end(), {"-e", search.string(), "-d", dest.string()});
    WriteFile(program / "cats.txt", "Cat\r\n" + category + "\r\n");
    WriteFile(program / "lorvex.ini", MapWithHeader("a=" + category + "\r\n"));
    Archives({"a"});
    ExpectMoved(Lorvex(words), {"a.zip"});
    // 10,000 unknown switches: the usage text for each, and the run goes on.
    Reset();
    words.assign(10'000 - 6, "-?");
    words.insert(words.end(), {"-c", category, "-e", search.string(), "-d", dest.string()});
    const auto run = Lorvex(words);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, Moved(1));
    EXPECT_EQ(run.err.size(),
              (10'000 - 6) * std::string("lorvex: unknown switch \"-?\", ignored\n"
                                         "Usage: lorvex -c category|--all -e searchdir -d destdir "
                                         "[-s|-f] [--dry-run]\nSee lorvex --help and readme.txt\n")
                                 .size());
    // 10,000 words and no switch at all.
    Reset();
    ExpectError(Lorvex(std::vector<std::string>(10'000, "word")), "no category given");
}

}  // namespace
}  // namespace lorvex
