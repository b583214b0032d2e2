// The ways the core reaches the outside: messages, the window itself, the folder picker
// and progress of a long pass. The console, each window and the tests supply their own.
//
// Every string that crosses these interfaces is UTF-8: texts, archive names and paths
// alike. A binding converts to its toolkit's or the system's encoding at its own edge.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lorvex {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void ShowMessage(std::string_view title, std::string_view text) = 0;
    // Why an action could not do its work. `text` starts in lower case, as a command
    // line's error does; a window may capitalise it.
    virtual void ShowError(std::string_view title, std::string_view text) {
        ShowMessage(title, text);
    }
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
    // The chosen directory's full path, or "" on cancel. `startAt` is a directory to open
    // the picker in, "" for the picker's usual start.
    virtual std::string BrowseFolder(std::string_view prompt, std::string_view startAt) = 0;
};

struct PassStatus {
    std::int64_t movedCount;
    std::int64_t failedCount;
    std::string_view archive;  // full name of the archive about to be moved
};

class PassProgress {
public:
    virtual ~PassProgress() = default;
    virtual void PassBegins() {}
    // Called for every archive found, before it is moved. Returning false ends the pass
    // there; the archives moved so far stay moved and this one stays where it is.
    virtual bool ContinuePass(const PassStatus& status) = 0;
    // Called however the pass ends, before its result is reported.
    virtual void PassEnds() {}
};

}  // namespace lorvex
