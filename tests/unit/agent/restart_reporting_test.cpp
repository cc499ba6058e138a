#include "restart_reporting.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr std::uint64_t failedToLaunch = ~0ull;
constexpr std::uint64_t heldBack = ~1ull;

WorkerAttempt attempt(std::uint64_t ranMs, std::uint32_t exitCode = 1) {
    WorkerAttempt made;
    made.held = ranMs == heldBack;
    made.launched = ranMs != failedToLaunch && !made.held;
    made.ranMs = made.launched ? ranMs : 0;
    made.exitCode = exitCode;
    return made;
}

TEST(RestartReporting, AWorkerThatCannotStartForADayCostsFewEventsAndIsSummedUpHourly) {
    RestartReporting reporting;
    int events = 0;
    unsigned restarts = 0, summed = 0;
    std::vector<std::uint64_t> summaries;
    for (std::uint64_t now = 0; now < 24 * restartSummaryPeriodMs; now += 1013, ++restarts) {
        const RestartDecision decision = decideRestartTelling(reporting, now, attempt(failedToLaunch));
        EXPECT_TRUE(restarts >= restartsToldInFull || decision.telling == RestartTelling::inFull) << restarts;
        events += decision.telling == RestartTelling::inFull ? 2 : decision.telling == RestartTelling::summary;
        if (decision.telling != RestartTelling::summary) continue;
        summaries.push_back(now);
        summed += decision.restarts;
    }
    EXPECT_LE(events, 50);
    EXPECT_EQ(summaries.size(), 23u);
    for (size_t i = 1; i < summaries.size(); ++i) EXPECT_GE(summaries[i] - summaries[i - 1], restartSummaryPeriodMs);
    // Every restart is told: one by one, in a summary, or in the summary to come.
    EXPECT_EQ(restartsToldInFull + summed + reporting.untold, restarts);
}

TEST(RestartReporting, AWorkerThatRunsAMinuteEndsTheRunOfFailuresAndAHoldIsNoFailure) {
    const struct {
        std::uint64_t ranMs;
        unsigned times;
        RestartTelling expected;
    } runs[] = {
        {59999, 1, RestartTelling::inFull}, {failedToLaunch, 1, RestartTelling::inFull},
        {10, 8, RestartTelling::inFull},    {10, 1, RestartTelling::quietly},
        {failedToLaunch, 1, RestartTelling::quietly},
        // A worker that ran a minute is told, and so are the next ten failures.
        {60000, 1, RestartTelling::inFull}, {10, 10, RestartTelling::inFull}, {10, 1, RestartTelling::quietly},
        // A pause or stop that ended a worker starts the count over.
        {heldBack, 1, RestartTelling::inFull}, {10, 10, RestartTelling::inFull}, {10, 1, RestartTelling::quietly},
    };
    RestartReporting reporting;
    std::uint64_t now = 0;
    for (const auto& run : runs) {
        for (unsigned i = 0; i < run.times; ++i) {
            now += 1000 + (run.ranMs < heldBack ? run.ranMs : 0);
            EXPECT_EQ(decideRestartTelling(reporting, now, attempt(run.ranMs)).telling, run.expected) << now;
        }
    }
}

TEST(RestartReporting, TheSummarySaysHowManyAndWhatBecameOfTheLastAttempt) {
    EXPECT_EQ(restartSummaryMessage(3541, attempt(failedToLaunch), L"The system cannot find the file specified.\r\n"),
              L"Worker application restarted 3541 times in the last hour; the last launch failed: "
              L"The system cannot find the file specified.");
    EXPECT_EQ(restartSummaryMessage(60, attempt(1200, 3221225477u), L""),
              L"Worker application restarted 60 times in the last hour; the last worker ended with exit code "
              L"3221225477");
}

}  // namespace
