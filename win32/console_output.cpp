#include "console_output.h"

#include "desktop.h"

#include <string>

#include "desktop_windows.h"
#include "errors.h"

namespace lorvex::win32 {
namespace {

bool IsStream(HANDLE stream) { return stream != nullptr && stream != INVALID_HANDLE_VALUE; }

// A file or a pipe the parent redirected the output to. A windowed program may also be
// handed console handles of a console it is not attached to, which lead nowhere.
bool IsRedirected(HANDLE stream) {
    if (!IsStream(stream)) {
        return false;
    }
    const DWORD type = ::GetFileType(stream);
    return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
}

void WriteToConsole(HANDLE console, std::wstring_view text) {
    // Small pieces, as older consoles refuse very long writes; never half a surrogate pair.
    constexpr std::size_t kPiece = 4096;
    while (!text.empty()) {
        std::size_t count = std::min(text.size(), kPiece);
        if (count < text.size() && IS_HIGH_SURROGATE(text[count - 1])) {
            --count;
        }
        DWORD written = 0;
        if (!::WriteConsoleW(console, text.data(), static_cast<DWORD>(count), &written, nullptr) ||
            written == 0) {
            return;
        }
        text.remove_prefix(written);
    }
}

void WriteBytes(HANDLE stream, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto count = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
        if (!::WriteFile(stream, bytes.data(), count, &written, nullptr) || written == 0) {
            return;  // a closed pipe: nobody is reading
        }
        bytes.remove_prefix(written);
    }
}

}  // namespace

StandardStreams StandardStreams::OfProcess() {
    return {::GetStdHandle(STD_OUTPUT_HANDLE), ::GetStdHandle(STD_ERROR_HANDLE)};
}

StandardStreams StandardStreams::OfParent() {
    const StandardStreams given = OfProcess();
    if (IsRedirected(given.output) || IsRedirected(given.error)) {
        return given;
    }
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) {
        return {};
    }
    // Lives as long as the process; the system closes it at exit.
    const HANDLE console =
        ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    return {console, console};
}

void WriteText(HANDLE stream, std::string_view text) {
    if (!IsStream(stream)) {
        return;
    }
    DWORD mode = 0;
    if (::GetConsoleMode(stream, &mode)) {
        WriteToConsole(stream, platform::Widen(text));
        return;
    }
    // Files and pipes get Windows line ends, as Notepad and findstr expect.
    std::string lines;
    lines.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            lines += '\r';
        }
        lines += text[i];
    }
    WriteBytes(stream, lines);
}

void ConsoleOutput::Usage(std::string_view usage) {
    WriteText(streams_.error, std::string(usage) + "\n");
}

void ConsoleOutput::Report(std::string_view report) {
    WriteText(streams_.output, std::string(report) + "\n");
}

void ConsoleOutput::Error(std::string_view error) {
    WriteText(streams_.error, "lorvex: " + std::string(error) + "\n");
}

}  // namespace lorvex::win32
