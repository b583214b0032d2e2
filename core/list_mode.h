// The list mode: which pair of data files beside the program is used.
#pragma once

#include <string_view>

namespace lorvex {

enum class ListMode { Simple, Full };

struct DataFileNames {
    std::string_view categoryList;
    std::string_view categoryMap;
};

constexpr DataFileNames DataFilesOf(ListMode mode) {
    return mode == ListMode::Simple ? DataFileNames{"cats2.txt", "lorvex2.ini"}
                                    : DataFileNames{"cats.txt", "lorvex.ini"};
}

}  // namespace lorvex
