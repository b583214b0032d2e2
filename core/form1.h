// The one window, Form1: its controls, its variables and its handlers. The window bindings
// and the command line all work on this object; the move action runs one Pass (pass.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "controls.h"
#include "file_system.h"
#include "interfaces.h"
#include "list_mode.h"
#include "move_job.h"
#include "pass.h"
#include "platform.h"
#include "run_history.h"

namespace lorvex {

// Ways to run the move action that only the command line offers.
struct MoveOptions {
    bool allCategories = false;  // every category of the list, each into its own folder
    bool dryRun = false;
    Transfer transfer = Transfer::Move;
    bool journal = true;  // a move writes the journal that --runs lists and --undo reads
};

// The window's own variables, readable by everyone, written by Form1 alone: what the last
// move was asked to do, and how many archives it moved.
struct Form1Variables {
    std::string searchdir;  // ends in a separator
    std::string destdir;    // ends in a separator
    std::string category;
    std::int64_t movedCount = 0;
};

class Form1 {
public:
    // The data files are read from the user's data folder, else from `programDirectory`
    // (given without a trailing separator).
    explicit Form1(std::string programDirectory);
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    void SetMessageSink(MessageSink* sink) { messages_ = sink; }
    void SetWindowView(WindowView* view) { view_ = view; }
    void SetFolderPicker(FolderPicker* picker) { picker_ = picker; }
    void SetPassProgress(PassProgress* progress) { progress_ = progress; }
    void SetMoveOptions(MoveOptions options) { options_ = options; }
    // The file system every action works on; the system's own unless a test gives another.
    void SetFileSystem(fs::FileSystem& system) { system_ = &system; }
    fs::FileSystem& FileSystem() const { return *system_; }

    // Controls.
    ComboBox Combo1;
    OptionButton Option1;  // "Simple Lists"
    OptionButton Option2;  // "Full Lists"
    TextBox Start;         // search directory
    TextBox Endd;          // destination directory

    // The window.
    void Show();
    void Refresh();

    // Handlers. An error in a handler goes to the message sink, never out of it; the
    // other operations throw LorvexError.
    void Command2_Click();  // the move action: checks the fields, then runs the pass
    void Command1_Click();  // runs the pass over the variables as they stand
    void Command3_Click();  // picks the search directory
    void Command4_Click();  // picks the destination directory
    void Form_Load();
    void Option1_Click();
    void Option2_Click();
    void getCats();  // fills Combo1 from the category list of the list mode

    // File operations.
    FileState FileExists(const std::string& strFile) const;
    FileState CheckForFile(const std::string& path, std::string_view file) const;
    // Moves one file at once, never replacing; a failure is named in LastPass().
    bool MoveFiles(const std::string& fromdir, const std::string& todir);
    // Creates the destination directory; throws when it cannot, or when nothing could be
    // put into it.
    void createFolder(const std::string& path);

    // Reads the map of the request's list mode and runs one pass over it, with the run's
    // journal when the request asks for one, nothing checked first. Throws LorvexError when
    // the map or the journal cannot be read or written.
    PassResult RunPass(const PassRequest& request);
    // Reads the map of `mode`. Throws when it cannot be read or has no header, so that a
    // move can stop before it creates anything.
    platform::FileText ReadCategoryMap(ListMode mode) const;

    const Form1Variables& Variables() const { return vars_; }
    const PassResult& LastPass() const { return lastPass_; }
    // True when the last handler stopped at an error (which went to the message sink).
    bool LastHandlerFailed() const { return lastHandlerFailed_; }
    // The control whose value the last handler's error was about ("Start", "Endd"), ""
    // when none: a window puts the focus there once the error is shown.
    std::string_view ControlToFix() const { return controlToFix_; }

    const std::string& ProgramDirectory() const { return programDirectory_; }
    ListMode CurrentListMode() const;
    std::string CategoryListPath() const;
    std::string CategoryMapPath(ListMode mode) const;

private:
    template <class Handler>
    void Guarded(const Handler& handler);
    void MoveAction();
    void LoadCategories();
    void PickDirectoryInto(TextBox& field, std::string_view prompt);
    MoveRequest RequestFromVariables() const;
    void Remember(PassResult result);

    Form1Variables vars_;
    PassResult lastPass_;
    bool lastHandlerFailed_ = false;
    std::string_view controlToFix_;
    int handlerDepth_ = 0;
    std::string programDirectory_;
    MessageSink* messages_ = nullptr;
    WindowView* view_ = nullptr;
    FolderPicker* picker_ = nullptr;
    PassProgress* progress_ = nullptr;
    MoveOptions options_;
    fs::FileSystem* system_;
};

}  // namespace lorvex
