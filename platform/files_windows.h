// The Win32 file helpers that the platform layer's functions and the system's file system
// (file_system_windows.cpp) share. Every path here is wide and in \\?\ form.
#pragma once

#include "platform_windows.h"

namespace lorvex::platform {

bool IsDirectoryAttribute(DWORD attributes);
// The path up to its last separator, and the name after it.
std::wstring DirectoryOf(const std::wstring& path);
std::wstring BaseName(const std::wstring& path);

// ".<name>.XXXXXX.lorvex-partial" beside `target`, cut to fit a file name.
std::wstring TemporaryName(const std::wstring& target, const std::wstring& runTag);

// Clears the read-only attribute so that a file can be deleted or written; returns the
// attributes it had, or INVALID_FILE_ATTRIBUTES.
DWORD MakeWritable(const std::wstring& path);
// Deletes a file, read-only or not; the error code, or ERROR_SUCCESS.
DWORD DeleteAnyFile(const std::wstring& path);

// Copies `source` to a fresh temporary name beside `target`, not yet flushed. A symbolic
// link is copied as a link, never read through. Returns the temporary name in `temporary`
// (empty when nothing was created).
DWORD CopyToTemporary(const std::wstring& source, const std::wstring& target,
                      const std::wstring& runTag, std::wstring& temporary);

// Opens a file itself (not what a link names) for reading, sharing everything.
HANDLE OpenForReading(const std::wstring& path);

// True when both are regular files with the same bytes.
bool HoldSameBytes(const std::wstring& first, const std::wstring& second);

// The name of the file system that holds `path`, e.g. "NTFS", "FAT32", "exFAT"; empty when
// unknown.
std::wstring FileSystemName(const std::wstring& path);

}  // namespace lorvex::platform
