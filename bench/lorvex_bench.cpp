// Google Benchmark programs for the map scan and the move pass.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "bench_data.h"
#include "category_map.h"
#include "form1.h"
#include "move_job.h"
#include "resort.h"
#include "system_file_system.h"

namespace {

namespace fs = std::filesystem;
using lorvex::bench::DataOptions;
using lorvex::bench::GeneratedData;

const GeneratedData& DefaultData() {
    static const GeneratedData data = lorvex::bench::Generate(DataOptions{});
    return data;
}

void BM_ScanCategoryMap(benchmark::State& state) {
    const std::string& map = DefaultData().map;
    std::size_t entries = 0;
    std::size_t scanned = 0;
    for (auto _ : state) {
        std::size_t visited = 0;
        std::string_view last;
        lorvex::ScanCategoryMap(
            map,
            [&visited](const lorvex::MapEntry& entry) {
                benchmark::DoNotOptimize(entry.category.data());
                ++visited;
                return true;
            },
            &last);
        entries += visited;
        scanned += static_cast<std::size_t>(last.data() + last.size() - map.data());
    }
    // Only the part before "[VerAdded]" is read, so only that part counts.
    state.SetBytesProcessed(static_cast<std::int64_t>(scanned));
    state.SetItemsProcessed(static_cast<std::int64_t>(entries));
}
BENCHMARK(BM_ScanCategoryMap);

// A temporary tree with the data files and `present` archives of the benchmark category.
class PassTree {
public:
    explicit PassTree(int present) {
        std::string pattern = (fs::temp_directory_path() / "lorvex-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            perror("mkdtemp");
            abort();
        }
        root = pattern;
        options.largest = present;
        options.presentPercent = 0;  // only the archives the pass moves: quick to set up and remove
        data = lorvex::bench::Generate(options);
        lorvex::bench::WriteProgramFiles(data, root);
        lorvex::bench::WriteArchives(data, options, search());
    }
    PassTree(const PassTree&) = delete;
    PassTree& operator=(const PassTree&) = delete;
    ~PassTree() { fs::remove_all(root); }
    fs::path search() const { return root / "search"; }
    fs::path dest() const { return root / "dest"; }
    // Puts the moved archives back, so the next pass finds them again.
    void Restore() const {
        for (const auto& item : fs::directory_iterator(dest())) {
            fs::rename(item.path(), search() / item.path().filename());
        }
    }

    fs::path root;
    DataOptions options;
    GeneratedData data;
};

void BM_Pass(benchmark::State& state) {
    const auto present = static_cast<int>(state.range(0));
    const PassTree tree(present);
    for (auto _ : state) {
        lorvex::MoveRequest request;
        request.category = tree.data.BenchCategory();
        request.searchdir = tree.search().string();
        request.destdir = tree.dest().string();
        request.journal = false;
        lorvex::MoveJob job(lorvex::platform::SystemFileSystem(), tree.root.string(),
                            std::move(request));
        const lorvex::PassResult result = job.Run(nullptr);
        state.PauseTiming();
        if (result.moved != present) {
            state.SkipWithError("the pass did not move every archive");
            break;
        }
        tree.Restore();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * present);
}
BENCHMARK(BM_Pass)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// What a first counting scan would add to a pass that must know its total before the
// first move: the map scanned again and every archive of the category measured again.
void BM_CountingScan(benchmark::State& state) {
    const auto present = static_cast<int>(state.range(0));
    const PassTree tree(present);
    const lorvex::Form1 form(tree.root.string());
    const std::string& map = tree.data.map;
    const std::string category = tree.data.BenchCategory();
    const std::string searchdir = tree.search().string() + "/";
    std::string path;
    for (auto _ : state) {
        std::int64_t counted = 0;
        lorvex::ScanCategoryMap(map, [&](const lorvex::MapEntry& entry) {
            if (entry.category == category) {
                path.assign(searchdir).append(entry.name).append(".zip");
                counted += form.FileExists(path) == lorvex::FileState::Full;
            }
            return true;
        });
        if (counted != present) {
            state.SkipWithError("the count missed archives");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * present);
}
BENCHMARK(BM_CountingScan)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The look at a sorted tree before a re-sort: one listing per folder and a decision per
// archive, on a tree already in order, so that nothing moves.
void BM_PlanResort(benchmark::State& state) {
    const auto archives = static_cast<int>(state.range(0));
    std::string pattern = (fs::temp_directory_path() / "lorvex-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        perror("mkdtemp");
        abort();
    }
    const fs::path root = pattern;
    DataOptions options;
    options.entries = archives;
    options.largest = archives / 40;
    options.categories = 100;
    options.presentPercent = 100;
    options.emptyPercent = 0;
    const GeneratedData data = lorvex::bench::Generate(options);
    lorvex::bench::WriteSortedTree(data, options, root);
    const auto targets = lorvex::TargetsOf(data.categories, root.string() + "/");
    for (auto _ : state) {
        const lorvex::ResortPlan plan = lorvex::PlanResort(
            lorvex::platform::SystemFileSystem(), data.map, targets, root.string() + "/", nullptr);
        if (!plan.moves.empty() || !plan.sortedTree) {
            state.SkipWithError("the tree was not in order");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * archives);
    fs::remove_all(root);
}
BENCHMARK(BM_PlanResort)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
