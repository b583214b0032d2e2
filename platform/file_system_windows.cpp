// The system's file system on Windows: a run's calls through the wide API, every path in
// its \\?\ form, and Win32's error codes sorted into the kinds a run decides on. Also the
// file helpers the rest of the Windows platform layer shares (files_windows.h).
#include <algorithm>
#include <random>
#include <vector>

#include "files_windows.h"
#include "platform.h"
#include "system_file_system.h"

namespace lorvex::platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring RandomLetters(std::size_t count) {
    static constexpr std::wstring_view kLetters =
        L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, kLetters.size() - 1);
    std::wstring letters;
    for (std::size_t i = 0; i < count; ++i) {
        letters += kLetters[pick(generator)];
    }
    return letters;
}

std::uint64_t SizeOf(DWORD high, DWORD low) { return (std::uint64_t{high} << 32) | low; }

// The file's length when it is a regular file (not a link or a directory).
std::optional<std::uint64_t> RegularLength(const UniqueHandle& file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.valid() || !::GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        return std::nullopt;
    }
    return SizeOf(info.nFileSizeHigh, info.nFileSizeLow);
}

// The root of the volume that holds `path` (a drive, a share or a mounted folder); empty
// when unknown.
std::wstring VolumeRoot(const std::wstring& path) {
    std::wstring volume(path.size() + 2, L'\0');
    if (!::GetVolumePathNameW(path.c_str(), volume.data(), static_cast<DWORD>(volume.size()))) {
        return {};
    }
    volume.resize(std::wcslen(volume.c_str()));
    return volume;
}

}  // namespace

bool IsDirectoryAttribute(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring DirectoryOf(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring BaseName(const std::wstring& path) {
    return path.substr(path.find_last_of(L'\\') + 1);
}

// The name is cut so that the whole fits in the 255 UTF-16 units a file name may have,
// never in the middle of a surrogate pair.
std::wstring TemporaryName(const std::wstring& target, const std::wstring& runTag) {
    constexpr std::size_t kNameMax = 255;
    const std::size_t room = kNameMax - std::wstring_view(L"..XXXXXX").size() -
                             fs::kPartialSuffix.size() - (runTag.empty() ? 0 : runTag.size() + 1);
    std::wstring name = BaseName(target).substr(0, room);
    if (!name.empty() && IS_HIGH_SURROGATE(name.back())) {
        name.pop_back();
    }
    if (!runTag.empty()) {
        name += L"." + runTag;
    }
    return DirectoryOf(target) + L"\\." + name + L"." + RandomLetters(6) +
           std::wstring(fs::kPartialSuffix.begin(), fs::kPartialSuffix.end());
}

DWORD MakeWritable(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    return attributes;
}

DWORD DeleteAnyFile(const std::wstring& path) {
    const DWORD attributes = MakeWritable(path);
    if (::DeleteFileW(path.c_str())) {
        return ERROR_SUCCESS;
    }
    const DWORD error = ::GetLastError();
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        ::SetFileAttributesW(path.c_str(), attributes);
    }
    return error;
}

DWORD CopyToTemporary(const std::wstring& source, const std::wstring& target,
                      const std::wstring& runTag, std::wstring& temporary) {
    constexpr int kAttempts = 100;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temporary = TemporaryName(target, runTag);
        if (::CopyFileExW(source.c_str(), temporary.c_str(), nullptr, nullptr, nullptr,
                          COPY_FILE_FAIL_IF_EXISTS | COPY_FILE_COPY_SYMLINK)) {
            return ERROR_SUCCESS;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            // A copy that failed half way may have left its beginning behind.
            DeleteAnyFile(temporary);
            temporary.clear();
            return error;
        }
    }
    temporary.clear();
    return ERROR_FILE_EXISTS;
}

HANDLE OpenForReading(const std::wstring& path) {
    return ::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// An archive already in the destination, as a move interrupted after its rename leaves it.
bool HoldSameBytes(const std::wstring& first, const std::wstring& second) {
    const UniqueHandle one(OpenForReading(first));
    const UniqueHandle two(OpenForReading(second));
    const auto length = RegularLength(one);
    if (!length || RegularLength(two) != length) {
        return false;
    }
    constexpr DWORD kChunk = 128 << 10;
    std::vector<char> left(kChunk);
    std::vector<char> right(kChunk);
    for (;;) {
        DWORD got = 0;
        DWORD other = 0;
        if (!::ReadFile(one.get(), left.data(), kChunk, &got, nullptr) ||
            !::ReadFile(two.get(), right.data(), kChunk, &other, nullptr) || got != other ||
            !std::equal(left.begin(), left.begin() + got, right.begin())) {
            return false;
        }
        if (got == 0) {
            return true;
        }
    }
}

std::wstring FileSystemName(const std::wstring& path) {
    const std::wstring volume = VolumeRoot(path);
    wchar_t name[MAX_PATH + 1] = {};
    if (volume.empty() || !::GetVolumeInformationW(volume.c_str(), nullptr, 0, nullptr, nullptr,
                                                   nullptr, name, MAX_PATH + 1)) {
        return {};
    }
    return name;
}

namespace {

using fs::Error;
using fs::Kind;

Error KindOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return Error::Exists;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return Error::NotFound;
        case ERROR_DIRECTORY:
            return Error::NotDirectory;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return Error::NoSpace;
        case ERROR_ACCESS_DENIED:
        case ERROR_PRIVILEGE_NOT_HELD:
            return Error::Permission;
        case ERROR_WRITE_PROTECT:
            return Error::ReadOnly;
        case ERROR_NOT_SAME_DEVICE:
            return Error::CrossDevice;
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_FUNCTION:
            return Error::NotSupported;
        case ERROR_FILENAME_EXCED_RANGE:
            return Error::NameTooLong;
        case ERROR_IO_DEVICE:
        case ERROR_CRC:
        case ERROR_SECTOR_NOT_FOUND:
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
        case ERROR_GEN_FAILURE:
        case ERROR_NOT_READY:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_NETNAME_DELETED:
        case ERROR_UNEXP_NET_ERR:
        case ERROR_FILE_CORRUPT:
        case ERROR_DISK_CORRUPT:
            return Error::Io;
        default:
            return Error::Other;
    }
}

// A code whose message stands for a whole kind.
DWORD CodeOf(Error kind) {
    switch (kind) {
        case Error::Exists:
            return ERROR_FILE_EXISTS;
        case Error::NotFound:
            return ERROR_FILE_NOT_FOUND;
        case Error::NotDirectory:
            return ERROR_DIRECTORY;
        case Error::NoSpace:
            return ERROR_DISK_FULL;
        case Error::Permission:
            return ERROR_ACCESS_DENIED;
        case Error::ReadOnly:
            return ERROR_WRITE_PROTECT;
        case Error::CrossDevice:
            return ERROR_NOT_SAME_DEVICE;
        case Error::NotSupported:
            return ERROR_NOT_SUPPORTED;
        case Error::NameTooLong:
            return ERROR_FILENAME_EXCED_RANGE;
        case Error::Io:
            return ERROR_IO_DEVICE;
        case Error::Other:
            break;
    }
    return ERROR_INVALID_PARAMETER;
}

fs::Failure FailureOf(DWORD error) { return fs::Failure{KindOf(error), SystemMessage(error)}; }

fs::Outcome LastOutcome() { return FailureOf(::GetLastError()); }

// FILETIME counts 100 ns from 1601-01-01. Whole seconds first, all unsigned, so that no
// FILETIME overflows on the way.
fs::FileTime TimeOf(FILETIME time) {
    constexpr std::uint64_t kTicksPerSecond = 10'000'000;
    constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
    const std::uint64_t ticks = SizeOf(time.dwHighDateTime, time.dwLowDateTime);
    return fs::FileTime{static_cast<std::int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970,
                        static_cast<std::uint32_t>(ticks % kTicksPerSecond * 100)};
}

// Every reparse point counts as a link: a run never follows one unawares.
Kind KindOfAttributes(DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return Kind::Link;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return Kind::Directory;
    }
    return attributes & FILE_ATTRIBUTE_DEVICE ? Kind::Other : Kind::File;
}

HANDLE Win32Handle(fs::Handle file) { return reinterpret_cast<HANDLE>(file); }

// The temporary's name spelled as `to` is: beside it, in the same form.
std::string Beside(const std::string& to, const std::wstring& name) {
    const std::size_t end = to.find_last_of("\\/:");
    return (end == std::string::npos ? std::string() : to.substr(0, end + 1)) + Narrow(name);
}

class FindHandle {
public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    ~FindHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::FindClose(handle_);
        }
    }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// The byte a run's lock takes: far past the end of any file it guards.
OVERLAPPED LockedByte() {
    OVERLAPPED at{};
    at.Offset = 0;
    at.OffsetHigh = 0x7FFFFFFF;
    return at;
}

class WindowsFileSystem final : public fs::FileSystem {
public:
    std::string Words(Error kind) const override { return SystemMessage(CodeOf(kind)); }

    fs::Status StatusOf(const std::string& path) override {
        const std::wstring wide = LongPath(path);
        fs::Status status;
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
            return status;
        }
        status.kind = KindOfAttributes(data.dwFileAttributes);
        status.facts = {SizeOf(data.nFileSizeHigh, data.nFileSizeLow),
                        TimeOf(data.ftLastWriteTime)};
        status.target = status.kind;
        status.targetSize = status.facts.size;
        if (status.kind == Kind::Link) {
            // Opened without FILE_FLAG_OPEN_REPARSE_POINT, the handle is of what the link
            // leads to.
            const UniqueHandle file(::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                                                  nullptr, OPEN_EXISTING,
                                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
            BY_HANDLE_FILE_INFORMATION info{};
            const bool reached =
                file.valid() && ::GetFileInformationByHandle(file.get(), &info) != 0;
            status.target = reached ? KindOfAttributes(info.dwFileAttributes) : Kind::Missing;
            status.targetSize = reached ? SizeOf(info.nFileSizeHigh, info.nFileSizeLow) : 0;
        }
        if (status.target != Kind::File) {
            status.targetSize = 0;
        }
        return status;
    }

    fs::Outcome List(const std::string& folder,
                     const std::function<void(const fs::Entry&)>& visit) override {
        const std::wstring directory = LongPath(folder);
        std::wstring pattern = directory;
        if (!pattern.ends_with(L'\\')) {
            pattern += L'\\';
        }
        pattern += L'*';
        WIN32_FIND_DATAW found{};
        const FindHandle search(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                                   FindExSearchNameMatch, nullptr,
                                                   FIND_FIRST_EX_LARGE_FETCH));
        if (search.get() == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            const DWORD attributes = ::GetFileAttributesW(directory.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && !IsDirectoryAttribute(attributes)) {
                return FailureOf(ERROR_DIRECTORY);
            }
            // The root of an empty drive has not even "." and "..".
            if (error == ERROR_FILE_NOT_FOUND && IsDirectoryAttribute(attributes)) {
                return std::nullopt;
            }
            return FailureOf(error);
        }
        do {
            const std::wstring_view name = found.cFileName;
            if (name != L"." && name != L"..") {
                const std::string utf8 = Narrow(name);
                const Kind kind = KindOfAttributes(found.dwFileAttributes);
                // The listing carries each file's length: no second round trip to a share.
                std::optional<std::uint64_t> size;
                if (kind == Kind::File) {
                    size = SizeOf(found.nFileSizeHigh, found.nFileSizeLow);
                }
                visit(fs::Entry{utf8, kind, size});
            }
        } while (::FindNextFileW(search.get(), &found));
        const DWORD error = ::GetLastError();
        return error == ERROR_NO_MORE_FILES ? std::nullopt : fs::Outcome(FailureOf(error));
    }

    bool SameContents(const std::string& first, const std::string& second) override {
        return HoldSameBytes(LongPath(first), LongPath(second));
    }

    fs::Outcome ReadAll(const std::string& path, std::string& text) override {
        const UniqueHandle file(::CreateFileW(LongPath(path).c_str(), GENERIC_READ, kShareAll,
                                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                                              nullptr));
        if (!file.valid()) {
            return LastOutcome();
        }
        text.clear();
        LARGE_INTEGER size{};
        if (::GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) {
            text.reserve(static_cast<std::size_t>(size.QuadPart));
        }
        constexpr DWORD kChunk = 1 << 20;
        for (;;) {
            const std::size_t filled = text.size();
            text.resize(filled + kChunk);
            DWORD got = 0;
            if (!::ReadFile(file.get(), text.data() + filled, kChunk, &got, nullptr)) {
                text.resize(filled);
                return LastOutcome();
            }
            text.resize(filled + got);
            if (got == 0) {
                return std::nullopt;
            }
        }
    }

    fs::Outcome MakeFolder(const std::string& path) override {
        const std::wstring wide = LongPath(path);
        if (::CreateDirectoryW(wide.c_str(), nullptr)) {
            return std::nullopt;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_ALREADY_EXISTS &&
            IsDirectoryAttribute(::GetFileAttributesW(wide.c_str()))) {
            return std::nullopt;
        }
        return FailureOf(error);
    }

    fs::Outcome RemoveFolder(const std::string& path) override {
        return ::RemoveDirectoryW(LongPath(path).c_str()) ? std::nullopt : LastOutcome();
    }

    fs::Outcome Remove(const std::string& path) override {
        const std::wstring wide = LongPath(path);
        const DWORD attributes = ::GetFileAttributesW(wide.c_str());
        // A link to a folder is itself a folder to Windows, and goes as one.
        if (IsDirectoryAttribute(attributes) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            return ::RemoveDirectoryW(wide.c_str()) ? std::nullopt : LastOutcome();
        }
        const DWORD error = DeleteAnyFile(wide);
        return error == ERROR_SUCCESS ? std::nullopt : fs::Outcome(FailureOf(error));
    }

    fs::Outcome RenameNoReplace(const std::string& from, const std::string& to) override {
        // Without MOVEFILE_REPLACE_EXISTING a taken name makes the rename fail. Never
        // MOVEFILE_COPY_ALLOWED: its copy carries the final name while it is written, so an
        // interrupted move would leave a truncated file that looks whole. (Under wine a
        // host's dangling symbolic link is seen by nothing but a full listing, and this
        // rename replaces it; Windows' own links are refused.)
        return ::MoveFileExW(LongPath(from).c_str(), LongPath(to).c_str(), 0) ? std::nullopt
                                                                              : LastOutcome();
    }

    fs::Outcome Link(const std::string& from, const std::string& to, bool symbolic) override {
        const std::wstring link = LongPath(to);
        if (!symbolic) {
            return ::CreateHardLinkW(link.c_str(), LongPath(from).c_str(), nullptr) ? std::nullopt
                                                                                    : LastOutcome();
        }
        // The link holds `from` as given, in Windows' separators; one to a folder must say so.
        std::wstring held = Widen(from);
        std::replace(held.begin(), held.end(), L'/', L'\\');
        DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
        const bool absolute = held.starts_with(L'\\') || (held.size() > 2 && held[1] == L':');
        if (absolute && IsDirectoryAttribute(::GetFileAttributesW(LongPath(from).c_str()))) {
            flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
        }
        if (!::CreateSymbolicLinkW(link.c_str(), held.c_str(), flags)) {
            return LastOutcome();
        }
        // Wine may report a link made without making one: it counts once it is there.
        if (::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES) {
            return fs::Failure{Error::NotSupported,
                               "the system said it made the symbolic link, but there is none"};
        }
        return std::nullopt;
    }

    // NTFS writes a folder's names through its own journal, and FAT's folders have no
    // handle to flush that a program may open: there is nothing to call.
    fs::Outcome FlushFolder(const std::string&) override { return std::nullopt; }

    fs::Outcome CopyToTemporary(const std::string& from, const std::string& to,
                                std::string_view runTag, fs::CopyInProgress& copy) override {
        std::wstring temporary;
        if (const DWORD error =
                platform::CopyToTemporary(LongPath(from), LongPath(to), Widen(runTag), temporary);
            error != ERROR_SUCCESS) {
            return FailureOf(error);
        }
        copy.temporary = Beside(to, BaseName(temporary));
        // The copy may carry the source's read-only attribute, which refuses the write
        // access a flush needs: cleared for the open and given back, the handle keeps its
        // access. Deleting is shared, so that the open copy can be renamed or removed.
        const DWORD attributes = MakeWritable(temporary);
        const HANDLE file = ::CreateFileW(
            temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        const DWORD error = file == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            ::SetFileAttributesW(temporary.c_str(), attributes);
        }
        if (error != ERROR_SUCCESS) {
            DeleteAnyFile(temporary);
            copy.temporary.clear();
            return FailureOf(error);
        }
        copy.handle = reinterpret_cast<fs::Handle>(file);
        LARGE_INTEGER size{};
        copy.bytes = ::GetFileSizeEx(file, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
        return std::nullopt;
    }

    fs::Outcome FlushFiles(std::span<const fs::Handle> files) override {
        fs::Outcome first;
        for (const fs::Handle file : files) {
            if (!::FlushFileBuffers(Win32Handle(file)) && !first) {
                first = LastOutcome();
            }
        }
        return first;
    }

    void Close(fs::Handle file) override {
        if (file != fs::kNoHandle) {
            ::CloseHandle(Win32Handle(file));
        }
    }

    // The lock is on one byte far past any data, so that reading and appending the file
    // stay possible for everyone.
    fs::Outcome Lock(const std::string& path, fs::Handle& lock) override {
        const HANDLE file = ::CreateFileW(LongPath(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return LastOutcome();
        }
        OVERLAPPED at = LockedByte();
        if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                          &at)) {
            const DWORD error = ::GetLastError();
            ::CloseHandle(file);
            return FailureOf(error == ERROR_LOCK_VIOLATION ? ERROR_FILE_EXISTS : error);
        }
        lock = reinterpret_cast<fs::Handle>(file);
        return std::nullopt;
    }

    std::optional<bool> IsLocked(const std::string& path) override {
        const UniqueHandle file(::CreateFileW(LongPath(path).c_str(), GENERIC_READ, kShareAll,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                              nullptr));
        if (!file.valid()) {
            return std::nullopt;
        }
        OVERLAPPED at = LockedByte();
        if (!::LockFileEx(file.get(), LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
            return ::GetLastError() == ERROR_LOCK_VIOLATION ? std::optional(true) : std::nullopt;
        }
        ::UnlockFileEx(file.get(), 0, 1, 0, &at);
        return false;
    }

    std::optional<bool> SameFolder(const std::string& first, const std::string& second) override {
        if (!platform::CheckSearchableDirectory(first) &&
            !platform::CheckSearchableDirectory(second)) {
            return platform::IsSameDirectory(first, second);
        }
        return std::nullopt;
    }

    bool IsRemote(const std::string& folder) override {
        const std::wstring wide = LongPath(folder);
        if (wide.starts_with(L"\\\\?\\UNC\\")) {
            return true;
        }
        return ::GetDriveTypeW(VolumeRoot(wide).c_str()) == DRIVE_REMOTE;
    }

    fs::Outcome OpenForAppend(const std::string& path, bool create, fs::Handle& file) override {
        const HANDLE opened = ::CreateFileW(
            LongPath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
            create ? CREATE_NEW : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (opened == INVALID_HANDLE_VALUE) {
            return LastOutcome();
        }
        file = reinterpret_cast<fs::Handle>(opened);
        return std::nullopt;
    }

    fs::Outcome Append(fs::Handle file, std::string_view text) override {
        while (!text.empty()) {
            const auto piece = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 30));
            DWORD written = 0;
            if (!::WriteFile(Win32Handle(file), text.data(), piece, &written, nullptr)) {
                return LastOutcome();
            }
            text.remove_prefix(written);
        }
        return std::nullopt;
    }

    fs::Outcome CheckAccess(const std::string& path, fs::Access access) override {
        const std::wstring wide = LongPath(path);
        switch (access) {
            case fs::Access::Search: {
                const DWORD attributes = ::GetFileAttributesW(wide.c_str());
                if (attributes == INVALID_FILE_ATTRIBUTES) {
                    return LastOutcome();
                }
                return IsDirectoryAttribute(attributes) ? fs::Outcome()
                                                        : fs::Outcome(FailureOf(ERROR_DIRECTORY));
            }
            case fs::Access::Read: {
                const UniqueHandle file(::CreateFileW(wide.c_str(), GENERIC_READ, kShareAll,
                                                      nullptr, OPEN_EXISTING, 0, nullptr));
                return file.valid() ? std::nullopt : LastOutcome();
            }
            case fs::Access::AddTo:
                return CheckAddTo(wide);
            case fs::Access::RemoveFrom: {
                // The file's own rights may allow what the folder's do not, so only a
                // write-protected volume certainly refuses.
                const UniqueHandle file(::CreateFileW(
                    wide.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
                if (!file.valid() && ::GetLastError() == ERROR_WRITE_PROTECT) {
                    return FailureOf(ERROR_WRITE_PROTECT);
                }
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    fs::Outcome CheckNameFits(const std::string& path) override {
        std::wstring wide = Widen(path);
        while (wide.size() > 1 && (wide.back() == L'\\' || wide.back() == L'/')) {
            wide.pop_back();
        }
        // Names of up to 255 UTF-16 units on every Windows file system; paths of up to
        // 32,767 in the \\?\ form lorvex uses.
        const std::size_t name = wide.size() - wide.find_last_of(L"\\/") - 1;
        if (name > 255 || LongPath(path).size() > 32767) {
            return FailureOf(ERROR_FILENAME_EXCED_RANGE);
        }
        return std::nullopt;
    }

    std::optional<fs::Space> FreeSpace(const std::string& folder) override {
        const std::wstring wide = LongPath(folder);
        const std::wstring root = VolumeRoot(wide);
        ULARGE_INTEGER available{};
        DWORD serial = 0;
        if (root.empty() || !::GetDiskFreeSpaceExW(wide.c_str(), &available, nullptr, nullptr) ||
            !::GetVolumeInformationW(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr,
                                     0)) {
            return std::nullopt;
        }
        fs::Space space{serial, available.QuadPart, 1, false};
        DWORD sectorsPerCluster = 0;
        DWORD bytesPerSector = 0;
        DWORD freeClusters = 0;
        DWORD clusters = 0;
        if (::GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                                &clusters) &&
            sectorsPerCluster > 0 && bytesPerSector > 0) {
            space.block = std::uint64_t{sectorsPerCluster} * bytesPerSector;
        }
        return space;
    }

    std::optional<bool> SameMount(const std::string& first, const std::string& second) override {
        const std::wstring one = LongPath(first);
        const std::wstring two = LongPath(second);
        if (::GetFileAttributesW(one.c_str()) == INVALID_FILE_ATTRIBUTES ||
            ::GetFileAttributesW(two.c_str()) == INVALID_FILE_ATTRIBUTES) {
            return std::nullopt;
        }
        const std::wstring rootOne = VolumeRoot(one);
        const std::wstring rootTwo = VolumeRoot(two);
        if (rootOne.empty() || rootTwo.empty()) {
            return std::nullopt;
        }
        if (::CompareStringOrdinal(rootOne.c_str(), -1, rootTwo.c_str(), -1, TRUE) == CSTR_EQUAL) {
            return true;
        }
        // One volume may be reached by two roots (a drive letter and a mounted folder); its
        // own name tells.
        const std::wstring nameOne = VolumeName(rootOne);
        return !nameOne.empty() && nameOne == VolumeName(rootTwo);
    }

    std::optional<std::string> WithoutLinks(const std::string& folder) override {
        const std::wstring system = FileSystemName(LongPath(folder));
        if (system.starts_with(L"FAT") || system == L"exFAT") {
            return Narrow(system);
        }
        return std::nullopt;
    }

    // Windows counts handles per process in the millions, not descriptors in the
    // thousands: a generous bound that a run's batches stay far below.
    std::size_t OpenFileLimit() override { return 4096; }

    std::string Absolute(const std::string& path) override { return AbsolutePath(path); }

    // A name cut short fills the 255 UTF-16 units, or one less before a surrogate pair.
    bool FillsNameLimit(std::string_view name) const override { return Widen(name).size() >= 254; }

private:
    // Asking for the right to add a file checks the folder's rights and the volume's write
    // protection without writing anything.
    static fs::Outcome CheckAddTo(const std::wstring& folder) {
        const UniqueHandle listed(::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, kShareAll,
                                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                                nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        if (!listed.valid() || !::GetFileInformationByHandle(listed.get(), &info)) {
            return LastOutcome();
        }
        if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return FailureOf(ERROR_DIRECTORY);
        }
        const UniqueHandle adding(::CreateFileW(folder.c_str(), FILE_ADD_FILE, kShareAll, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                                nullptr));
        return adding.valid() ? std::nullopt : LastOutcome();
    }

    static std::wstring VolumeName(const std::wstring& root) {
        std::wstring name(MAX_PATH + 1, L'\0');
        if (!::GetVolumeNameForVolumeMountPointW(root.c_str(), name.data(),
                                                 static_cast<DWORD>(name.size()))) {
            return {};
        }
        name.resize(std::wcslen(name.c_str()));
        return name;
    }
};

}  // namespace

fs::FileSystem& SystemFileSystem() {
    static WindowsFileSystem system;
    return system;
}

}  // namespace lorvex::platform
