// Seeded generator of realistic benchmark data: a category map with skewed category
// sizes, its category lists and a search directory holding archives for part of it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace lorvex::bench {

struct DataOptions {
    std::uint64_t seed = 20240505;
    int entries = 50000;      // entry lines before "[VerAdded]"; as many again after it
    int categories = 400;     // the first one is the benchmark category
    int largest = 10000;      // entries of the benchmark category, every one present
    int presentPercent = 30;  // of the other entries, those with an archive
    int emptyPercent = 10;    // of those archives, the empty ones
    int archiveBytes = 256;
};

enum class ArchiveState { Missing, Empty, Present };

struct GeneratedEntry {
    std::string name;
    int category;  // index into GeneratedData::categories
    ArchiveState state;
};

struct GeneratedData {
    std::vector<std::string> categories;  // full names, e.g. "Music / Jazz / Live"
    std::vector<GeneratedEntry> entries;  // in map order
    std::string map;                      // lorvex.ini
    std::string simpleMap;                // lorvex2.ini
    std::string categoryList;             // cats.txt
    std::string simpleCategoryList;       // cats2.txt
    const std::string& BenchCategory() const { return categories.front(); }
};

// Same options, same data, on every machine: the generator uses its own random numbers.
GeneratedData Generate(const DataOptions& options);

// Writes the four data files into `programDir` and the archives into `searchDir`.
void WriteProgramFiles(const GeneratedData& data, const std::filesystem::path& programDir);
void WriteArchives(const GeneratedData& data, const DataOptions& options,
                   const std::filesystem::path& searchDir);

// A collection that --all sorted by a map, and a new map in which some names changed
// category: what a re-sort is measured on.
struct ResortChange {
    std::string archive;  // path below the tree, e.g. "Music/Jazz/name.zip"
    std::string folder;   // the new category's folder below the tree
};
struct ResortData {
    std::string newMap;                 // lorvex.ini after the change
    std::vector<ResortChange> changes;  // in map order
};

// The folder of a category below the tree, as --all makes it from these names.
std::string CategoryFolder(const std::string& category);

// Moves `changedPercent` of the names of `data`'s map to another category, at random.
ResortData ChangeCategories(const GeneratedData& data, int changedPercent, std::uint64_t seed);

// Every archive of `data` that is there, in its category's folder under `tree`.
void WriteSortedTree(const GeneratedData& data, const DataOptions& options,
                     const std::filesystem::path& tree);

}  // namespace lorvex::bench
