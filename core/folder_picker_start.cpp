#include "folder_picker_start.h"

#include "parent_folder.h"
#include "platform.h"

namespace lorvex {

std::string FolderPickerStart(std::string_view fieldText) {
    for (std::string folder(fieldText); !folder.empty(); folder = ParentFolder(folder)) {
        if (!platform::CheckSearchableDirectory(folder)) {
            return folder;
        }
    }
    return {};
}

}  // namespace lorvex
