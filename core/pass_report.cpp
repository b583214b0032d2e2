#include "pass_report.h"

namespace lorvex {
namespace {

std::string Files(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " file" : " files");
}

// What the pass does to an archive, in the words of its report.
std::string Done(Transfer transfer) {
    switch (transfer) {
        case Transfer::Copy:
            return "copied";
        case Transfer::HardLink:
        case Transfer::SymbolicLink:
            return "linked";
        case Transfer::Move:
            break;
    }
    return "moved";
}

// Folders where temporary copies were left alone because a run on another machine may be
// making them, each named once, with what to do.
std::string LeftoversKept(const PassResult& pass) {
    std::string text;
    for (const auto& folder : pass.leftoversKept) {
        text += "Left alone: temporary copies (hidden, ending in \"" + std::string(kPartialSuffix) +
                "\") in \"" + folder +
                "\", which another machine's run may be making; once no lorvex runs into that "
                "folder, delete them.\n";
    }
    return text;
}

// Every planned move, then what would not move, then the count per category and in all.
MoveReportText DryRunReport(const PassResult& pass, std::size_t shownFailures) {
    std::string planned;
    for (const auto& move : pass.planned) {
        planned += move.archive + " -> " + move.target + "\n";
    }
    const std::string cancelled =
        pass.cancelled ? "The dry run was cancelled; the remaining archives were not looked at.\n"
                       : "";
    const auto& failed = pass.failed;
    std::string failures;
    std::string firstFailures;
    if (!failed.empty()) {
        failures = Files(failed.size()) + " would not be " + Done(pass.transfer) + ":\n";
        firstFailures = failures;
        for (std::size_t i = 0; i < failed.size(); ++i) {
            const std::string line = failed[i].archive + ": " + failed[i].reason + "\n";
            failures += line;
            if (i < shownFailures) {
                firstFailures += line;
            }
        }
        if (failed.size() > shownFailures) {
            firstFailures += "... and " + std::to_string(failed.size() - shownFailures) + " more\n";
        }
    }
    std::string perCategory;
    for (const auto& [category, moved] : pass.perCategory) {
        perCategory += category + ": " + std::to_string(moved) + "\n";
    }
    const std::string estimate =
        pass.spaceEstimated
            ? "The room left on the destination is an estimate: how much a file takes differs "
              "from one file system to another.\n"
            : "";
    const std::string journalRoom = pass.journalRoom.empty() ? "" : pass.journalRoom + "\n";
    const std::string count =
        " " + Files(pass.planned.size()) + " would be " + Done(pass.transfer) + ".";
    const std::string full = planned + cancelled + failures + estimate + journalRoom +
                             LeftoversKept(pass) + perCategory + count;
    // A box leads with the count and keeps the list of moves behind "Show Details...".
    if (pass.planned.size() + failed.size() <= shownFailures) {
        return {full, full, {}};
    }
    std::string summary =
        count + "\n" + cancelled + firstFailures + estimate + journalRoom + perCategory;
    std::string details = planned + cancelled + failures;
    summary.pop_back();
    details.pop_back();
    return {full, summary, details};
}

}  // namespace

MoveReportText MoveReportParts(const PassResult& pass, std::size_t shownFailures) {
    if (pass.dryRun) {
        return DryRunReport(pass, shownFailures);
    }
    const bool moves = pass.transfer == Transfer::Move;
    const std::string done = Done(pass.transfer);
    std::string head =
        moves ? " " + std::to_string(pass.moved) + " files were successfully found and moved!"
              : " " + Files(static_cast<std::size_t>(pass.moved)) + " " +
                    (pass.moved == 1 ? "was " : "were ") + done + ".";
    if (pass.cancelled) {
        head += moves ? "\nThe move was cancelled; the remaining archives were left where they are."
                      : "\nThe run was cancelled; the remaining archives were left as they are.";
    }
    if (!pass.stopped.empty()) {
        head +=
            "\nThe run stopped: " + pass.stopped +
            "; the remaining archives were left where they are" +
            (pass.moved == 0   ? std::string()
             : pass.moved == 1 ? std::string(", and undo finds the one moved")
                               : ", and undo finds all " + std::to_string(pass.moved) + " moved") +
            ".";
    }
    if (const std::string kept = LeftoversKept(pass); !kept.empty()) {
        head += "\n" + kept.substr(0, kept.size() - 1);
    }
    if (const auto removed = pass.leftoversRemoved; removed > 0) {
        head += "\nRemoved " + std::to_string(removed) +
                (removed == 1 ? " temporary copy" : " temporary copies") +
                " left in the destination by an interrupted earlier move.";
    }
    const auto& failed = pass.failed;
    if (!failed.empty()) {
        head += "\n" + Files(failed.size()) + " could not be " + done + ":";
    }
    MoveReportText report{head, head, {}};
    for (std::size_t i = 0; i < failed.size(); ++i) {
        const std::string line = failed[i].archive + ": " + failed[i].reason;
        report.full += "\n" + line;
        if (i < shownFailures) {
            report.summary += "\n" + line;
        }
        report.details += (i == 0 ? "" : "\n") + line;
    }
    if (failed.size() > shownFailures) {
        report.summary += "\n... and " + std::to_string(failed.size() - shownFailures) + " more";
    } else {
        report.details.clear();  // the summary already names every failure
    }
    for (const auto& [category, moved] : pass.perCategory) {
        const std::string line = "\n" + category + ": " + std::to_string(moved);
        report.full += line;
        report.summary += line;
    }
    return report;
}

}  // namespace lorvex
