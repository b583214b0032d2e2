// Feeds arbitrary bytes to the reader of run journals: whatever it reads back must survive
// being written and read again unchanged, as an undo relies on.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "run_journal.h"

using lorvex::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const lorvex::RunJournalText run = lorvex::ParseJournal(text);
    std::string written = lorvex::JournalHeader(run);
    for (const auto& folder : run.createdFolders) {
        written += lorvex::CreatedFolderLine(folder);
    }
    for (const auto& record : run.records) {
        Check(lorvex::ParseModified(lorvex::ReadableModified(record.facts.modified)) ==
              record.facts.modified);
        written += lorvex::RecordLine(record);
    }
    const lorvex::RunJournalText again = lorvex::ParseJournal(written);
    Check(again.category == run.category && again.searchdir == run.searchdir &&
          again.destdir == run.destdir && again.createdFolders == run.createdFolders);
    Check(again.records.size() == run.records.size());
    for (std::size_t i = 0; i < run.records.size(); ++i) {
        Check(again.records[i].moved == run.records[i].moved &&
              again.records[i].original == run.records[i].original &&
              again.records[i].facts == run.records[i].facts);
    }
    return 0;
}
