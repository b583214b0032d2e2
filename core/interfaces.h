// The ways the core reaches the outside: messages, the window itself, the folder picker
// and progress of a long pass. The console, the Qt window and the tests supply their own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lorvex {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void ShowMessage(std::string_view title, std::string_view text) = 0;
};

class WindowView {
public:
    virtual ~WindowView() = default;
    virtual void Show() = 0;
    virtual void Refresh() = 0;  // repaint at once
};

class FolderPicker {
public:
    virtual ~FolderPicker() = default;
    // The chosen directory's full path, or "" on cancel.
    virtual std::string BrowseFolder(std::string_view prompt) = 0;
};

struct PassStatus {
    std::int64_t movedCount;
    std::int64_t failedCount;
    std::string_view archive;  // full name of the archive about to be moved
};

class PassProgress {
public:
    virtual ~PassProgress() = default;
    // Called for every archive found, before it is moved. Returning false ends the pass
    // there; the archives moved so far stay moved and this one stays where it is.
    virtual bool ContinuePass(const PassStatus& status) = 0;
};

}  // namespace lorvex
