// The test support on Windows: temporary directories under %TEMP%, programs run with
// CreateProcessW and their output read from pipes.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <thread>

#include "test_support.h"

namespace lorvex::test {
namespace {

std::wstring Widen(const std::string& text) { return PathFromUtf8(text).wstring(); }

std::string Narrow(const std::wstring& text) { return Utf8(fs::path(text)); }

std::string Message(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text, length);
    ::LocalFree(text);
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
        message.pop_back();
    }
    return Narrow(message);
}

// One word of a command line as CommandLineToArgvW splits it back: quoted when it holds
// blanks or quotes, with backslashes doubled only where they come before a quote.
std::wstring Quoted(const std::wstring& word) {
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return word;
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { Close(); }
    HANDLE get() const { return handle_; }
    HANDLE* out() { return &handle_; }
    void Close() {
        if (handle_ && handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
        handle_ = nullptr;
    }

private:
    HANDLE handle_;
};

std::string ReadAll(HANDLE pipe) {
    std::string text;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    return text;
}

}  // namespace

OtherFileSystemDirectory::OtherFileSystemDirectory(const fs::path& besides) {
    const UINT type = ::GetDriveTypeW(L"X:\\");
    if (besides.root_name() == "X:" ||
        (type != DRIVE_FIXED && type != DRIVE_RAMDISK && type != DRIVE_REMOTE)) {
        return;
    }
    std::mt19937_64 random(std::random_device{}());
    for (int attempt = 0; attempt < 100 && !found(); ++attempt) {
        const fs::path candidate = fs::path("X:\\") / ("lorvex-test-" + std::to_string(random()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate;
        }
    }
}

OtherFileSystemDirectory::~OtherFileSystemDirectory() {
    if (found()) {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
}

TempDir::TempDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            fs::temp_directory_path() / ("lorvex-test-" + std::to_string(random()));
        if (fs::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

std::string FileExistsReason() { return Message(ERROR_ALREADY_EXISTS); }

std::string NoSuchFileReason() { return Message(ERROR_FILE_NOT_FOUND); }

// True when `extra` sets the variable of `entry` ("NAME=value"), which it then replaces.
bool SetBy(const std::vector<std::string>& extra, std::string_view entry) {
    const std::string_view name = entry.substr(0, entry.find('=') + 1);
    return std::any_of(extra.begin(), extra.end(),
                       [&](const std::string& e) { return e.starts_with(name); });
}

std::vector<std::string> ProgramEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> environment;
    wchar_t* block = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry; entry += std::wcslen(entry) + 1) {
        const std::string line = Narrow(entry);
        if (!SetBy(extra, line)) {
            environment.push_back(line);
        }
    }
    ::FreeEnvironmentStringsW(block);
    environment.insert(environment.end(), extra.begin(), extra.end());
    return environment;
}

// Windows programs end lines in CR LF in files and pipes; the tests compare lines.
std::string WithLineFeeds(const std::string& text) {
    std::string lines;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            lines += text[i];
        }
    }
    return lines;
}

RunResult Run(const std::string& program, const std::vector<std::string>& arguments,
              const std::vector<std::string>& extraEnvironment, std::chrono::seconds limit) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle outRead, outWrite, errRead, errWrite;
    if (!::CreatePipe(outRead.out(), outWrite.out(), &inheritable, 0) ||
        !::CreatePipe(errRead.out(), errWrite.out(), &inheritable, 0)) {
        throw std::runtime_error("CreatePipe failed");
    }
    // Only the writing ends go to the child, or the reads below would never end.
    ::SetHandleInformation(outRead.get(), HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errRead.get(), HANDLE_FLAG_INHERIT, 0);
    Handle nul(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                             OPEN_EXISTING, 0, nullptr));

    std::wstring commandLine = L"\"" + Widen(program) + L"\"";
    for (const auto& argument : arguments) {
        commandLine += L" " + Quoted(Widen(argument));
    }
    std::wstring environmentBlock;
    if (!extraEnvironment.empty()) {
        for (const auto& entry : ProgramEnvironment(extraEnvironment)) {
            environmentBlock += Widen(entry) + L'\0';
        }
        environmentBlock += L'\0';
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.get();
    startup.hStdOutput = outWrite.get();
    startup.hStdError = errWrite.get();
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(Widen(program).c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                          CREATE_UNICODE_ENVIRONMENT,
                          environmentBlock.empty() ? nullptr : environmentBlock.data(), nullptr,
                          &startup, &process)) {
        throw std::runtime_error("cannot start " + program + ": " + Message(::GetLastError()));
    }
    Handle processHandle(process.hProcess);
    Handle threadHandle(process.hThread);
    outWrite.Close();
    errWrite.Close();
    RunResult result;
    // A program still running at its limit is ended, which also ends the reads below.
    std::thread watchdog([&] {
        const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(limit);
        if (::WaitForSingleObject(processHandle.get(), static_cast<DWORD>(milliseconds.count())) ==
            WAIT_TIMEOUT) {
            result.timedOut = true;
            ::TerminateProcess(processHandle.get(), 1);
        }
    });
    std::thread errReader([&] { result.err = ReadAll(errRead.get()); });
    result.rawOut = ReadAll(outRead.get());
    errReader.join();
    result.out = WithLineFeeds(result.rawOut);
    result.err = WithLineFeeds(result.err);
    watchdog.join();
    ::WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD status = 0;
    ::GetExitCodeProcess(processHandle.get(), &status);
    result.exitStatus = static_cast<int>(status);
    return result;
}

}  // namespace lorvex::test
