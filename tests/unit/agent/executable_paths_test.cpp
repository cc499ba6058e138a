#include "executable_paths.h"
#include "agent_settings.h"

#include <gtest/gtest.h>

namespace {

struct CommandLineCase {
    const char* modulePath;
    const char* arguments;
    const char* expected;
};

class WorkerCommandLine : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(WorkerCommandLine, QuotesTheWorkerPathAndKeepsTheArguments) {
    const CommandLineCase& c = GetParam();
    EXPECT_EQ(workerCommandLine(c.modulePath, c.arguments), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, WorkerCommandLine,
    ::testing::Values(
        CommandLineCase{R"(C:\Agent\bin\keldraagent.exe)", "DEBUG --pid 4242",
                        R"("C:\Agent\bin\keldraworker.exe" DEBUG --pid 4242)"},
        // A blank in the directory stays inside the quotes.
        CommandLineCase{R"(C:\Program Files\Keldra\keldraagent.exe)", "DEBUG --pid 7",
                        R"("C:\Program Files\Keldra\keldraworker.exe" DEBUG --pid 7)"},
        // Either separator counts; the last one ends the directory.
        CommandLineCase{R"(C:\a/b\c/keldraagent.exe)", "x", R"("C:\a/b\c\keldraworker.exe" x)"},
        CommandLineCase{R"(C:\keldraagent.exe)", "x", R"("C:\keldraworker.exe" x)"},
        // Without a separator the path serves whole as the directory.
        CommandLineCase{"keldraagent.exe", "x", R"("keldraagent.exe\keldraworker.exe" x)"},
        CommandLineCase{"", "x", R"("\keldraworker.exe" x)"},
        // Empty arguments leave the space after the program.
        CommandLineCase{R"(D:\k\keldraagent.exe)", "", R"("D:\k\keldraworker.exe" )"},
        // UTF-8 passes through untouched.
        CommandLineCase{"C:\\K\xc3\xa9ldra\\keldraagent.exe", "a  b", "\"C:\\K\xc3\xa9ldra\\keldraworker.exe\" a  b"}));

TEST(WorkerDirectory, EndsBeforeTheLastSeparator) {
    EXPECT_EQ(moduleDirectory(R"(C:\Agent\bin\keldraagent.exe)"), R"(C:\Agent\bin)");
    EXPECT_EQ(moduleDirectory("/opt/agent/keldraagent.exe"), "/opt/agent");
    EXPECT_EQ(moduleDirectory(R"(C:\Agent\)"), R"(C:\Agent)");
    EXPECT_EQ(moduleDirectory("keldraagent.exe"), "keldraagent.exe");
}

TEST(WorkerArguments, CarryTheWholeProcessIdentifier) {
    EXPECT_EQ(workerArgumentsFor(0), "DEBUG --pid 0");
    EXPECT_EQ(workerArgumentsFor(4242), "DEBUG --pid 4242");
    EXPECT_EQ(workerArgumentsFor(999999999), "DEBUG --pid 999999999");
    // Ten digits do not fit a ten-character buffer; the text stays whole.
    EXPECT_EQ(workerArgumentsFor(4294967295u), "DEBUG --pid 4294967295");
}

TEST(EventMessageFile, LiesInTheExecutablesDirectory) {
    const struct {
        std::string modulePath;
        std::wstring expected;
    } cases[] = {
        {"C:\\Agent\\bin\\keldraagent.exe", L"C:\\Agent\\bin\\vossevent.dll"},
        {"C:\\Program Files\\Keldra\\keldraagent.exe", L"C:\\Program Files\\Keldra\\vossevent.dll"},
        {"C:/Agent/keldraagent.exe", L"C:/Agent\\vossevent.dll"},
        {"C:\\Agent/mixed\\keldraagent.exe", L"C:\\Agent/mixed\\vossevent.dll"},
        {"\\\\server\\share\\keldraagent.exe", L"\\\\server\\share\\vossevent.dll"},
        // With no separator the whole path is taken as the directory.
        {"keldraagent.exe", L"keldraagent.exe\\vossevent.dll"},
        {"C:\\K\xc3\xa9ldra\\keldraagent.exe", L"C:\\K\u00e9ldra\\vossevent.dll"},
    };
    for (const auto& c : cases) EXPECT_EQ(eventMessageFilePath(c.modulePath), c.expected);
}

TEST(ServiceProgramAccess, OnlyBroadGroupsAllowedToChangeTheObjectItselfCount) {
    const wchar_t* const domain = L"S-1-5-21-1004336348-1177238915-682003330-";
    const struct { AccessEntry entry; const wchar_t* group; } cases[] = {  // group null: does not count
        // Modify; inherited by children and applying here; inherited from the parent.
        {{0, 0, 0x1301ff, L"S-1-1-0"}, L"Everyone"}, {{0, 0x03, 0x2, L"S-1-5-11"}, L"Authenticated Users"},
        {{0, 0x10, 0x4, L"S-1-5-32-545"}, L"Users"}, {{0, 0, 0x40, L"S-1-5-4"}, L"Interactive"},
        {{0, 0, 0x10000, L"S-1-5-32-546"}, L"Guests"}, {{0, 0, 0x40000, L"S-1-5-7"}, L"Anonymous Logon"},
        {{9, 0, 0x80000, domain + std::wstring(L"513")}, L"Domain Users"},
        {{0, 0, 0x40000000, L"S-1-1-0"}, L"Everyone"},
        // Read and execute; attributes and permissions read; inherit-only; deny.
        {{0, 0, 0x1200a9, L"S-1-1-0"}, nullptr}, {{0, 0, 0x20130, L"S-1-5-32-545"}, nullptr},
        {{0, 0x0b, 0x10000000, L"S-1-5-11"}, nullptr}, {{1, 0, 0x1f01ff, L"S-1-1-0"}, nullptr},
        {{0, 0, 0x1f01ff, L"S-1-5-18"}, nullptr}, {{0, 0, 0x1f01ff, L"S-1-5-32-544"}, nullptr},
        {{0, 0, 0x1f01ff, domain + std::wstring(L"1001")}, nullptr}, {{0, 0, 0x1f01ff, L"S-1-5-21-1-513"}, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(groupsThatCanChange({c.entry}), c.group ? std::vector<std::wstring>{c.group}
                                                          : std::vector<std::wstring>{}) << c.entry.sid;
    }
}

TEST(ExecutableLocation, NetworkAndSubstitutedDrivesAndNetworkPathsAreToldApart) {
    using Location = ExecutableLocation;
    const struct { const wchar_t *path, *drive; bool remote; const wchar_t* target; Location location; } cases[] = {
        {LR"(C:\K\keldraagent.exe)", L"C:", false, LR"(\Device\HarddiskVolume3)", Location::local},
        {LR"(\\?\C:\K\keldraagent.exe)", L"C:", false, LR"(\Device\HarddiskVolume3)", Location::local},
        {LR"(Z:\keldraagent.exe)", L"Z:", true, LR"(\Device\LanmanRedirector\;Z:0\srv\s)", Location::networkDrive},
        {LR"(S:\keldraagent.exe)", L"S:", false, LR"(\??\C:\Keldra)", Location::substitutedDrive},
        {LR"(\\srv\share\keldraagent.exe)", L"", false, L"", Location::networkPath},
        {LR"(\\?\UNC\srv\share\keldraagent.exe)", L"", false, L"", Location::networkPath},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(driveOf(c.path), c.drive) << c.path;
        EXPECT_EQ(executableLocation(c.path, c.remote, c.target), c.location) << c.path;
    }
}

}  // namespace
