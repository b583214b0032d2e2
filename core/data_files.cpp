#include "data_files.h"

#include "errors.h"
#include "platform.h"

namespace lorvex {

bool IsPortableCopy(const std::string& programDirectory) {
    return platform::EntryExists(programDirectory + platform::kSeparator +
                                 std::string(kPortableMarker));
}

std::string DataFilePath(const std::string& programDirectory, std::string_view fileName) {
    if (const std::string own = platform::UserDataDirectory();
        !own.empty() && !IsPortableCopy(programDirectory)) {
        // Anything under that name counts, so that an unreadable copy is reported by its
        // path rather than passed over in silence.
        std::string path = own + platform::kSeparator + std::string(fileName);
        if (platform::EntryExists(path)) {
            return path;
        }
    }
    return programDirectory + platform::kSeparator + std::string(fileName);
}

platform::FileText ReadDataFile(const std::string& path, std::string_view what) {
    platform::FileText text;
    if (const auto failure = platform::ReadWholeFile(path, text)) {
        throw DataFileError("cannot read " + std::string(what) + " " + Quoted(path) + ": " +
                            failure->reason);
    }
    return text;
}

}  // namespace lorvex
