// What the Windows platform layer offers the rest of the Windows build (the desktop code
// in win32/ and the tests): the one place where UTF-8 and UTF-16 meet, and the system's
// words for an error.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <string_view>

namespace lorvex::platform {

// UTF-8 to UTF-16 and back. Invalid sequences become U+FFFD.
std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);

// The path as the wide API takes it without the MAX_PATH limit: absolute, in \\?\ form.
std::wstring LongPath(const std::string& path);

// The system's message for an error code, in the user's language, without the line end.
std::string SystemMessage(DWORD error);

// Data-file text as UTF-8: UTF-8 stays as it is, text with a UTF-16 byte order mark is
// converted, and anything else is taken to be in the ANSI code page. Throws
// std::length_error for text too large to convert.
std::string TextAsUtf8(std::string text);

// Owns a kernel handle.
class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Close(); }
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    // Closes now and says whether that worked.
    bool Close() {
        const bool closed = !valid() || ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE handle_;
};

}  // namespace lorvex::platform
