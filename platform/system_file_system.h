// The file system of the system lorvex runs on, as a run sees it.
#pragma once

#include "file_system.h"

namespace lorvex::platform {

// One for the whole process; it keeps no state of a run.
fs::FileSystem& SystemFileSystem();

}  // namespace lorvex::platform
