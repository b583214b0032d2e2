// Paths longer than MAX_PATH in the Windows tests. The standard library of MinGW lists
// and removes directories through functions bound to MAX_PATH, so these go through the
// wide API with \\?\ paths instead.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace lorvex::test {

// The path in \\?\ form, which the wide API takes at any length.
inline std::filesystem::path Verbatim(const std::filesystem::path& path) {
    return std::filesystem::path(L"\\\\?\\" + std::filesystem::absolute(path).wstring());
}

// Removes a directory tree of any depth.
inline void RemoveLongTree(const std::filesystem::path& top) {
    const std::wstring directory = Verbatim(top).wstring();
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((directory + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveLongTree(top / name);
            } else {
                ::SetFileAttributesW((directory + L"\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW((directory + L"\\" + name).c_str());
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(directory.c_str());
}

// Whether a directory holds exactly one entry, `name`.
inline bool HoldsOnly(const std::filesystem::path& directory, const std::wstring& name) {
    WIN32_FIND_DATAW found{};
    const HANDLE search =
        ::FindFirstFileW((Verbatim(directory).wstring() + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    int others = 0;
    bool seen = false;
    do {
        const std::wstring entry = found.cFileName;
        if (entry == name) {
            seen = true;
        } else if (entry != L"." && entry != L"..") {
            ++others;
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return seen && others == 0;
}

}  // namespace lorvex::test
