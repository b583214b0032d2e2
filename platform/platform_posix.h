// What the POSIX platform files share: descriptors that close themselves, files named
// relative to an open folder, and path pieces.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "platform.h"

namespace lorvex::platform {

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    // Gives the descriptor up to the caller, who closes it.
    int Release() { return std::exchange(fd_, -1); }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports the result, since a failed close can mean lost data.
    int Close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// A file named relative to a directory descriptor (AT_FDCWD: by its full path).
struct Place {
    int directory = AT_FDCWD;
    const char* name = nullptr;
};

// The directory part of a path without its trailing slash ("." for a bare name).
std::string DirectoryOf(const std::string& path);
// The last part of a path.
std::string BaseName(const std::string& path);

// The name of the file system under `folder` when it is one that has no links (FAT,
// exFAT), else null.
const char* FileSystemWithoutLinks(const std::string& folder);

}  // namespace lorvex::platform
