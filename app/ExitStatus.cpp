#include "app/ExitStatus.h"

ExitStatus ExitStatusOf(Outcome outcome, bool silent) {
    for (const OutcomeStatus& row : kOutcomeStatuses) {
        if (row.outcome == outcome) {
            return silent ? row.silent : row.withNotices;
        }
    }
    return silent ? ExitStatus::installFailure : ExitStatus::notStaged;
}

std::string ExitStatusText() {
    std::string text;
    for (const OutcomeStatus& row : kOutcomeStatuses) {
        text += std::to_string(ExitCode(row.withNotices));
        text += " / ";
        text += std::to_string(ExitCode(row.silent));
        text += '\t';
        text += row.what;
        text += '\n';
    }
    return text;
}
