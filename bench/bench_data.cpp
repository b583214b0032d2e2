#include "bench_data.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace lorvex::bench {
namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 10> kTops = {
    "Music", "Books", "Photos", "Software",          "Documents",
    "Video", "Games", "Fonts",  "Letters, Invoices", "Podcasts",
};

constexpr std::array<std::string_view, 40> kSubs = {
    "Rock",     "Jazz",       "Classical",  "Electronic", "Folk",     "Live",    "Archive",
    "Old",      "New",        "Favourites", "Family",     "Travel",   "Work",    "Drafts",
    "1990s",    "2000s",      "2010s",      "2020s",      "Science",  "Fiction", "History",
    "Kids",     "Tools",      "Utilities",  "Manuals",    "Lectures", "Demos",   "Samples",
    "Scans",    "Backups",    "Misc",       "Imported",   "Shared",   "Private", "Reviewed",
    "Unsorted", "Collection", "Extras",     "Japan",      "Europe",
};

constexpr std::array<std::string_view, 40> kFirsts = {
    "Blue Harbor", "Nightjar",     "Copper Lake",   "Velvet Static", "Orla Brenn",
    "Quiet Hours", "Saltmarsh",    "Ivo Kettering", "Northbound",    "Lumen Trio",
    "Anselm Ward", "Mira Castell", "Ruth Penhale",  "Jonas Veck",    "Lisbon",
    "Tromso",      "Kyoto",        "Harz",          "Valparaiso",    "Grandma",
    "tidy-notes",  "quickrename",  "diskmeter",     "pixelforge",    "tinyterm",
    "Moon Lander", "Brick Garden", "Orbit Chess",   "Sans Grotesk",  "Mono Slab",
    "Router AX3",  "Camera Z50",   "Electricity",   "Insurance",     "Landlord",
    "Compilers",   "Astronomy",    "Watercolour",   "Bread Baking",  "Linear Algebra",
};

constexpr std::array<std::string_view, 40> kSeconds = {
    "Night Ferries",   "Slow Tide",        "Live at the Granary",
    "Winter Sessions", "Second Light",     "Paper Lanterns",
    "Field Notes",     "Elsewhere",        "Low Country",
    "The Long Room",   "Glass Orchard",    "Short History of Tides",
    "Lighthouse",      "Measuring Things", "Cartographer",
    "Small Engines",   "Rain Country",     "Summer",
    "Wedding",         "Garden",           "Setup",
    "Portable",        "Source",           "Manual",
    "Quick Start",     "Service Guide",    "Lecture 01",
    "Lecture 02",      "Week 4",           "Finale",
    "Remastered",      "Demo Tape",        "Bonus Disc",
    "Complete",        "Deluxe",           "Scans",
    "Statements",      "Receipts",         "Vol. 1",
    "Vol. 2",
};

// splitmix64: fixed output for a seed on every platform, unlike the standard distributions.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(Next() % bound); }
    bool Percent(int percent) { return Below(100) < static_cast<std::size_t>(percent); }

private:
    std::uint64_t state_;
};

std::string CategoryName(int index) {
    const auto i = static_cast<std::size_t>(index);
    std::string name = std::string(kTops[i % kTops.size()]) + " / " +
                       std::string(kSubs[(i / kTops.size()) % kSubs.size()]);
    if (const std::size_t round = i / (kTops.size() * kSubs.size()); round > 0) {
        name += " / Part " + std::to_string(round + 1);
    }
    return name;
}

std::string TopOf(const std::string& category) { return category.substr(0, category.find(" / ")); }

// Sizes of the categories after the first: a Zipf-like split, every category at least one.
std::vector<int> SkewedSizes(int total, int count) {
    std::vector<int> sizes(static_cast<std::size_t>(count), 1);
    double weightSum = 0;
    for (int k = 1; k <= count; ++k) {
        weightSum += 1.0 / k;
    }
    int left = total - count;
    const int spread = left;
    for (int k = 1; k <= count && left > 0; ++k) {
        const int extra = std::min(left, static_cast<int>(spread * (1.0 / k) / weightSum));
        sizes[static_cast<std::size_t>(k - 1)] += extra;
        left -= extra;
    }
    for (std::size_t k = 0; left > 0; k = (k + 1) % sizes.size(), --left) {
        ++sizes[k];
    }
    return sizes;
}

std::string UniqueName(Random& random, std::unordered_set<std::string>& used) {
    const auto first = kFirsts[random.Below(kFirsts.size())];
    const auto second = kSeconds[random.Below(kSeconds.size())];
    const std::string year = std::to_string(1960 + random.Below(65));
    std::string name;
    switch (random.Below(3)) {
        case 0:
            name = std::string(first) + " - " + std::string(second) + " (" + year + ")";
            break;
        case 1:
            name = std::string(first) + "_" + std::string(second) + "_" + year;
            for (char& c : name) {
                c = c == ' ' ? '_' : c;
            }
            break;
        default:
            name = std::string(first) + " " + std::string(second) + " " + year;
    }
    const std::string base = name;
    for (int copy = 2; !used.insert(name).second; ++copy) {
        name = base + " #" + std::to_string(copy);
    }
    return name;
}

std::string Quoted(const std::string& category) {
    return category.find(',') == std::string::npos ? category : "\"" + category + "\"";
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

}  // namespace

GeneratedData Generate(const DataOptions& options) {
    if (options.categories < 2 || options.largest < 1 ||
        options.entries - options.largest < options.categories - 1) {
        throw std::invalid_argument("too few entries for the categories asked for");
    }
    Random random(options.seed);
    GeneratedData data;
    for (int i = 0; i < options.categories; ++i) {
        data.categories.push_back(CategoryName(i));
    }

    std::vector<int> order(static_cast<std::size_t>(options.largest), 0);
    const auto sizes = SkewedSizes(options.entries - options.largest, options.categories - 1);
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        order.insert(order.end(), static_cast<std::size_t>(sizes[k]), static_cast<int>(k + 1));
    }
    for (std::size_t i = order.size() - 1; i > 0; --i) {
        std::swap(order[i], order[random.Below(i + 1)]);
    }

    std::unordered_set<std::string> used;
    for (const int category : order) {
        ArchiveState state = ArchiveState::Present;
        if (category != 0) {
            state = !random.Percent(options.presentPercent) ? ArchiveState::Missing
                    : random.Percent(options.emptyPercent)  ? ArchiveState::Empty
                                                            : ArchiveState::Present;
        }
        data.entries.push_back({UniqueName(random, used), category, state});
    }

    const std::string header =
        "; lorvex category map: generated for benchmarks\r\n"
        "; one archive per line: name=category (the archive is name.zip)\r\n"
        "[Catalogue]\r\n";
    data.map = header;
    data.simpleMap = header;
    int section = 0;
    for (const auto& entry : data.entries) {
        if (random.Below(400) == 0) {
            const std::string lines = "\r\n[Shelf " + std::to_string(++section) + "]\r\n";
            data.map += lines;
            data.simpleMap += lines;
        } else if (random.Below(100) == 0) {
            const std::string line =
                "; checked " + std::to_string(2000 + random.Below(25)) + "\r\n";
            data.map += line;
            data.simpleMap += line;
        }
        const std::string& category = data.categories[static_cast<std::size_t>(entry.category)];
        data.map += entry.name + "=" + category + "\r\n";
        data.simpleMap += entry.name + "=" + TopOf(category) + "\r\n";
    }
    const std::string added = "\r\n[VerAdded]\r\n; added later, not sorted yet\r\n";
    data.map += added;
    data.simpleMap += added;
    for (int i = 0; i < options.entries; ++i) {
        const std::string name = UniqueName(random, used);
        const std::string& category = data.categories[random.Below(data.categories.size())];
        data.map += name + "=" + category + "\r\n";
        data.simpleMap += name + "=" + TopOf(category) + "\r\n";
    }

    std::vector<std::string> tops;
    for (const auto& category : data.categories) {
        data.categoryList += Quoted(category) + "\r\n";
        const std::string top = TopOf(category);
        if (std::find(tops.begin(), tops.end(), top) == tops.end()) {
            tops.push_back(top);
            data.simpleCategoryList += Quoted(top) + "\r\n";
        }
    }
    return data;
}

void WriteProgramFiles(const GeneratedData& data, const fs::path& programDir) {
    fs::create_directories(programDir);
    WriteText(programDir / "lorvex.ini", data.map);
    WriteText(programDir / "lorvex2.ini", data.simpleMap);
    WriteText(programDir / "cats.txt", data.categoryList);
    WriteText(programDir / "cats2.txt", data.simpleCategoryList);
}

namespace {

std::string ArchiveBytes(const DataOptions& options) {
    std::string contents = "PK\x03\x04";
    while (contents.size() < static_cast<std::size_t>(options.archiveBytes)) {
        contents += static_cast<char>('a' + contents.size() % 26);
    }
    contents.resize(static_cast<std::size_t>(options.archiveBytes));
    return contents;
}

}  // namespace

void WriteArchives(const GeneratedData& data, const DataOptions& options,
                   const fs::path& searchDir) {
    fs::create_directories(searchDir);
    const std::string contents = ArchiveBytes(options);
    for (const auto& entry : data.entries) {
        if (entry.state != ArchiveState::Missing) {
            WriteText(searchDir / (entry.name + ".zip"),
                      entry.state == ArchiveState::Present ? contents : std::string());
        }
    }
}

std::string CategoryFolder(const std::string& category) {
    std::string folder = category;
    for (auto at = folder.find(" / "); at != std::string::npos; at = folder.find(" / ", at)) {
        folder.replace(at, 3, "/");
    }
    return folder;
}

ResortData ChangeCategories(const GeneratedData& data, int changedPercent, std::uint64_t seed) {
    Random random(seed);
    std::unordered_map<std::string_view, const std::string*> changed;
    ResortData result;
    for (const auto& entry : data.entries) {
        if (!random.Percent(changedPercent)) {
            continue;
        }
        const auto old = static_cast<std::size_t>(entry.category);
        const std::size_t other =
            (old + 1 + random.Below(data.categories.size() - 1)) % data.categories.size();
        changed.emplace(entry.name, &data.categories[other]);
        if (entry.state == ArchiveState::Present) {
            result.changes.push_back(
                {CategoryFolder(data.categories[old]) + "/" + entry.name + ".zip",
                 CategoryFolder(data.categories[other])});
        }
    }
    // The map's lines as they were, but for the category of each name that changed.
    std::string_view rest = data.map;
    bool added = false;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const std::string_view line =
            rest.substr(0, end == std::string_view::npos ? rest.size() : end + 1);
        rest.remove_prefix(line.size());
        added = added || line.starts_with("[VerAdded]");
        const auto equals = line.find('=');
        const auto found = added || equals == std::string_view::npos
                               ? changed.end()
                               : changed.find(line.substr(0, equals));
        if (found == changed.end()) {
            result.newMap += line;
        } else {
            result.newMap += std::string(found->first) + "=" + *found->second + "\r\n";
        }
    }
    return result;
}

void WriteSortedTree(const GeneratedData& data, const DataOptions& options, const fs::path& tree) {
    const std::string contents = ArchiveBytes(options);
    for (const auto& entry : data.entries) {
        if (entry.state != ArchiveState::Missing) {
            const fs::path folder =
                tree / CategoryFolder(data.categories[static_cast<std::size_t>(entry.category)]);
            fs::create_directories(folder);
            WriteText(folder / (entry.name + ".zip"),
                      entry.state == ArchiveState::Present ? contents : std::string());
        }
    }
}

}  // namespace lorvex::bench
