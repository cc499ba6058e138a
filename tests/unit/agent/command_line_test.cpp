#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent_settings.h"

namespace {

ParseOutcome parse(std::vector<std::string> arguments) {
    AgentSettings = AgentSettingsRecord{};
    arguments.insert(arguments.begin(), "keldraagent.exe");
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    return parseArguments(static_cast<int>(pointers.size()), pointers.data());
}

struct GrammarCase {
    std::vector<std::string> arguments;
    ParseOutcome outcome;
};

TEST(CommandLine, OutcomeOfEachArgumentList) {
    const ParseOutcome valid = ParseOutcome::valid, invalid = ParseOutcome::invalid,
                       usage = ParseOutcome::showUsage, version = ParseOutcome::showVersion;
    const GrammarCase cases[] = {
        {{}, invalid},
        {{"install", "svc"}, invalid},
        {{"Install", "svc"}, invalid},
        {{"INSTALLX", "svc"}, invalid},
        {{"-h"}, invalid},
        {{"--help"}, invalid},
        {{"-h", "svc"}, invalid},
        {{"INSTALL", "-h"}, valid},
        {{"REMOVE", "svc"}, valid},
        {{"RUN", "svc", "-t", "5", "-r", "1", "-l", "NOISY"}, valid},
        {{"RUN", "svc", "-c", "x.cfg", "-oa=b", "-a", "1", "-m", "2", "-n", "3"}, valid},
        {{"INSTALL", "svc", "-h", "-x"}, usage},
        {{"INSTALL", "svc", "-hello"}, usage},
        {{"INSTALL", "svc", "--help", "extra"}, usage},
        {{"INSTALL", "svc", "-v"}, version},
        {{"INSTALL", "svc", "-vx"}, version},
        {{"INSTALL", "svc", "--version"}, version},
        {{"INSTALL", "svc", "-x", "-h"}, invalid},
        {{"INSTALL", "svc", "--helpme"}, invalid},
        {{"INSTALL", "svc", "--"}, invalid},
        {{"INSTALL", "svc", "-"}, invalid},
        {{"INSTALL", "svc", ""}, invalid},
        {{"INSTALL", "svc", "extra"}, invalid},
        {{"INSTALL", "svc", "-d", "-h"}, valid},
        {{"INSTALL", "svc", "-t", "-v"}, valid},
        {{"INSTALL", "svc", "-d"}, valid},
    };
    for (const GrammarCase& c : cases) {
        std::string shown;
        for (const std::string& a : c.arguments) shown += "[" + a + "]";
        EXPECT_EQ(parse(c.arguments), c.outcome) << shown;
    }
}

TEST(CommandLine, ServiceNameMustNameAKeyOfItsOwn) {
    // An empty name, or none, would address the Application log's own key.
    EXPECT_EQ(parse({"INSTALL"}), ParseOutcome::invalid);
    EXPECT_EQ(parse({"REMOVE"}), ParseOutcome::invalid);
    EXPECT_EQ(parse({"REMOVE", ""}), ParseOutcome::invalid);
    EXPECT_EQ(parse({"REMOVE", "..\\System"}), ParseOutcome::invalid);
    EXPECT_EQ(parse({"INSTALL", "a/b"}), ParseOutcome::invalid);
    // The service manager would expand %...% in the command line it starts.
    EXPECT_EQ(parse({"INSTALL", "%SystemRoot%"}), ParseOutcome::invalid);
    EXPECT_EQ(parse({"INSTALL", "x%USERNAME%y"}), ParseOutcome::invalid);
    EXPECT_EQ(parse({"REMOVE", "50%"}), ParseOutcome::invalid);
    EXPECT_EQ(parse({"RUN", "%", "-t", "5"}), ParseOutcome::invalid);
    EXPECT_EQ(parse({"INSTALL", "-d"}), ParseOutcome::valid);
    EXPECT_EQ(AgentSettings.serviceName, L"-d");
}

TEST(CommandLine, DefaultsFollowTheServiceName) {
    ASSERT_EQ(parse({"INSTALL", "svc"}), ParseOutcome::valid);
    EXPECT_EQ(AgentSettings.command, L"INSTALL");
    EXPECT_EQ(AgentSettings.serviceName, L"svc");
    EXPECT_EQ(AgentSettings.displayName, L"Keldra - svc");
    EXPECT_EQ(AgentSettings.accountUser, L".\\Administrator");
}

TEST(CommandLine, ValuesAttachedOrSeparateAndLastOneWins) {
    ASSERT_EQ(parse({"INSTALL", "svc", "-dMyAgent"}), ParseOutcome::valid);
    EXPECT_EQ(AgentSettings.displayName, L"MyAgent");
    ASSERT_EQ(parse({"INSTALL", "svc", "-d", "MyAgent"}), ParseOutcome::valid);
    EXPECT_EQ(AgentSettings.displayName, L"MyAgent");
    ASSERT_EQ(parse({"INSTALL", "svc", "-d"}), ParseOutcome::valid);
    EXPECT_EQ(AgentSettings.displayName, L"");
    ASSERT_EQ(parse({"INSTALL", "svc", "-d", "-h"}), ParseOutcome::valid);
    EXPECT_EQ(AgentSettings.displayName, L"-h");
    ASSERT_EQ(parse({"INSTALL", "svc", "-u", "alice", "-u", "bob", "-dA", "-d", "B"}), ParseOutcome::valid);
    EXPECT_EQ(AgentSettings.accountUser, L"bob");
    EXPECT_EQ(AgentSettings.displayName, L"B");
    ASSERT_EQ(parse({"INSTALL", "svc", "-uDOMAIN\\svcuser"}), ParseOutcome::valid);
    EXPECT_EQ(AgentSettings.accountUser, L"DOMAIN\\svcuser");
    ASSERT_EQ(parse({"INSTALL", "svc", "-u", ""}), ParseOutcome::valid);
    EXPECT_EQ(AgentSettings.accountUser, L"");
}

TEST(CommandLine, OptionsBeforeHelpAreAppliedThoseAfterNeverSeen) {
    ASSERT_EQ(parse({"INSTALL", "svc", "-dBefore", "-h", "-dAfter"}), ParseOutcome::showUsage);
    EXPECT_EQ(AgentSettings.displayName, L"Before");
    ASSERT_EQ(parse({"INSTALL", "svc", "-uBefore", "--version", "-uAfter"}), ParseOutcome::showVersion);
    EXPECT_EQ(AgentSettings.accountUser, L"Before");
}

TEST(CommandLine, NamesOutsideAsciiArriveIntact) {
    ASSERT_EQ(parse({"INSTALL", "d\xC3\xA9p\xC3\xB4t", "-d", "\xE6\x97\xA5\xF0\x9F\x98\x80"}), ParseOutcome::valid);
    EXPECT_EQ(AgentSettings.serviceName, L"d\u00E9p\u00F4t");
    const std::wstring expected = {static_cast<wchar_t>(0x65E5), static_cast<wchar_t>(0xD83D),
                                   static_cast<wchar_t>(0xDE00)};
    EXPECT_EQ(AgentSettings.displayName, expected);
}

TEST(CommandLine, BytesThatAreNotUtf8MakeTheLineInvalid) {
    EXPECT_EQ(parse({"INSTALL\xFF", "svc"}), ParseOutcome::invalid);
    EXPECT_EQ(parse({"INSTALL", "sv\xC3"}), ParseOutcome::invalid);
    EXPECT_EQ(parse({"INSTALL", "svc", "-d\x80"}), ParseOutcome::invalid);
    EXPECT_EQ(parse({"INSTALL", "svc", "-u", "\xC0\xAF"}), ParseOutcome::invalid);
    EXPECT_EQ(parse({"INSTALL", "svc", "-c", "\xFE"}), ParseOutcome::invalid);
}

TEST(CommandLineDeathTest, HelpAndVersionEndTheProcessWithZero) {
    AgentSettings = AgentSettingsRecord{};
    const char* help[] = {"keldraagent.exe", "INSTALL", "svc", "-h"};
    EXPECT_EXIT(parseCommandLine(4, help), ::testing::ExitedWithCode(0), "");
    const char* version[] = {"keldraagent.exe", "RUN", "svc", "--version"};
    EXPECT_EXIT(parseCommandLine(4, version), ::testing::ExitedWithCode(0), "");
    const char* invalid[] = {"keldraagent.exe", "RUN", "svc", "--versions"};
    EXPECT_FALSE(parseCommandLine(4, invalid));
}

}  // namespace
