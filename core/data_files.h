// Where lorvex finds its data files. A package puts them beside the program, where only an
// administrator may change them, so a user's own copy in the user's data folder comes first;
// a portable copy keeps to its own.
#pragma once

#include <string>
#include <string_view>

#include "platform.h"

namespace lorvex {

// The file whose presence beside the program makes a copy portable: a copy carried from
// machine to machine (the portable zip for Windows carries it) reads every data file from its
// own folder, never from the user's data folder of the machine it runs on.
inline constexpr std::string_view kPortableMarker = "portable.txt";

// True when `programDirectory` (given without a trailing separator) holds kPortableMarker.
bool IsPortableCopy(const std::string& programDirectory);

// The path `fileName` is read from: in `programDirectory` (given without a trailing
// separator) for a portable copy; else in the user's data folder when it is there, else in
// `programDirectory`.
std::string DataFilePath(const std::string& programDirectory, std::string_view fileName);

// Reads the whole data file `path`, which is the `what` ("category map"). Throws
// DataFileError naming the file and the reason.
platform::FileText ReadDataFile(const std::string& path, std::string_view what);

}  // namespace lorvex
