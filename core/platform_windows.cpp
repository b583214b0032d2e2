// Windows implementation of the platform services. Names are narrow strings in the
// system code page, as everywhere else in lorvex.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "errors.h"
#include "platform.h"

namespace lorvex::platform {
namespace {

Failure LastFailure() {
    char* text = nullptr;
    const DWORD error = ::GetLastError();
    ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason = text ? text : "error " + std::to_string(error);
    ::LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) {
        reason.pop_back();
    }
    return Failure{reason};
}

// What tells one file or directory from every other: its volume and its file index.
struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FileIdentity&) const = default;
};

// Follows links and junctions, so that a link to a directory is that directory.
std::optional<FileIdentity> IdentityOf(const std::string& path) {
    // FILE_FLAG_BACKUP_SEMANTICS is what lets CreateFile open a directory; reading
    // attributes needs no other right, and sharing everything disturbs no other program.
    const HANDLE handle = ::CreateFileA(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    const BOOL known = ::GetFileInformationByHandle(handle, &information);
    ::CloseHandle(handle);
    if (!known) {
        return std::nullopt;
    }
    return FileIdentity{information.dwVolumeSerialNumber, information.nFileIndexHigh,
                        information.nFileIndexLow};
}

}  // namespace

bool IsSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

std::string ProgramDirectory() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size()) {
            std::string path(buffer.data(), length);
            return path.substr(0, path.find_last_of("\\/"));
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<std::uint64_t> RegularFileLength(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path.empty() || !::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return std::nullopt;
    }
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::optional<Failure> CheckSearchableDirectory(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return LastFailure();
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return Failure{"Not a directory"};
    }
    return std::nullopt;
}

bool IsSameDirectory(const std::string& first, const std::string& second) {
    const DWORD attributes = ::GetFileAttributesA(first.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    const auto a = IdentityOf(first);
    const auto b = IdentityOf(second);
    return a && b && *a == *b;
}

std::optional<Failure> MakeDirectory(const std::string& path) {
    if (::CreateDirectoryA(path.c_str(), nullptr)) {
        return std::nullopt;
    }
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return std::nullopt;
    }
    return LastFailure();
}

std::optional<Failure> MoveFileNoReplace(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING an existing target makes the move fail; across
    // volumes the system copies, flushes (write-through) and only then deletes the source.
    // TODO(windows): a symbolic link or junction must be moved as the link, never read
    // through (as on POSIX): across volumes copy it with CopyFileExA and
    // COPY_FILE_COPY_SYMLINK to a temporary name, put it in place without replacing, then
    // delete the source link. RegularFileLength must likewise measure a link's target
    // (a link to a non-empty file counts as present) without moving the target.
    if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
        return std::nullopt;
    }
    return LastFailure();
}

// No batches here yet: every move completes before Move returns.
struct FileMover::State {};

FileMover::FileMover(MoveOutcome outcome)
    : outcome_(std::move(outcome)), state_(std::make_unique<State>()) {}

FileMover::~FileMover() = default;

void FileMover::Move(const std::string& from, const std::string& to) {
    outcome_(from, MoveFileNoReplace(from, to));
}

void FileMover::Finish() {}

void FileMover::StartCompleting() {}

void FileMover::CollectCompleted() {}

std::string ReadWholeFile(const std::string& path, std::string_view what) {
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const auto fail = [&] {
        return DataFileError("cannot read " + std::string(what) + " " + Quoted(path) + ": " +
                             LastFailure().reason);
    };
    if (file == INVALID_HANDLE_VALUE) {
        throw fail();
    }
    std::string text;
    char chunk[65536];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        text.append(chunk, got);
    }
    ::CloseHandle(file);
    return text;
}

}  // namespace lorvex::platform
