// The least a move pass can do: for each archive of a precomputed list, one stat and one
// renameat2(RENAME_NOREPLACE). Usage: reference-move [--at] LISTFILE SEARCHDIR DESTDIR
// With --at the calls name archives relative to descriptors of the two directories, as
// mv -t does, instead of by full path as lorvex does.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>

int main(int argc, char** argv) {
    const bool at = argc == 5 && std::string_view(argv[1]) == "--at";
    if (at) {
        ++argv;
        --argc;
    }
    if (argc != 4) {
        fputs("usage: reference-move [--at] LISTFILE SEARCHDIR DESTDIR\n", stderr);
        return 2;
    }
    const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        perror(argv[1]);
        return 2;
    }
    std::string list(static_cast<std::size_t>(st.st_size), '\0');
    if (read(fd, list.data(), list.size()) != static_cast<ssize_t>(list.size())) {
        perror(argv[1]);
        return 2;
    }
    close(fd);
    mkdir(argv[3], 0777);
    const int searchFd = at ? open(argv[2], O_PATH | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD;
    const int destFd = at ? open(argv[3], O_PATH | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD;
    const std::string search = at ? std::string() : std::string(argv[2]) + "/";
    const std::string dest = at ? std::string() : std::string(argv[3]) + "/";
    std::string from = search;
    std::string to = dest;
    long moved = 0;
    std::string_view rest = list;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const std::string_view name = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        from.resize(search.size());
        from += name;
        to.resize(dest.size());
        to += name;
        if (fstatat(searchFd, from.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
            renameat2(searchFd, from.c_str(), destFd, to.c_str(), RENAME_NOREPLACE) == 0) {
            ++moved;
        }
    }
    printf(" %ld files were successfully found and moved!\n", moved);
    return 0;
}
