#include "restart_reporting.h"

bool isFailedAttempt(const WorkerAttempt& attempt) {
    if (attempt.held) return false;
    return !attempt.launched || attempt.ranMs < healthyWorkerMs;
}

RestartDecision decideRestartTelling(RestartReporting& reporting, std::uint64_t nowMs,
                                     const WorkerAttempt& ended) {
    if (!isFailedAttempt(ended)) {
        reporting = RestartReporting{};
        return {RestartTelling::inFull, 0};
    }
    if (reporting.failuresInRun < restartsToldInFull) {
        ++reporting.failuresInRun;
        return {RestartTelling::inFull, 0};
    }
    if (reporting.untold == 0) reporting.windowStartMs = nowMs;
    ++reporting.untold;
    if (nowMs - reporting.windowStartMs < restartSummaryPeriodMs) return {RestartTelling::quietly, 0};
    const unsigned told = reporting.untold;
    reporting.untold = 0;
    return {RestartTelling::summary, told};
}

std::wstring restartSummaryMessage(unsigned restarts, const WorkerAttempt& last, const std::wstring& launchErrorText) {
    std::wstring message = L"Worker application restarted " + std::to_wstring(restarts) + L" times in the last hour; ";
    if (last.launched) return message + L"the last worker ended with exit code " + std::to_wstring(last.exitCode);
    std::wstring reason = launchErrorText;
    while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' || reason.back() == L' ')) {
        reason.pop_back();
    }
    return message + L"the last launch failed: " + reason;
}
