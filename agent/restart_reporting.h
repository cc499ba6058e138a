#pragma once
// How often a worker's restarts are told. The worker is started again a
// second after every end, for as long as the service runs; a worker that
// cannot start at all (deleted, or quarantined by an antivirus program)
// would otherwise log two events a second for ever, and the Application
// log, which overwrites its oldest events, would lose every other program's
// history within a day. So a run of failures is told in full for its first
// restarts, then summed up at most once an hour.
#include <cstdint>
#include <string>

// How one attempt to run the worker ended.
struct WorkerAttempt {
    bool launched = false;        // a worker was started
    bool held = false;            // a pause or a stop ended it, or kept it from starting
    std::uint32_t launchError = 0;  // why it could not be started, when not launched nor held
    std::uint32_t exitCode = 0;     // how it ended, when launched
    std::uint64_t ranMs = 0;        // how long it ran, when launched
};

// A worker that ran at least this long ends a run of failures.
constexpr std::uint64_t healthyWorkerMs = 60000;
// Restarts of a run of failures that are told as usual, one by one.
constexpr unsigned restartsToldInFull = 10;
// After those, at most one summary in this time.
constexpr std::uint64_t restartSummaryPeriodMs = 3600000;

// A launch that failed, or a worker that ended within a minute; an attempt
// that a pause or a stop cut short is no failure of the worker's.
bool isFailedAttempt(const WorkerAttempt& attempt);

// What is known of the current run of failures.
struct RestartReporting {
    unsigned failuresInRun = 0;
    std::uint64_t windowStartMs = 0;  // when the restarts not told one by one began to be counted
    unsigned untold = 0;              // restarts since then that no message has told
};

enum class RestartTelling {
    inFull,   // the launch's error, if it failed, then "Worker application restarted."
    quietly,  // nothing; counted for the next summary
    summary,  // one summary of the restarts counted
};

struct RestartDecision {
    RestartTelling telling;
    unsigned restarts;  // for a summary: how many restarts it tells
};

// Called once for each restart, with a monotonic clock in milliseconds and
// the attempt that ended before it.
RestartDecision decideRestartTelling(RestartReporting& reporting, std::uint64_t nowMs,
                                     const WorkerAttempt& ended);

// "Worker application restarted N times in the last hour; " and what became
// of the last attempt: "the last launch failed: <the system's text>" (its
// line end dropped) or "the last worker ended with exit code X".
std::wstring restartSummaryMessage(unsigned restarts, const WorkerAttempt& last, const std::wstring& launchErrorText);
