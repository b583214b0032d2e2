// Where lorvex finds its data files. A package puts them beside the program, where only an
// administrator may change them, so a user's own copy in the user's data folder comes first.
#pragma once

#include <string>
#include <string_view>

#include "platform.h"

namespace lorvex {

// The path `fileName` is read from: in the user's data folder when it is there, else in
// `programDirectory` (given without a trailing separator).
std::string DataFilePath(const std::string& programDirectory, std::string_view fileName);

// Reads the whole data file `path`, which is the `what` ("category map"). Throws
// DataFileError naming the file and the reason.
platform::FileText ReadDataFile(const std::string& path, std::string_view what);

}  // namespace lorvex
