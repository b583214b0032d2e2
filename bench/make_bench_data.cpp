// Writes a benchmark tree: program/ (the four data files), search/ (the archives),
// bench-category.txt (the category to move) and bench-archives.txt (its archives).
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "bench_data.h"

namespace {

constexpr std::string_view kUsage =
    "usage: make-bench-data OUTDIR [--seed N] [--entries N] [--categories N] [--largest N]";

}  // namespace

int main(int argc, char** argv) {
    using lorvex::bench::ArchiveState;
    namespace fs = std::filesystem;
    if (argc < 2) {
        std::cerr << kUsage << '\n';
        return 2;
    }
    lorvex::bench::DataOptions options;
    const fs::path out = argv[1];
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
        } else {
            std::cerr << kUsage << '\n';
            return 2;
        }
    }
    try {
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
