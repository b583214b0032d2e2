// Writes a benchmark tree: program/ (the four data files), search/ (the archives),
// bench-category.txt (the category to move) and bench-archives.txt (its archives).
// With --resort PERCENT instead: sorted/ (every archive in its category's folder, as --all
// leaves them), program/ with a map in which PERCENT of the names changed category, and the
// moves a re-sort makes: resort-targets.txt ("N<tab>folder" a line) and resort-moves/N (the
// archives bound for that folder, below sorted/).
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bench_data.h"

namespace {

constexpr std::string_view kUsage =
    "usage: make-bench-data OUTDIR [--seed N] [--entries N] [--categories N] [--largest N] "
    "[--resort PERCENT]";

// Every archive present and of 4 KB, sorted as --all with the generated map sorts them;
// the program's map is the changed one.
void WriteResortTree(lorvex::bench::DataOptions options, int percent,
                     const std::filesystem::path& out) {
    namespace fs = std::filesystem;
    options.presentPercent = 100;
    options.emptyPercent = 0;
    options.archiveBytes = 4096;
    auto data = lorvex::bench::Generate(options);
    const auto resort = lorvex::bench::ChangeCategories(data, percent, options.seed + 1);
    lorvex::bench::WriteSortedTree(data, options, out / "sorted");
    data.map = resort.newMap;
    lorvex::bench::WriteProgramFiles(data, out / "program");
    std::map<std::string, std::vector<std::string>> byFolder;
    for (const auto& change : resort.changes) {
        byFolder[change.folder].push_back(change.archive);
    }
    fs::create_directories(out / "resort-moves");
    std::ofstream targets(out / "resort-targets.txt");
    int number = 0;
    for (const auto& [folder, archives] : byFolder) {
        targets << number << '\t' << folder << '\n';
        std::ofstream moves(out / "resort-moves" / std::to_string(number++));
        for (const auto& archive : archives) {
            moves << archive << '\n';
        }
    }
    if (!targets.flush()) {
        throw std::runtime_error("cannot write resort-targets.txt");
    }
}

}  // namespace

int main(int argc, char** argv) {
    using lorvex::bench::ArchiveState;
    namespace fs = std::filesystem;
    // An option where the folder goes ("--help") would otherwise become a folder of that
    // name; so would an odd count of words leave the last option without its value.
    if (argc < 2 || argv[1][0] == '-' || argc % 2 != 0) {
        const bool help = argc == 2 && std::string_view(argv[1]) == "--help";
        (help ? std::cout : std::cerr) << kUsage << '\n';
        return help ? 0 : 2;
    }
    lorvex::bench::DataOptions options;
    const fs::path out = argv[1];
    int resortPercent = 0;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string_view flag = argv[i];
        const long long value = std::atoll(argv[i + 1]);
        if (flag == "--seed") {
            options.seed = static_cast<std::uint64_t>(value);
        } else if (flag == "--entries") {
            options.entries = static_cast<int>(value);
        } else if (flag == "--categories") {
            options.categories = static_cast<int>(value);
        } else if (flag == "--largest") {
            options.largest = static_cast<int>(value);
        } else if (flag == "--resort") {
            resortPercent = static_cast<int>(value);
        } else {
            std::cerr << kUsage << '\n';
            return 2;
        }
    }
    try {
        if (resortPercent > 0) {
            WriteResortTree(options, resortPercent, out);
            return 0;
        }
        const auto data = lorvex::bench::Generate(options);
        lorvex::bench::WriteProgramFiles(data, out / "program");
        lorvex::bench::WriteArchives(data, options, out / "search");
        std::ofstream(out / "bench-category.txt") << data.BenchCategory() << '\n';
        std::ofstream list(out / "bench-archives.txt");
        for (const auto& entry : data.entries) {
            if (entry.category == 0 && entry.state == ArchiveState::Present) {
                list << entry.name << ".zip\n";
            }
        }
        if (!list.flush()) {
            throw std::runtime_error("cannot write bench-archives.txt");
        }
    } catch (const std::exception& error) {
        std::cerr << "make-bench-data: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
