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

TEST(ServiceRegistration, AccountsAreRegisteredAsWindowsNamesThemWithAPasswordOnlyWhereOneIsTaken) {
    const struct { const wchar_t *account, *startName; bool needsPassword; } cases[] = {
        {L"svcuser", L".\\svcuser", true}, {L"", L".\\", true}, {L".\\Administrator", L".\\Administrator", true},
        {L"CORP\\svcuser", L"CORP\\svcuser", true},
        {L"svcuser@corp.example", L"svcuser@corp.example", true}, {L"@corp.example", L".\\@corp.example", true},
        {L"svcuser@", L".\\svcuser@", true}, {L"LocalSystem", L"LocalSystem", false},
        {L".\\localsystem", L"LocalSystem", false}, {L"NT AUTHORITY\\SYSTEM", L"LocalSystem", false},
        {L"LocalService", L"NT AUTHORITY\\LocalService", false},
        {L"NetworkService", L"NT AUTHORITY\\NetworkService", false},
        {L"nt authority\\Local Service", L"NT AUTHORITY\\LocalService", false},
        {L"NT AUTHORITY\\NETWORK SERVICE", L"NT AUTHORITY\\NetworkService", false},
        {L"Local Service", L".\\Local Service", true},
        {L"NT SERVICE\\KeldraAgent", L"NT SERVICE\\KeldraAgent", false}, {L"NT SERVICE\\", L"NT SERVICE\\", true},
        {L"CORP\\gmsa-keldra$", L"CORP\\gmsa-keldra$", false}, {L".\\hidden$", L".\\hidden$", true},
        {L"hidden$", L".\\hidden$", true}, {L"CORP\\a\\b$", L"CORP\\a\\b$", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(serviceAccount(c.account).startName, c.startName) << c.account;
        EXPECT_EQ(serviceAccount(c.account).needsPassword, c.needsPassword) << c.account;
    }
}

TEST(ServiceRegistration, AVirtualAccountIsRefusedForAnyServiceButItsOwn) {
    const struct { const wchar_t *account, *service; bool refused; } cases[] = {
        {L"NT SERVICE\\KeldraAgent", L"KeldraAgent", false}, {L"nt service\\keldraagent", L"KeldraAgent", false},
        {L"NT SERVICE\\front desk", L"front desk", false},   {L"NT SERVICE\\other", L"KeldraAgent", true},
        {L"NT SERVICE\\KeldraAgent2", L"KeldraAgent", true}, {L"NT SERVICE\\Keldra", L"KeldraAgent", true},
        // Not virtual accounts at all: left to the rules for other accounts.
        {L"NT SERVICE\\", L"KeldraAgent", false},            {L"NT SERVICE\\a\\b", L"a", false},
        {L"CORP\\KeldraAgent", L"other", false},              {L"LocalSystem", L"KeldraAgent", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isOtherServicesVirtualAccount(c.account, c.service), c.refused) << c.account;
}

TEST(ServiceRegistration, WindowsRestartsTheServiceAfterAMinuteTwiceThenEveryTenMinutes) {
    const unsigned long minute = 60 * 1000;
    const unsigned long expected[] = {minute, minute, 10 * minute, 10 * minute, 10 * minute};
    for (unsigned failure = 1; failure <= 5; ++failure) {
        EXPECT_EQ(recoveryRestartDelayMs(failure), expected[failure - 1]) << failure;
    }
    EXPECT_EQ(recoveryResetSeconds, 86400u);
}

TEST(ServiceRegistration, EventSourceKeyIsBelowTheApplicationLog) {
    EXPECT_EQ(eventSourceKeyPath(L"agent1"),
              L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\agent1");
    EXPECT_EQ(eventSourceKeyPath(L"my agent"),
              L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\my agent");
}

TEST(ServiceRegistration, AServiceIsOursWhenItStartsAKeldraagentExeWithRun) {
    const struct {
        const wchar_t* commandLine;
        bool ours;
    } cases[] = {
        {L"\"C:\\Keldra\\bin\\keldraagent.exe\" RUN agent1", true},
        {L"\"C:\\Program Files\\Keldra Agent\\KeldraAgent.EXE\" RUN \"front desk\"", true},
        {L"C:\\Keldra\\bin\\keldraagent.exe RUN agent1", true},
        {L"C:\\Program Files\\Keldra Agent\\keldraagent.exe RUN agent1", true},
        {L"C:/Keldra/keldraagent.exe\tRUN agent1 -t 5", true},
        {L"keldraagent.exe RUN x", true},
        {L"\"C:\\Keldra\\keldraagent.exe\"  RUN", true},
        {L"C:\\Windows\\System32\\spoolsv.exe", false},
        {L"C:\\Windows\\system32\\svchost.exe -k netsvcs", false},
        {L"\"C:\\Keldra\\keldraagent.exe\" INSTALL agent1", false},
        {L"\"C:\\Keldra\\keldraagent.exe\" run agent1", false},
        {L"\"C:\\Keldra\\keldraagent.exe\" RUNX agent1", false},
        {L"\"C:\\Keldra\\keldraagent.exe\"", false},
        {L"\"C:\\Keldra\\keldraagent.exe\"RUN agent1", false},
        {L"\"C:\\Keldra\\keldraagent.exe RUN agent1", false},
        {L"C:\\Keldra\\keldraagent.exe", false},
        {L"C:\\Keldra\\notkeldraagent.exe RUN agent1", false},
        {L"C:\\Keldra\\keldraagent.exe.bak RUN agent1", false},
        {L"\"C:\\Stub\\stubservice.exe\" RUN C:\\Keldra\\keldraagent.exe", false},
        {L"C:\\Stub\\stubservice.exe prompt keldraagent.exe RUN", false},
        {L"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isAgentServiceCommandLine(c.commandLine), c.ours) << c.commandLine;
}

TEST(ServiceRegistration, AnEventSourceIsOursWhenItNamesOneVosseventDllOrNone) {
    const struct {
        const wchar_t* messageFile;
        bool ours;
    } cases[] = {
        {L"", true},
        {L"C:\\Keldra\\bin\\vossevent.dll", true},
        {L"D:\\Old Place\\VossEvent.DLL", true},
        {L"vossevent.dll", true},
        {L"%SystemRoot%\\System32\\spoolsv.exe", false},
        {L"C:\\Windows\\System32\\msimsg.dll", false},
        {L"C:\\Keldra\\vossevent.dll;C:\\Other\\other.dll", false},
        {L"C:\\Keldra\\vossevent.dll.mui", false},
        {L"C:\\Keldra\\notvossevent.dll", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isAgentEventMessageFile(c.messageFile), c.ours) << c.messageFile;
}

TEST(ServiceRegistration, ACommandLineWithTwoPercentSignsWouldBeExpanded) {
    EXPECT_TRUE(survivesExpansion(L"\"C:\\Keldra\\bin\\keldraagent.exe\" RUN agent1"));
    EXPECT_TRUE(survivesExpansion(L"\"C:\\100%\\keldraagent.exe\" RUN agent1"));
    EXPECT_FALSE(survivesExpansion(L"\"C:\\a%SystemRoot%b\\keldraagent.exe\" RUN agent1"));
    EXPECT_FALSE(survivesExpansion(L"\"C:\\50%\\100%\\keldraagent.exe\" RUN agent1"));
    EXPECT_FALSE(survivesExpansion(L"%%"));
}

TEST(ServiceRegistration, APathOfMaxPathCharactersOrMoreCannotBeStarted) {
    EXPECT_TRUE(isStartablePath(L"C:\\Keldra\\bin\\keldraagent.exe"));
    EXPECT_TRUE(isStartablePath(std::wstring(259, L'x')));
    EXPECT_FALSE(isStartablePath(std::wstring(260, L'x')));
    EXPECT_FALSE(isStartablePath(std::wstring(300, L'x')));
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
