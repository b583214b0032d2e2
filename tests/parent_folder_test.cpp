// The folder a destination that cannot be made lacks, from the path's text and what
// exists (the fault-injection and window tests meet it on real folders).
#include "parent_folder.h"

#include <gtest/gtest.h>

#include <set>

namespace lorvex {
namespace {

TEST(ParentFolder, NamesTheHighestMissingFolderAboveTheDestination) {
    const std::set<std::string> existing{"/", "/home", "/home/ann", "D:\\"};
    const auto exists = [&](const std::string& path) { return existing.count(path) > 0; };
    const struct {
        const char* destination;
        const char* missing;
    } cases[] = {
        {"/home/ann/Books/", ""},  // the parent is there: the system's reason stands
        {"/home/ann/Books/Kinder/", "/home/ann/Books"},
        {"/home/ann/Boks/Jugend//Kinder", "/home/ann/Boks"},
        {"/mnt/usb/Books", "/mnt"},
        {"Books", ""},
#ifdef _WIN32
        {"D:\\Books\\Kinder\\", "D:\\Books"},
        {"E:/Books", "E:/"},  // no such drive
#endif
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HighestMissingParent(c.destination, exists), c.missing) << c.destination;
    }
}

}  // namespace
}  // namespace lorvex
