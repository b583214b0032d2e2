// The least a move from a share can do: one listing of the search folder, then each wanted
// archive found there moved without replacing anything; where the file system has no
// rename without replacing (sshfs), a link and then a removal of the old name.
// Usage: minimal-mover WANTED SEARCHDIR DESTDIR
// WANTED holds one archive name a line, optionally followed by a tab and the folder under
// DESTDIR it goes to (made on first use).
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <set>
#include <string>
#include <unordered_map>

int main(int argc, char** argv) {
    if (argc != 4) {
        fputs("usage: minimal-mover WANTED SEARCHDIR DESTDIR\n", stderr);
        return 2;
    }
    std::unordered_map<std::string, std::string> wanted;  // archive -> folder under DESTDIR
    std::ifstream list(argv[1]);
    for (std::string line; std::getline(list, line);) {
        const auto tab = line.find('\t');
        wanted.emplace(line.substr(0, tab), tab == std::string::npos ? "" : line.substr(tab + 1));
    }
    const std::string dest = std::string(argv[3]) + "/";
    mkdir(argv[3], 0777);
    const int searchFd = open(argv[2], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = searchFd < 0 ? nullptr : fdopendir(dup(searchFd));
    if (listing == nullptr) {
        perror(argv[2]);
        return 2;
    }
    std::set<std::string> made;
    long moved = 0;
    while (const dirent* entry = readdir(listing)) {
        const auto found = wanted.find(entry->d_name);
        if (found == wanted.end()) {
            continue;
        }
        std::string folder = dest + found->second;
        if (!found->second.empty() && made.insert(found->second).second) {
            mkdir(folder.c_str(), 0777);
        }
        const std::string to = folder + (found->second.empty() ? "" : "/") + entry->d_name;
        int result = renameat2(searchFd, entry->d_name, AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
        if (result != 0 && errno == EINVAL) {
            result = linkat(searchFd, entry->d_name, AT_FDCWD, to.c_str(), 0);
            if (result == 0) {
                result = unlinkat(searchFd, entry->d_name, 0);
            }
        }
        moved += result == 0;
    }
    closedir(listing);
    printf(" %ld files were successfully found and moved!\n", moved);
    return 0;
}
