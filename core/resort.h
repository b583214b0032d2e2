// Sorting a sorted tree again after the map has changed: the tree --all filled is listed
// once, folder by folder, and every archive whose category's folder is not the one it is
// in is planned as a move; the moves then go through the same pass as every other run.
// What the current map no longer places stays where it is, and is named.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "file_system.h"
#include "interfaces.h"
#include "pass.h"

namespace lorvex {

struct ResortRequest {
    std::string sorteddir;                // the tree --all filled
    std::string incoming{};               // archives sorted into it afterwards; "" for none
    std::vector<std::string> categories;  // the category list, each a folder of the tree
    std::string listPath{};               // where the list was read, for a refusal to name
    bool dryRun = false;
    bool journal = true;
};

// What a look at the tree decided. Archives are named by their path below the tree.
struct ResortPlan {
    std::vector<ListedArchive> moves;     // by their paths
    std::vector<std::string> notInMap;    // archives whose names the map no longer lists
    std::vector<std::string> notListed;   // "path (category)": a category not in the list
    std::vector<std::string> ownFolders;  // the user's folders inside the tree, left alone
    std::vector<std::string> sources;     // folders the moves leave from
    std::vector<MoveFailure> unreadable;  // folders that could not be listed, and why
    // Folders listed with no temporary copy or run lock in them, as the pass names them.
    std::unordered_set<std::string> withoutLeftovers;
    bool sortedTree = false;  // one of its folders is a category's
    bool cancelled = false;
};

// Lists the tree `sorteddir` (ending in a separator) down to its deepest category folder
// and decides by `map` where each archive goes among `targets`. `progress` (may be null)
// hears of the listing and may stop it.
ResortPlan PlanResort(fs::FileSystem& system, std::string_view map,
                      const std::vector<CategoryTarget>& targets, const std::string& sorteddir,
                      PassProgress* progress);

struct ResortResult {
    PassResult pass;  // the moves of the re-sort and of the incoming archives, as --all's
    ResortPlan plan;  // its moves handed to the pass
    std::vector<std::string> foldersRemoved;  // left empty by the run, so removed
};

// Re-sorts the tree, then sorts the incoming archives into it. Throws LorvexError, before
// anything is made, when the run cannot start: a folder that cannot be searched, incoming
// archives inside the tree, an empty list, a folder that is no sorted tree.
ResortResult Resort(fs::FileSystem& system, std::string_view map, const ResortRequest& request,
                    PassProgress* progress);

// The report of --all, then what stayed, the user's folders and the folders removed.
MoveReportText ResortReportParts(const ResortResult& result, std::size_t shownNames = 5);

}  // namespace lorvex
