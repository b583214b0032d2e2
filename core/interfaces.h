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

// The message that ends a move, whole and split for a box that must fit on a screen.
struct MoveReportText {
    std::string full;     // the count, then every failure: what the command line prints
    std::string summary;  // the count, the number of failures and the first few of them
    std::string details;  // every failure, one a line; "" when the summary holds them all
};

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void ShowMessage(std::string_view title, std::string_view text) = 0;
    // The result of a move. A sink that can show details on demand shows the summary
    // and the details; any other shows the whole report.
    virtual void ShowMoveReport(std::string_view title, const MoveReportText& report) {
        ShowMessage(title, report.full);
    }
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

// How far a pass has come, in numbers known exactly from its start.
struct PassStatus {
    std::int64_t checked;  // names of the map checked so far, this one included
    std::int64_t total;    // names the pass checks in all
    std::int64_t movedCount;
    std::int64_t failedCount;
    std::string_view archive;  // full name of the archive just checked
    // While the search folder is listed, before any name is checked: the names seen so
    // far (a folder of a slow share takes seconds).
    bool listing = false;
    std::int64_t listed = 0;
    // An undo checks the archives of its run's journal and moves them back.
    bool undoing = false;
};

class PassProgress {
public:
    virtual ~PassProgress() = default;
    virtual void PassBegins() {}
    // Called as the search folder is listed, and for every name once it is checked, before
    // its archive is moved. Returning
    // false ends the pass there; the archives moved so far stay moved and this one stays
    // where it is.
    virtual bool ContinuePass(const PassStatus& status) = 0;
    // Called however the pass ends, before its result is reported.
    virtual void PassEnds() {}
};

}  // namespace lorvex
