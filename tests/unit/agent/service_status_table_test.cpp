#include "service_status_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>

namespace {

std::tuple<std::uint32_t, std::uint32_t, std::uint32_t> values(const ServiceStatusValues& status) {
    return std::make_tuple(status.currentState, status.checkPoint, status.waitHint);
}

TEST(ServiceControls, OnlyStopPauseAndContinueAreActedOn) {
    const struct {
        std::uint32_t code;
        ServiceControlAction action;
    } cases[] = {
        {1, ServiceControlAction::stop},   {2, ServiceControlAction::pause}, {3, ServiceControlAction::resume},
        {0, ServiceControlAction::none},   {4, ServiceControlAction::none},  {5, ServiceControlAction::none},
        {6, ServiceControlAction::none},   {15, ServiceControlAction::none}, {128, ServiceControlAction::none},
        {255, ServiceControlAction::none}, {0xFFFFFFFFu, ServiceControlAction::none},
    };
    for (const auto& c : cases) EXPECT_EQ(actionForControl(c.code), c.action) << c.code;
}

TEST(ServiceStartUp, PendingThenRunningWithWaitHint1000) {
    const ServiceStatusValues pending = startPendingStatus();
    EXPECT_EQ(values(pending), std::make_tuple(2u, 0u, 15000u));
    EXPECT_EQ(values(startedStatus(pending)), std::make_tuple(4u, 0u, 1000u));
    // Running keeps the check point and resets the wait hint.
    const ServiceStatusValues odd = {ServiceStates::startPending, 2, 17000};
    EXPECT_EQ(values(startedStatus(odd)), std::make_tuple(4u, 2u, 1000u));
}

TEST(ServiceControlReports, FollowTheStateTableFromRunningAndPaused) {
    const ServiceStatusValues running = {ServiceStates::running, 3, 1000};
    const ServiceStatusValues paused = {ServiceStates::paused, 3, 1000};
    for (const ServiceStatusValues& from : {running, paused}) {
        const ServiceStatusValues stopping = stopPendingStatus(from);
        EXPECT_EQ(values(stopping), std::make_tuple(3u, 4u, 1000u));
        EXPECT_EQ(values(stoppedStatus(stopping)), std::make_tuple(1u, 0u, 1000u));
        EXPECT_EQ(values(pausedStatus(from)), std::make_tuple(7u, 3u, 1000u));
        EXPECT_EQ(values(continuedStatus(from)), std::make_tuple(4u, 3u, 1000u));
    }
}

TEST(ServiceControlReports, WaitHintIsNeverChangedByAControl) {
    const ServiceStatusValues odd = {ServiceStates::running, 9, 1234};
    EXPECT_EQ(stopPendingStatus(odd).waitHint, 1234u);
    EXPECT_EQ(stoppedStatus(odd).waitHint, 1234u);
    EXPECT_EQ(pausedStatus(odd).waitHint, 1234u);
    EXPECT_EQ(continuedStatus(odd).waitHint, 1234u);
}

TEST(ServiceStatusOrder, NothingButStoppedFollowsAStopAndStartPendingComesFirst) {
    using namespace ServiceStates;
    const struct { std::uint32_t last, next; bool reported; } cases[] = {
        {0, startPending, true}, {startPending, startPending, true}, {startPending, running, true},
        {startPending, stopPending, true}, {0, stopPending, true}, {running, stopPending, true},
        {paused, running, true}, {running, paused, true}, {stopPending, stopped, true},
        // A start that was still pending when the stop came.
        {stopPending, running, false}, {stopped, running, false}, {stopPending, startPending, false},
        {stopped, startPending, false}, {stopPending, paused, false}, {running, startPending, false},
    };
    for (const auto& c : cases) EXPECT_EQ(mayFollow(c.last, c.next), c.reported) << c.last << " " << c.next;
}

TEST(ServiceStatusConstants, AreTheSystemsValues) {
    EXPECT_EQ(ownProcessServiceType, 0x10u);
    EXPECT_EQ(acceptedServiceControls, 3u);
}

}  // namespace
