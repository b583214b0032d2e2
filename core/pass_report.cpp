#include "pass_report.h"

namespace lorvex {
namespace {

std::string DryRunReport(const PassResult& pass) {
    std::string report;
    for (const auto& move : pass.planned) {
        report += move.archive + " -> " + move.target + "\n";
    }
    if (pass.cancelled) {
        report += "The dry run was cancelled; the remaining archives were not looked at.\n";
    }
    if (!pass.failed.empty()) {
        const auto count = pass.failed.size();
        report +=
            std::to_string(count) + (count == 1 ? " file" : " files") + " would not be moved:\n";
        for (const auto& failure : pass.failed) {
            report += failure.archive + ": " + failure.reason + "\n";
        }
    }
    for (const auto& [category, moved] : pass.perCategory) {
        report += category + ": " + std::to_string(moved) + "\n";
    }
    return report + " " + std::to_string(pass.planned.size()) + " files would be moved.";
}

}  // namespace

MoveReportText MoveReportParts(const PassResult& pass, std::size_t shownFailures) {
    if (pass.dryRun) {
        const std::string report = DryRunReport(pass);
        return {report, report, {}};
    }
    std::string head =
        " " + std::to_string(pass.moved) + " files were successfully found and moved!";
    if (pass.cancelled) {
        head += "\nThe move was cancelled; the remaining archives were left where they are.";
    }
    if (const auto removed = pass.leftoversRemoved; removed > 0) {
        head += "\nRemoved " + std::to_string(removed) +
                (removed == 1 ? " temporary copy" : " temporary copies") +
                " left in the destination by an interrupted earlier move.";
    }
    const auto& failed = pass.failed;
    if (!failed.empty()) {
        head += "\n" + std::to_string(failed.size()) + (failed.size() == 1 ? " file" : " files") +
                " could not be moved:";
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
