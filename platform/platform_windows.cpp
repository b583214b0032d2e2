// Windows implementation of the platform services. Inside lorvex all text is UTF-8; here
// it becomes UTF-16 for the wide (W) API, and every path is handed over in its \\?\ form,
// so that names in any script and paths longer than MAX_PATH work.
#include "platform_windows.h"

#include <shellapi.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <stdexcept>
#include <utility>
#include <vector>

#include "device_names.h"
#include "errors.h"
#include "files_windows.h"
#include "platform.h"

namespace lorvex::platform {
namespace {

constexpr std::wstring_view kVerbatimPrefix = L"\\\\?\\";
constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";

Failure FailureFrom(DWORD error) { return Failure{SystemMessage(error)}; }

Failure LastFailure() { return FailureFrom(::GetLastError()); }

int ChunkSize(std::size_t size) {
    if (size > static_cast<std::size_t>(INT_MAX)) {
        throw std::length_error("text too large to convert");
    }
    return static_cast<int>(size);
}

// Converts from a code page to UTF-16; with MB_ERR_INVALID_CHARS an invalid sequence
// makes it return false.
bool ToWide(UINT codePage, DWORD flags, std::string_view text, std::wstring& wide) {
    wide.clear();
    if (text.empty()) {
        return true;
    }
    const int size = ChunkSize(text.size());
    const int length = ::MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
    if (length == 0) {
        return false;
    }
    wide.resize(static_cast<std::size_t>(length));
    ::MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), length);
    return true;
}

// Walks long text in pieces that end at a line feed, which is never part of a multibyte
// character in UTF-8 or in any ANSI code page, so each piece converts on its own.
template <typename Visit>
bool ForEachPiece(std::string_view text, Visit visit) {
    constexpr std::size_t kPiece = 16 << 20;
    while (!text.empty()) {
        std::size_t end = text.size();
        if (end > kPiece) {
            const std::size_t newline = text.find('\n', kPiece);
            end = newline == std::string_view::npos ? text.size() : newline + 1;
        }
        if (!visit(text.substr(0, end))) {
            return false;
        }
        text.remove_prefix(end);
    }
    return true;
}

bool IsUtf8(std::string_view text) {
    std::wstring scratch;
    return ForEachPiece(text, [&](std::string_view piece) {
        return ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, piece, scratch);
    });
}

std::string AnsiToUtf8(std::string_view text) {
    std::string utf8;
    utf8.reserve(text.size() + text.size() / 4);
    std::wstring wide;
    ForEachPiece(text, [&](std::string_view piece) {
        ToWide(CP_ACP, 0, piece, wide);
        utf8 += Narrow(wide);
        return true;
    });
    return utf8;
}

// Text saved by Notepad as "Unicode" (UTF-16 with a byte order mark).
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::wstring wide(bytes.size() / 2, L'\0');
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const auto high = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 0 : 1)]);
        const auto low = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 1 : 0)]);
        wide[i] = static_cast<wchar_t>(high << 8 | low);
    }
    return Narrow(wide);
}

// Removes the \\?\ form again where the path does not need it, for messages.
std::wstring Readable(std::wstring path) {
    if (path.starts_with(L"\\\\?\\UNC\\")) {
        return L"\\\\" + path.substr(8);
    }
    if (path.starts_with(kVerbatimPrefix)) {
        return path.substr(kVerbatimPrefix.size());
    }
    return path;
}

// Forces the copy's data and metadata to the disk. The copy may carry the source's
// read-only attribute, which would refuse the write access that flushing needs.
DWORD Flush(const std::wstring& path) {
    const DWORD attributes = MakeWritable(path);
    UniqueHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    DWORD error = ERROR_SUCCESS;
    if (!file.valid() || !::FlushFileBuffers(file.get())) {
        error = ::GetLastError();
    }
    if (!file.Close() && error == ERROR_SUCCESS) {
        error = ::GetLastError();
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        ::SetFileAttributesW(path.c_str(), attributes);
    }
    return error;
}

// The reason an archive was not moved; a taken name holding the same bytes says so.
Failure Reason(DWORD error, const std::wstring& source, const std::wstring& target) {
    if ((error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) &&
        HoldSameBytes(source, target)) {
        return Failure{std::string(kSameContentsReason)};
    }
    return FailureFrom(error);
}

std::uint64_t FileLength(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Follows a symbolic link to what it names, as the POSIX stat does.
std::optional<std::uint64_t> LengthThroughLink(const std::wstring& path) {
    UniqueHandle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.valid() || !::GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return std::nullopt;
    }
    return (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

}  // namespace

std::wstring Widen(std::string_view text) {
    std::wstring wide;
    ToWide(CP_UTF8, 0, text, wide);
    return wide;
}

std::string Narrow(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = ChunkSize(text.size());
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

std::wstring LongPath(const std::string& path) {
    const std::wstring wide = Widen(path);
    if (wide.starts_with(kVerbatimPrefix) || wide.starts_with(kDevicePrefix)) {
        return wide;
    }
    const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return wide;  // the call that uses it fails with the system's reason
    }
    std::wstring full(size, L'\0');
    full.resize(::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr));
    if (full.starts_with(L"\\\\")) {
        return std::wstring(kVerbatimPrefix) + L"UNC\\" + full.substr(2);
    }
    return std::wstring(kVerbatimPrefix) + full;
}

std::string SystemMessage(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length > 0 ? std::wstring(text, length) : std::wstring();
    ::LocalFree(text);
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(error) : Narrow(message);
}

std::string TextAsUtf8(std::string text) {
    if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
        return Utf16ToUtf8(std::string_view(text).substr(2), text[0] == '\xFE');
    }
    if (IsUtf8(text)) {
        return text;
    }
    return AnsiToUtf8(text);
}

bool IsPlainFileName(std::string_view name) {
    constexpr std::string_view kForbidden = "\\/:*?\"<>|";
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || kForbidden.find(c) != std::string_view::npos) {
            return false;
        }
    }
    return !IsWindowsDeviceName(name);
}

// Windows hands the program its command line as one wide string; it is split as Windows
// itself splits it, so that any name arrives intact as UTF-8.
std::vector<std::string> CommandLineWords(int argc, char** argv) {
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!words) {
        return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc)
                        : std::vector<std::string>();
    }
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) {
        arguments.push_back(Narrow(words[i]));
    }
    ::LocalFree(words);
    return arguments;
}

namespace {

bool IsCharacterDevice(DWORD which) {
    const HANDLE handle = ::GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           ::GetFileType(handle) == FILE_TYPE_CHAR;
}

}  // namespace

bool StandardInputIsTerminal() { return IsCharacterDevice(STD_INPUT_HANDLE); }

bool StandardErrorIsTerminal() { return IsCharacterDevice(STD_ERROR_HANDLE); }

std::string ExecutableName() {
    std::wstring module(MAX_PATH, L'\0');
    const DWORD length =
        ::GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size()));
    module.resize(length < module.size() ? length : 0);
    const std::string name = Narrow(BaseName(module));
    return name.empty() ? std::string(kExecutableName) : name;
}

std::string UserDataDirectory() {
    const DWORD size = ::GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::wstring folder(size, L'\0');
    folder.resize(::GetEnvironmentVariableW(L"APPDATA", folder.data(), size));
    return folder.empty() ? std::string() : Narrow(folder) + "\\lorvex";
}

bool EntryExists(const std::string& path) {
    return ::GetFileAttributesW(LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) {
        return 0;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void DrawStatusLine(std::string_view line) {
    // Plain characters only: back to the start of the line, the text, blanks over the rest
    // of what was there, and back again, so the report starts on a clean line.
    static std::size_t drawn = 0;
    const HANDLE console = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!::GetConsoleMode(console, &mode)) {
        return;
    }
    std::wstring text = L"\r" + Widen(line);
    const std::size_t shown = text.size() - 1;
    if (shown < drawn) {
        text.append(drawn - shown, L' ');
        text += line.empty() ? L"\r" : L"\r" + Widen(line);
    }
    drawn = shown;
    DWORD written = 0;
    ::WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string ProgramDirectory() {
    std::wstring module(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size()));
        if (length == 0) {
            return ".";
        }
        if (length < module.size()) {
            module.resize(length);
            break;
        }
        module.resize(module.size() * 2);
    }
    // The data files lie beside the program itself, not beside a symbolic link to it.
    UniqueHandle file(::CreateFileW(module.c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file.valid()) {
        std::wstring final(module.size() + 64, L'\0');
        DWORD length = ::GetFinalPathNameByHandleW(file.get(), final.data(),
                                                   static_cast<DWORD>(final.size()), 0);
        if (length >= final.size()) {
            final.resize(length);
            length = ::GetFinalPathNameByHandleW(file.get(), final.data(),
                                                 static_cast<DWORD>(final.size()), 0);
        }
        if (length > 0 && length < final.size()) {
            final.resize(length);
            module = Readable(final);
        }
    }
    return Narrow(DirectoryOf(module));
}

// Windows names every file by its full path: no directory handles are kept for a pass.
struct PassDirectories::Handles {};

PassDirectories::PassDirectories(const std::string&, const std::string&) {}

PassDirectories::~PassDirectories() = default;

std::optional<std::uint64_t> RegularFileLength(const std::string& path, const PassDirectories*) {
    if (path.empty()) {
        return std::nullopt;
    }
    const std::wstring wide = LongPath(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return std::nullopt;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return LengthThroughLink(wide);
    }
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::optional<Failure> CheckSearchableDirectory(const std::string& path) {
    // Opening it for listing is what tells a directory that may be searched.
    UniqueHandle directory(::CreateFileW(LongPath(path).c_str(), FILE_LIST_DIRECTORY,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                         nullptr));
    if (!directory.valid()) {
        return LastFailure();
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(directory.get(), &info)) {
        return LastFailure();
    }
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return FailureFrom(ERROR_DIRECTORY);
    }
    return std::nullopt;
}

std::optional<Failure> CheckWritableDirectory(const std::string& path) {
    if (const auto failure = CheckSearchableDirectory(path)) {
        return failure;
    }
    // Asking for the right to add a file checks the folder's rights and the volume's write
    // protection without writing anything.
    UniqueHandle directory(::CreateFileW(LongPath(path).c_str(), FILE_ADD_FILE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                         nullptr));
    return directory.valid() ? std::nullopt : std::optional(LastFailure());
}

std::optional<Failure> CheckRemovable(const std::string& path) {
    UniqueHandle file(::CreateFileW(
        LongPath(path).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
        nullptr));
    if (!file.valid() && ::GetLastError() == ERROR_WRITE_PROTECT) {
        return LastFailure();
    }
    return std::nullopt;
}

std::optional<Failure> CheckNameFits(const std::string& path) {
    std::wstring wide = Widen(path);
    while (wide.size() > 1 && (wide.back() == L'\\' || wide.back() == L'/')) {
        wide.pop_back();
    }
    // Names of up to 255 UTF-16 units on every Windows file system; paths of up to 32,767
    // in the \\?\ form lorvex uses.
    const std::size_t name = wide.size() - wide.find_last_of(L"\\/") - 1;
    if (name > 255 || LongPath(path).size() > 32767) {
        return FailureFrom(ERROR_FILENAME_EXCED_RANGE);
    }
    return std::nullopt;
}

std::optional<Failure> MakeDirectory(const std::string& path) {
    const std::wstring wide = LongPath(path);
    if (::CreateDirectoryW(wide.c_str(), nullptr)) {
        return std::nullopt;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS && IsDirectoryAttribute(::GetFileAttributesW(wide.c_str()))) {
        return std::nullopt;
    }
    return FailureFrom(error);
}

std::optional<Failure> MoveFileNoReplace(const std::string& from, const std::string& to) {
    std::optional<Failure> result;
    FileMover mover(
        [&](const std::string&, const std::optional<Failure>& failure) { result = failure; });
    mover.Move(from, to);
    mover.Finish();
    return result;
}

FileText ReadWholeFile(const std::string& path, std::string_view what) {
    const auto fail = [&](const std::string& reason) {
        return DataFileError("cannot read " + std::string(what) + " " + Quoted(path) + ": " +
                             reason);
    };
    const std::wstring wide = LongPath(path);
    UniqueHandle file(::CreateFileW(wide.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) {
        const DWORD error = ::GetLastError();
        if (IsDirectoryAttribute(::GetFileAttributesW(wide.c_str()))) {
            throw fail("not a regular file");
        }
        throw fail(SystemMessage(error));
    }
    // A console, a pipe or a device may never end.
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
        throw fail("not a regular file");
    }
    constexpr DWORD kChunk = 1 << 20;
    LARGE_INTEGER size{};
    std::string text;
    if (::GetFileSizeEx(file.get(), &size)) {
        text.reserve(static_cast<std::size_t>(size.QuadPart) + kChunk);
    }
    for (;;) {
        const std::size_t filled = text.size();
        text.resize(filled + kChunk);
        DWORD got = 0;
        if (!::ReadFile(file.get(), text.data() + filled, kChunk, &got, nullptr)) {
            throw fail(SystemMessage(::GetLastError()));
        }
        text.resize(filled + got);
        if (got == 0) {
            break;
        }
    }
    try {
        return FileText(TextAsUtf8(std::move(text)));
    } catch (const std::length_error&) {
        throw fail("too large to read");
    }
}

namespace {

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
    UniqueHandle handle(::CreateFileW(LongPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid()) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(handle.get(), &information)) {
        return std::nullopt;
    }
    return FileIdentity{information.dwVolumeSerialNumber, information.nFileIndexHigh,
                        information.nFileIndexLow};
}

}  // namespace

bool IsSameDirectory(const std::string& first, const std::string& second) {
    const DWORD attributes = ::GetFileAttributesW(LongPath(first).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    const auto a = IdentityOf(first);
    const auto b = IdentityOf(second);
    return a && b && *a == *b;
}

namespace {

std::int64_t NanosecondsSince1970(FILETIME time) {
    // FILETIME counts 100 ns from 1601-01-01.
    constexpr std::int64_t kFrom1601To1970 = 116444736000000000;
    const std::int64_t ticks =
        (static_cast<std::int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return (ticks - kFrom1601To1970) * 100;
}

std::optional<FileFacts> FactsOfWide(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    return FileFacts{(static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                     NanosecondsSince1970(data.ftLastWriteTime)};
}

std::optional<Failure> WithoutLinks(const std::wstring& folder) {
    const std::wstring system = FileSystemName(folder);
    if (system.starts_with(L"FAT") || system == L"exFAT") {
        return Failure{"the destination's file system (" + Narrow(system) + ") has no links"};
    }
    return std::nullopt;
}

Failure LinkReason(DWORD error, const std::wstring& source, const std::wstring& target) {
    if (error == ERROR_NOT_SAME_DEVICE) {
        return Failure{std::string(kHardLinkAcrossReason)};
    }
    if (error == ERROR_PRIVILEGE_NOT_HELD) {
        return Failure{
            "no permission to make symbolic links: turn on Developer Mode, or run with the "
            "right to create symbolic links"};
    }
    if (error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED) {
        if (auto failure = WithoutLinks(DirectoryOf(target))) {
            return *failure;
        }
    }
    return Reason(error, source, target);
}

}  // namespace

std::optional<FileFacts> FactsOf(const std::string& path) { return FactsOfWide(LongPath(path)); }

std::optional<MeasuredFile> MeasureRegularFile(const std::string& path,
                                               const PassDirectories* directories) {
    const auto length = RegularFileLength(path, directories);
    const auto facts = length ? FactsOf(path) : std::nullopt;
    return facts ? std::optional(MeasuredFile{*length, *facts}) : std::nullopt;
}

AppendFile::~AppendFile() {
    if (IsOpen()) {
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    }
}

namespace {

std::optional<Failure> OpenForAppending(const std::string& path, DWORD disposition,
                                        std::intptr_t& handle) {
    const HANDLE file = ::CreateFileW(LongPath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                      nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return LastFailure();
    }
    handle = reinterpret_cast<std::intptr_t>(file);
    return std::nullopt;
}

}  // namespace

std::optional<Failure> AppendFile::Create(const std::string& path) {
    return OpenForAppending(path, CREATE_NEW, handle_);
}

std::optional<Failure> AppendFile::OpenExisting(const std::string& path) {
    return OpenForAppending(path, OPEN_EXISTING, handle_);
}

std::optional<Failure> AppendFile::Append(std::string_view text) {
    while (!text.empty()) {
        DWORD written = 0;
        if (!::WriteFile(reinterpret_cast<HANDLE>(handle_), text.data(), ChunkSize(text.size()),
                         &written, nullptr)) {
            return LastFailure();
        }
        text.remove_prefix(written);
    }
    return std::nullopt;
}

std::optional<Failure> AppendFile::Sync() {
    if (!::FlushFileBuffers(reinterpret_cast<HANDLE>(handle_))) {
        return LastFailure();
    }
    return std::nullopt;
}

std::string UserStateDirectory() {
    const DWORD size = ::GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::wstring folder(size, L'\0');
    folder.resize(::GetEnvironmentVariableW(L"LOCALAPPDATA", folder.data(), size));
    return folder.empty() ? std::string() : Narrow(folder) + "\\lorvex";
}

std::vector<std::string> FileNamesIn(const std::string& directory) {
    std::vector<std::string> names;
    std::wstring pattern = LongPath(directory);
    if (!pattern.ends_with(L'\\')) {
        pattern += L'\\';
    }
    pattern += L'*';
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            names.push_back(Narrow(found.cFileName));
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

bool RemoveFile(const std::string& path) { return DeleteAnyFile(LongPath(path)) == ERROR_SUCCESS; }

bool RemoveEmptyDirectory(const std::string& path) {
    return ::RemoveDirectoryW(LongPath(path).c_str()) != 0;
}

std::string AbsolutePath(const std::string& path) {
    const std::wstring wide = Widen(path);
    const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return path;
    }
    std::wstring full(size, L'\0');
    full.resize(::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr));
    return Narrow(full);
}

std::optional<Failure> CheckLinkable(const std::string& source, const std::string& folder,
                                     Transfer kind) {
    if (auto failure = WithoutLinks(LongPath(folder))) {
        return failure;
    }
    const auto file = IdentityOf(source);
    const auto directory = IdentityOf(folder);
    if (kind == Transfer::HardLink && file && directory && file->volume != directory->volume) {
        return Failure{std::string(kHardLinkAcrossReason)};
    }
    return std::nullopt;
}

// Renames on one volume; across volumes copies in batches, each completed in the same
// order as on POSIX: every copy flushed, then put in place without replacing anything,
// and only then are the batch's sources deleted. (NTFS keeps its directories itself.)
class FileMover::Impl {
public:
    Impl(MoveOutcome outcome, Transfer transfer, MoveLog* log)
        : outcome_(std::move(outcome)),
          transfer_(transfer),
          log_(transfer == Transfer::Move ? log : nullptr) {}

    void Move(const std::string& from, const std::string& to) {
        const std::wstring source = LongPath(from);
        const std::wstring target = LongPath(to);
        if (transfer_ == Transfer::Copy) {
            CopyAcross(from, source, target);
            return;
        }
        if (transfer_ != Transfer::Move) {
            Link(from, source, target);
            return;
        }
        // Without MOVEFILE_REPLACE_EXISTING an existing target makes the rename fail. Never
        // MOVEFILE_COPY_ALLOWED: its copy carries the archive's own name while it is
        // written, so an interrupted move would leave a truncated archive that looks whole.
        if (::MoveFileExW(source.c_str(), target.c_str(), 0)) {
            // Recorded once made; a move to another volume is recorded with its batch.
            if (log_) {
                if (const auto facts = FactsOfWide(target)) {
                    log_->RecordRename(from, to, *facts);
                }
            }
            outcome_(from, std::nullopt);
            return;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_NOT_SAME_DEVICE) {
            outcome_(from, Reason(error, source, target));
            return;
        }
        CopyAcross(from, source, target);
    }

    void Finish() { CompleteBatch(); }

private:
    // A hard link, or a symbolic link to the archive's full path; neither replaces a file.
    void Link(const std::string& from, const std::wstring& source, const std::wstring& target) {
        const bool made =
            transfer_ == Transfer::HardLink
                ? ::CreateHardLinkW(target.c_str(), source.c_str(), nullptr) != 0
                : ::CreateSymbolicLinkW(target.c_str(), Widen(AbsolutePath(from)).c_str(),
                                        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0;
        if (made) {
            outcome_(from, std::nullopt);
            return;
        }
        const DWORD error = ::GetLastError();
        outcome_(from, LinkReason(error, source, target));
    }

    struct Copy {
        std::string from;
        std::wstring source;
        std::wstring target;
        std::wstring temporary;
    };

    // The bounds of a batch, as on POSIX.
    static constexpr std::size_t kBatchFiles = 64;
    static constexpr std::uint64_t kBatchBytes = std::uint64_t{128} << 20;

    void CopyAcross(const std::string& from, const std::wstring& source,
                    const std::wstring& target) {
        if (std::any_of(batch_.begin(), batch_.end(),
                        [&](const Copy& copy) { return copy.from == from; })) {
            return;  // already on its way
        }
        if (::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
            // Spares a long copy that could never be put in place.
            outcome_(from, Reason(ERROR_ALREADY_EXISTS, source, target));
            return;
        }
        std::wstring temporary;
        if (const DWORD error = CopyToTemporary(source, target, temporary);
            error != ERROR_SUCCESS) {
            outcome_(from, FailureFrom(error));
            return;
        }
        bytes_ += FileLength(temporary);
        batch_.push_back({from, source, target, std::move(temporary)});
        if (batch_.size() >= kBatchFiles || bytes_ >= kBatchBytes) {
            CompleteBatch();
        }
    }

    void CompleteBatch() {
        const std::vector<Copy> batch = std::exchange(batch_, {});
        bytes_ = 0;
        // A failed flush keeps every source of the batch.
        DWORD flushError = ERROR_SUCCESS;
        for (const auto& copy : batch) {
            if (const DWORD error = Flush(copy.temporary);
                error != ERROR_SUCCESS && flushError == ERROR_SUCCESS) {
                flushError = error;
            }
        }
        std::vector<const Copy*> placed;
        std::vector<MovedFile> records;
        for (const auto& copy : batch) {
            if (flushError != ERROR_SUCCESS) {
                DeleteAnyFile(copy.temporary);
                outcome_(copy.from, FailureFrom(flushError));
            } else if (!::MoveFileExW(copy.temporary.c_str(), copy.target.c_str(), 0)) {
                const DWORD error = ::GetLastError();
                DeleteAnyFile(copy.temporary);
                outcome_(copy.from, Reason(error, copy.source, copy.target));
            } else {
                placed.push_back(&copy);
            }
        }
        if (log_ && !placed.empty()) {
            // The records on disk before any source goes; without them the copies go back.
            for (const auto* copy : placed) {
                records.push_back({copy->from, Narrow(copy->target),
                                   FactsOfWide(copy->target).value_or(FileFacts{})});
            }
            if (const auto failure = log_->Record(records, true)) {
                for (const auto* copy : placed) {
                    DeleteAnyFile(copy->target);
                    outcome_(copy->from, Failure{*failure});
                }
                return;
            }
        }
        for (std::size_t i = 0; i < placed.size(); ++i) {
            const Copy* copy = placed[i];
            if (transfer_ == Transfer::Copy) {
                outcome_(copy->from, std::nullopt);
                continue;
            }
            // A read-only archive moves like any other: the attribute travels with the
            // copy. A source that cannot be deleted takes its copy back.
            if (const DWORD error = DeleteAnyFile(copy->source); error != ERROR_SUCCESS) {
                DeleteAnyFile(copy->target);
                if (log_) {
                    log_->Withdraw(records[i]);
                }
                outcome_(copy->from, FailureFrom(error));
            } else {
                outcome_(copy->from, std::nullopt);
            }
        }
    }

    MoveOutcome outcome_;
    Transfer transfer_;
    MoveLog* log_;
    std::vector<Copy> batch_;
    std::uint64_t bytes_ = 0;
};

FileMover::FileMover(MoveOutcome outcome, const PassDirectories*, Transfer transfer, MoveLog* log)
    : impl_(std::make_unique<Impl>(std::move(outcome), transfer, log)) {}

FileMover::~FileMover() {
    try {
        Finish();
    } catch (...) {
        // A move left unfinished keeps its source, which loses nothing.
    }
}

void FileMover::Move(const std::string& from, const std::string& to, const FileFacts*) {
    impl_->Move(from, to);
}

void FileMover::Finish() { impl_->Finish(); }

bool IsTemporaryCopyName(std::string_view name) {
    // A name cut short fills the 255 UTF-16 units, or one less before a surrogate pair.
    return HasTemporaryCopyShape(name,
                                 [](std::string_view whole) { return Widen(whole).size() >= 254; });
}

std::size_t RemoveLeftoverCopies(const std::string& directory) {
    const std::wstring folder = LongPath(directory);
    const std::wstring pattern =
        folder + L".*" + std::wstring(kPartialSuffix.begin(), kPartialSuffix.end());
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    std::vector<std::wstring> leftovers;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            IsTemporaryCopyName(Narrow(found.cFileName))) {
            leftovers.push_back(folder + found.cFileName);
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return static_cast<std::size_t>(std::count_if(
        leftovers.begin(), leftovers.end(),
        [](const std::wstring& path) { return DeleteAnyFile(path) == ERROR_SUCCESS; }));
}

namespace {

// What the console's control handler, which runs on a thread of its own, shares with the
// pass.
struct StopState {
    volatile LONG requested = 0;
    HANDLE passOver = nullptr;  // set once the run has reported
};

StopState stopState;

BOOL WINAPI NoteStopRequest(DWORD event) {
    ::InterlockedExchange(&stopState.requested, 1);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        return TRUE;
    }
    // A closed console window (or logoff, shutdown) ends the process once this returns,
    // a few seconds at most after the event: the batch in hand is finished first.
    ::WaitForSingleObject(stopState.passOver, INFINITE);
    ::ExitProcess(1);
}

}  // namespace

StopRequests::StopRequests() {
    ::InterlockedExchange(&stopState.requested, 0);
    // Kept for the life of the process: a handler may still be waiting on it.
    if (!stopState.passOver) {
        stopState.passOver = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ::ResetEvent(stopState.passOver);
    ::SetConsoleCtrlHandler(NoteStopRequest, TRUE);
}

StopRequests::~StopRequests() {
    ::SetEvent(stopState.passOver);
    ::SetConsoleCtrlHandler(NoteStopRequest, FALSE);
}

bool StopRequests::Requested() const { return stopState.requested != 0; }

}  // namespace lorvex::platform
