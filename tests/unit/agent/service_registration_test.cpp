#include <gtest/gtest.h>

#include <string>

#include "service_registration.h"

namespace {

struct TextCase {
    std::wstring input;
    std::wstring expected;
};

TEST(ServiceRegistration, StartArgumentsQuoteANameOnlyWhenTheRuntimeWouldSplitIt) {
    const TextCase cases[] = {
        {L"agent1", L"RUN agent1"},
        {L"Keldra-Agent_2", L"RUN Keldra-Agent_2"},
        {L"K\u00e9ldra\u4e2d", L"RUN K\u00e9ldra\u4e2d"},
        {L"my agent", L"RUN \"my agent\""},
        {L" lead", L"RUN \" lead\""},
        {L"tab\there", L"RUN \"tab\there\""},
        // A bare quote would be taken as the start of a quoted part and vanish.
        {L"say\"hi", L"RUN \"say\\\"hi\""},
    };
    for (const TextCase& c : cases) EXPECT_EQ(serviceStartArguments(c.input), c.expected);
}

TEST(ServiceRegistration, CommandLineQuotesThePathWhateverItHolds) {
    EXPECT_EQ(serviceCommandLine(L"C:\\Agent\\bin\\keldraagent.exe", L"RUN agent1"),
              L"\"C:\\Agent\\bin\\keldraagent.exe\" RUN agent1");
    EXPECT_EQ(serviceCommandLine(L"C:\\Program Files\\Keldra\\keldraagent.exe", L"RUN \"a b\""),
              L"\"C:\\Program Files\\Keldra\\keldraagent.exe\" RUN \"a b\"");
}

TEST(ServiceRegistration, StartNameIsLocalUnlessTheAccountHoldsABackslash) {
    const TextCase cases[] = {
        {L"svcuser", L".\\svcuser"},
        {L"svcuser@corp.example", L".\\svcuser@corp.example"},
        {L"", L".\\"},
        {L".\\Administrator", L".\\Administrator"},
        {L"CORP\\svcuser", L"CORP\\svcuser"},
        {L"odd\\", L"odd\\"},
        {L"NT AUTHORITY\\LocalService", L"NT AUTHORITY\\LocalService"},
    };
    for (const TextCase& c : cases) EXPECT_EQ(serviceStartName(c.input), c.expected);
}

TEST(ServiceRegistration, EventSourceKeyIsBelowTheApplicationLog) {
    EXPECT_EQ(eventSourceKeyPath(L"agent1"),
              L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\agent1");
    EXPECT_EQ(eventSourceKeyPath(L"my agent"),
              L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\my agent");
}

TEST(ServiceRegistration, RemovalDeletesOnlyAServiceSeenStopped) {
    const struct {
        bool queried;
        unsigned long state;
        RemovalPollStep expected;
    } cases[] = {
        {true, 1, RemovalPollStep::deleteService},           // stopped
        {true, 2, RemovalPollStep::pauseThenPoll},           // start pending
        {true, 3, RemovalPollStep::pauseThenPoll},           // stop pending
        {true, 4, RemovalPollStep::pauseThenPoll},           // running
        {true, 7, RemovalPollStep::pauseThenPoll},           // paused
        {false, 1, RemovalPollStep::pollAtOnce},             // a stale state is not looked at
        {false, 4, RemovalPollStep::pollAtOnce},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(removalPollStep(c.queried, c.state), c.expected) << c.queried << " " << c.state;
    }
}

}  // namespace
