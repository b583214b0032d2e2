#include "test_support.h"

// The parts of the test support that are the same everywhere; system_posix.cpp and
// system_windows.cpp make temporary directories and run programs.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace lorvex::test {
namespace {

// Every move writes its journal into the user's state folder: a test process and the
// programs it starts get one of their own, so that no test touches the real home.
class OwnStateFolder {
public:
    OwnStateFolder() {
        // Open to all, as /tmp is: some tests run the program as another user.
        for (const fs::path& folder :
             {folder_.path(), folder_.path() / "lorvex", RunsFolder(folder_.path())}) {
            fs::create_directories(folder);
            fs::permissions(folder, fs::perms::all | fs::perms::sticky_bit);
        }
#ifdef _WIN32
        _putenv_s(kStateVariable, Utf8(folder_.path()).c_str());
#else
        ::setenv(kStateVariable, folder_.path().c_str(), 1);
#endif
    }

private:
    TempDir folder_;
};

const OwnStateFolder ownStateFolder;

}  // namespace

std::string StateEnvironment(const fs::path& folder) {
    return std::string(kStateVariable) + "=" + Utf8(folder);
}

fs::path RunsFolder(const fs::path& folder) { return folder / "lorvex" / "runs"; }

TempDir::~TempDir() {
    std::error_code ignored;
    // Restore permissions that a test took away, so that everything can be removed.
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
#ifdef _WIN32
        // Windows refuses to delete a read-only file.
        if (it->is_regular_file(ignored) && !it->is_symlink(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
        }
#endif
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

fs::path PathFromUtf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

void WriteFile(const fs::path& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary);
    out << contents;
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> ListDirectory(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(Utf8(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string MapWithHeader(const std::string& body) {
    return "; test map\r\n; name=category\r\n[Catalogue]\r\n" + body;
}

ProgramFiles::ProgramFiles() {
    fs::create_directory(program);
    fs::create_directory(search);
    for (const char* name : {"cats.txt", "cats2.txt", "lorvex.ini", "lorvex2.ini"}) {
        fs::copy_file(fs::path(LORVEX_TEST_DATA_DIR) / name, program / name);
    }
}

void ProgramFiles::WriteMap(const std::string& body) const {
    WriteFile(program / "lorvex.ini", MapWithHeader(body));
}

void ProgramFiles::WriteAlbums(int count) const {
    for (const auto& entry : fs::directory_iterator(search)) {
        fs::remove(entry.path());
    }
    std::string map;
    for (int i = 0; i < count; ++i) {
        const std::string name = "album " + std::to_string(i);
        map += name + "=Music / Jazz\n";
        WriteArchive(name + ".zip", "PK " + name);
    }
    WriteMap(map);
}

void ProgramFiles::TakeAlbumNames(int count, const std::string& contents) const {
    fs::create_directories(dest);
    for (int i = 0; i < count; ++i) {
        WriteFile(dest / ("album " + std::to_string(i) + ".zip"), contents);
    }
}

void ProgramFiles::WriteArchive(const std::string& name, const std::string& contents) const {
    WriteFile(search / name, contents);
}

std::string LorvexExecutable() { return LORVEX_EXECUTABLE; }

}  // namespace lorvex::test
