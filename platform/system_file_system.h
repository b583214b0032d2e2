// The file system of the system lorvex runs on.
#pragma once

#include "file_system.h"

namespace lorvex::platform {

fs::FileSystem& SystemFileSystem();

}  // namespace lorvex::platform
