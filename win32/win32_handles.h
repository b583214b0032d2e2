// Owners of the system objects the window uses: GDI fonts, COM interfaces and strings, and
// the COM apartment of the window's thread. Each releases its object exactly once.
#pragma once

#include "platform_windows.h"

#include <objbase.h>

#include <utility>

namespace lorvex::win32 {

class UniqueFont {
public:
    explicit UniqueFont(HFONT font = nullptr) : font_(font) {}
    UniqueFont(UniqueFont&& other) noexcept : font_(std::exchange(other.font_, nullptr)) {}
    UniqueFont& operator=(UniqueFont&& other) noexcept {
        std::swap(font_, other.font_);
        return *this;
    }
    ~UniqueFont() {
        if (font_) {
            ::DeleteObject(font_);
        }
    }
    HFONT get() const { return font_; }

private:
    HFONT font_;
};

// A counted reference to a COM interface.
template <class Interface>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() {
        if (pointer_) {
            pointer_->Release();
        }
    }
    Interface* operator->() const { return pointer_; }
    Interface* get() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    // For functions that hand out a new reference through an out parameter.
    Interface** Receive() { return &pointer_; }
    void** ReceiveVoid() { return reinterpret_cast<void**>(&pointer_); }

private:
    Interface* pointer_ = nullptr;
};

// A string the COM task allocator handed out.
class CoTaskString {
public:
    CoTaskString() = default;
    CoTaskString(const CoTaskString&) = delete;
    CoTaskString& operator=(const CoTaskString&) = delete;
    ~CoTaskString() { ::CoTaskMemFree(text_); }
    const wchar_t* get() const { return text_; }
    wchar_t** Receive() { return &text_; }

private:
    wchar_t* text_ = nullptr;
};

// The single-threaded apartment the shell's dialogs need, for as long as this lives.
class ComApartment {
public:
    ComApartment()
        : initialised_(SUCCEEDED(
              ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (initialised_) {
            ::CoUninitialize();
        }
    }

private:
    bool initialised_;
};

}  // namespace lorvex::win32
