// The state of the one window, Form1: its controls, its variables and every operation of
// the sorting core. The window binding and the command line both work on this object.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "controls.h"
#include "interfaces.h"

namespace lorvex {

namespace platform {
class FileMover;
}

struct EntryRow {
    std::string_view name;  // views into the map text of the current pass
    std::string_view category;
};

struct MoveFailure {
    std::string archive;  // file name, e.g. "album.zip"
    std::string reason;
};

class Form1 {
public:
    // The data files are read from `programDirectory`, given without a trailing separator.
    explicit Form1(std::string programDirectory);
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    void SetMessageSink(MessageSink* sink) { messages_ = sink; }
    void SetWindowView(WindowView* view) { view_ = view; }
    void SetFolderPicker(FolderPicker* picker) { picker_ = picker; }
    void SetPassProgress(PassProgress* progress) { progress_ = progress; }

    // Controls.
    ComboBox Combo1;
    OptionButton Option1;  // "Simple Lists"
    OptionButton Option2;  // "Full Lists"
    TextBox Start;         // search directory
    TextBox Endd;          // destination directory

    // The window.
    void Show();
    void Refresh();

    // Variables.
    int check = 0;  // file-state code of the last CheckForFile
    std::vector<EntryRow> entryTable;
    std::string lineBuf;  // work value of the pass, getCats and the folder pickers
    std::string token;
    std::string searchdir;
    std::string destdir;
    std::string category;
    std::int64_t entryNo = 0;
    std::size_t pos = 0;
    std::int64_t movedCount = 0;
    std::vector<MoveFailure> failedMoves;  // archives found but not moved by the last pass
    bool passCancelled = false;

    // Operations.
    int FileExists(const std::string& strFile) const;
    void Command2_Click();
    void CheckForFile(const std::string& path, std::string_view file);
    void getCats();
    bool MoveFiles(const std::string& fromdir, const std::string& todir);
    void createFolder(const std::string& path);
    void Command1_Click();
    void Command3_Click();
    void Command4_Click();
    void Form_Load();
    void Option1_Click();
    void Option2_Click();

    ListMode CurrentListMode() const;
    std::string CategoryListPath() const;
    std::string CategoryMapPath() const;
    // The text of the message that ends a move: the count, then any failures.
    std::string MoveReport() const;

private:
    void PickDirectoryInto(TextBox& field, std::string_view prompt);
    bool MoveOneArchive(std::string_view name, platform::FileMover& mover);

    std::string programDirectory_;
    std::string mapText_;  // the map read by the last pass; entryTable points into it
    // Work buffers kept across archives, so that a pass allocates no strings per archive.
    std::string archiveName_;
    std::string checkedPath_;  // the name CheckForFile measured last
    std::string targetPath_;
    MessageSink* messages_ = nullptr;
    WindowView* view_ = nullptr;
    FolderPicker* picker_ = nullptr;
    PassProgress* progress_ = nullptr;
};

}  // namespace lorvex
