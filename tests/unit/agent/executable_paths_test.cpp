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

TEST(ServiceProgramPaths, TheFoldersAboveRunUpToTheRootOfTheDriveOrShare) {
    const struct { const char* modulePath; std::vector<std::string> expected; } cases[] = {
        {R"(C:\Keldra\bin\keldraagent.exe)", {R"(C:\Keldra\bin)", R"(C:\Keldra)", R"(C:\)"}},
        {R"(C:\keldraagent.exe)", {R"(C:\)"}},
        {R"(\\?\C:\K\keldraagent.exe)", {R"(\\?\C:\K)", R"(\\?\C:\)"}},
        {R"(\\srv\share\K/bin\keldraagent.exe)", {R"(\\srv\share\K/bin)", R"(\\srv\share\K)", R"(\\srv\share\)"}},
        {R"(\\?\UNC\srv\share\keldraagent.exe)", {R"(\\?\UNC\srv\share\)"}},
        {"keldraagent.exe", {"keldraagent.exe"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> folders;
        for (const ProgramPath& path : serviceProgramPaths(c.modulePath)) {
            if (path.part == ProgramPart::folder || path.part == ProgramPart::folderAbove) folders.push_back(path.path);
        }
        EXPECT_EQ(folders, c.expected) << c.modulePath;
    }
}

// The owner ("O ") and the writers ("W ") that INSTALL warns about, or "unreadable".
std::wstring changers(const wchar_t* sddl, ProgramPart part) {
    SecurityDescriptorText descriptor;
    if (!readSecurityDescriptorText(sddl, descriptor)) return L"unreadable";
    std::wstring found;
    for (const ProgramChanger& changer : whoElseCanChange(descriptor, part, L"S-1-5-21-0-0-0-1000")) {
        found += (found.empty() ? L"" : L" ") + std::wstring(changer.owns ? L"O " : L"W ") + changer.sid;
    }
    return found;
}

TEST(ServiceProgramAccess, OwnersAndWritersBesidesTheSystemAndAdministratorsAreNamed) {
    const std::wstring ti = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    const std::wstring user = L"S-1-5-21-1004336348-1177238915-682003330-1001";
    const struct { std::wstring sddl; bool folder; const wchar_t* expected; } cases[] = {
        // Program Files as Windows ships it, and a program an administrator placed in a folder there.
        {L"O:" + ti + L"G:" + ti + L"D:PAI(A;;FA;;;" + ti + L")(A;CIIO;GA;;;" + ti + L")(A;;0x1301bf;;;SY)"
         L"(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)"
         L"(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)(A;OICIIO;GXGR;;;AC)(A;;0x1200a9;;;S-1-15-2-2)"
         L"(A;OICIIO;GXGR;;;S-1-15-2-2)", true, L""},
        {L"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)(A;ID;0x1200a9;;;AC)", false, L""},
        // C:\, a folder a user made there with inheritance stripped, ProgramData.
        {L"O:SYD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)",
         true, L"W S-1-5-11"},
        {L"O:" + user + L"D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1301bf;;;AU)", true,
         L"O S-1-5-21-1004336348-1177238915-682003330-1001 W S-1-5-11"},
        {L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)(A;CI;DCLCRPCR;;;BU)",
         true, L"W S-1-5-32-545"},
        // Under Wine: the running account's folder with mode 777, a folder of another uid.
        {L"O:S-1-5-21-0-0-0-1000D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-0-0-0-1000)(A;OICI;0x1301ff;;;WD)", true,
         L"W S-1-1-0"},
        {L"O:AND:(A;OICI;FA;;;SY)(A;OICI;FA;;;AN)(A;OICI;0x1200a9;;;WD)", true, L"O S-1-5-7"},
        // What new files inherit counts for a folder alone; what only subfolders inherit never.
        {L"O:BAD:(A;OIIO;GW;;;IU)(A;CIIO;GA;;;BG)", true, L"W S-1-5-4"},
        {L"O:BAD:(A;OIIO;GW;;;IU)(A;CIIO;GA;;;BG)", false, L""},
        // CREATOR OWNER outside an inherit-only entry grants nothing: no token holds it.
        {L"O:BAD:(A;OI;FA;;;CO)(A;;0x1301bf;;;S-1-5-21-1-2-3-513)(A;;FA;;;DU)(A;;FA;;;LA)", false,
         L"W S-1-5-21-1-2-3-513 W DU W LA"},
        // An OWNER RIGHTS entry that applies replaces the owner's right to rewrite the access list.
        {L"O:" + user + L"D:(A;;FA;;;BA)(A;;RC;;;OW)", false, L""}, {L"O:" + user + L"D:(D;;WD;;;OW)", false, L""},
        {L"O:" + user + L"D:(A;OICIIO;RC;;;OW)", true, L"O S-1-5-21-1004336348-1177238915-682003330-1001"},
        {L"O:" + user + L"D:(A;;0x116;;;OW)", false, L"W S-1-5-21-1004336348-1177238915-682003330-1001"},
        // Each change right alone; reading, executing and the like; deny and conditional entries.
        {L"O:BAD:(A;;0x2;;;WD)(A;;0X4;;;AN)(A;;DC;;;IU)(A;;SD;;;NU)(A;;WD;;;BG)(A;;WO;;;AU)(A;;GA;;;BU)"
         L"(A;;GW;;;S-1-5-32-547)(A;;FRFX;;;NS)(A;;GRGXRC;;;LS)(A;;0x130;;;SU)(D;;FA;;;WD)", false,
         L"W S-1-1-0 W S-1-5-7 W S-1-5-4 W S-1-5-2 W S-1-5-32-546 W S-1-5-11 W S-1-5-32-545 W S-1-5-32-547"},
        {L"O:BAD:(XA;;0x1200a9;;;BU;(Exists WIN://SYSAPPID))(XA;;FA;;;IU;(@User.x == \"a)\"))(OA;;GA;;;AU)",
         false, L"W S-1-5-4 W S-1-5-11"},
        // No access list, a null one.
        {L"O:BA", false, L"W S-1-1-0"}, {L"O:BAD:NO_ACCESS_CONTROL", false, L"W S-1-1-0"},
        {L"O:D:", false, L"unreadable"}, {L"D:(A;;FA;;SY)", false, L"unreadable"},
        {L"D:(Q;;FA;;;SY)", false, L"unreadable"}, {L"D:(A;;FA;;;S-1-)", false, L"unreadable"},
        {L"D:(A;;XY;;;SY)", false, L"unreadable"}, {L"D:(A;;FA;;;SY", false, L"unreadable"},
        {L"D:(A;;0x;;;SY)", false, L"unreadable"}, {L"D:(A;;FA;;;SY)x", false, L"unreadable"},
        {L"D:(XA;;FA;;;WD;x)", false, L"unreadable"}, {L"D:(A;ZZ;FA;;;SY)", false, L"unreadable"},
    };
    for (const auto& c : cases) {
        const ProgramPart part = c.folder ? ProgramPart::folder : ProgramPart::program;
        EXPECT_EQ(changers(c.sddl.c_str(), part), c.expected) << c.sddl;
    }
    // Folders above: what lets one swap the agent's folder for another, on the folder itself.
    const struct { std::wstring sddl; const wchar_t* expected; } above[] = {
        // C:\, C:\Program Files and C:\ProgramData as Windows ships them.
        {L"O:" + ti + L"G:SYD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)"
         L"(A;;LC;;;AU)", L""},
        {L"O:SYD:(A;OICIIO;GA;;;CO)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;CI;LC;;;BU)(A;CIIO;DC;;;BU)",
         L""},  // C:\ of Windows Server
        {cases[0].sddl, L""},
        {cases[4].sddl, L""},
        {cases[3].sddl, L"O S-1-5-21-1004336348-1177238915-682003330-1001 W S-1-5-11"},
        {L"O:BAD:(A;;SD;;;IU)(A;;DT;;;NU)(A;;WD;;;BG)(A;;WO;;;AU)(A;;GA;;;BU)(A;;0x116;;;WD)(A;;GW;;;AN)"
         L"(A;OICIIO;FA;;;PU)", L"W S-1-5-4 W S-1-5-2 W S-1-5-32-546 W S-1-5-11 W S-1-5-32-545"},
        {L"O:" + user + L"D:(A;;0x116;;;OW)", L""},
    };
    for (const auto& c : above) EXPECT_EQ(changers(c.sddl.c_str(), ProgramPart::folderAbove), c.expected) << c.sddl;
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
    // A share that the service's account can read is there at boot; a drive letter never.
    EXPECT_EQ(executableLocationMessage(Location::networkPath),
              L"keldraagent.exe lies on a network path, which Windows may not reach when it starts services at boot; "
              L"the service may fail to start then: install the agent on a local drive");
    EXPECT_EQ(executableLocationMessage(Location::networkDrive),
              L"keldraagent.exe lies on a network drive, which Windows cannot reach when it starts services at boot; "
              L"the service will fail to start then: install the agent on a local drive");
    EXPECT_EQ(executableLocationMessage(Location::local), L"");
}

}  // namespace
