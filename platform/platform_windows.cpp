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
#include "files_windows.h"
#include "platform.h"
#include "terminal.h"

namespace lorvex::platform {
namespace {

constexpr std::wstring_view kVerbatimPrefix = L"\\\\?\\";
constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";

Failure FailureFrom(DWORD error) { return Failure{SystemMessage(error)}; }

Failure LastFailure() { return FailureFrom(::GetLastError()); }

Failure LastFailureOf(DWORD error) { return FailureFrom(error); }

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

std::optional<Failure> ReadWholeFile(const std::string& path, FileText& text) {
    const std::wstring wide = LongPath(path);
    UniqueHandle file(::CreateFileW(wide.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) {
        const DWORD error = ::GetLastError();
        if (IsDirectoryAttribute(::GetFileAttributesW(wide.c_str()))) {
            return Failure{"not a regular file"};
        }
        return LastFailureOf(error);
    }
    // A console, a pipe or a device may never end.
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
        return Failure{"not a regular file"};
    }
    constexpr DWORD kChunk = 1 << 20;
    LARGE_INTEGER size{};
    std::string bytes;
    if (::GetFileSizeEx(file.get(), &size)) {
        bytes.reserve(static_cast<std::size_t>(size.QuadPart) + kChunk);
    }
    for (;;) {
        const std::size_t filled = bytes.size();
        bytes.resize(filled + kChunk);
        DWORD got = 0;
        if (!::ReadFile(file.get(), bytes.data() + filled, kChunk, &got, nullptr)) {
            return LastFailure();
        }
        bytes.resize(filled + got);
        if (got == 0) {
            break;
        }
    }
    try {
        text = FileText(TextAsUtf8(std::move(bytes)));
    } catch (const std::length_error&) {
        return Failure{"too large to read"};
    }
    return std::nullopt;
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

std::string UserStateDirectory() {
    const DWORD size = ::GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::wstring folder(size, L'\0');
    folder.resize(::GetEnvironmentVariableW(L"LOCALAPPDATA", folder.data(), size));
    return folder.empty() ? std::string() : Narrow(folder) + "\\lorvex";
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
