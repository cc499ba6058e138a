#include "package_command.h"

#include <gtest/gtest.h>

TEST(PackageKind, MsiInAnyLetterCaseAndNothingElseIsAnInstallerPackage) {
    for (const wchar_t* kind : {L"msi", L"MSI", L"Msi", L"mSi", L"msI"}) EXPECT_TRUE(isInstallerPackage(kind)) << kind;
    for (const wchar_t* kind : {L"msi ", L" msi", L"msix", L"ms", L"", L".msi", L"msi.", L"exe", L"m si"})
        EXPECT_FALSE(isInstallerPackage(kind)) << kind;
}

TEST(PackageKind, UnitsOutsideAsciiDoNotPassForTheirLowByte) {
    // U+016D and U+014D end in the bytes of "m" and "M", U+0153 in "S".
    for (const wchar_t* kind : {L"\u016dsi", L"\u014dSI", L"m\u0153i", L"ms\u0169"})
        EXPECT_FALSE(isInstallerPackage(kind));
}

TEST(PackageCommandLine, TheInstallerOrThePackageWithTheQuotedPathAndTheOptions) {
    EXPECT_EQ(packageCommandLine(L"C:\\pkg\\a b.msi", true, L"/qn ALLUSERS=1"),
              L"msiexec /i \"C:\\pkg\\a b.msi\" /qn ALLUSERS=1");
    EXPECT_EQ(packageCommandLine(L"C:\\pkg\\setup.exe", false, L"/S \"x y\""), L"\"C:\\pkg\\setup.exe\" /S \"x y\"");
    EXPECT_EQ(packageCommandLine(L"C:\\p.exe", false, L""), L"\"C:\\p.exe\" ");
    EXPECT_EQ(packageCommandLine(L"C:\\p.msi", true, L""), L"msiexec /i \"C:\\p.msi\" ");
}

TEST(TrimCommandLine, DropsWhiteSpaceAtBothEndsOnly) {
    const struct {
        std::wstring before;
        std::wstring after;
    } cases[] = {
        {L"\"C:\\p.exe\" ", L"\"C:\\p.exe\""},
        {L" \t\r\n\v\f\"C:\\p.exe\"  /a   /b \t\r\n\v\f", L"\"C:\\p.exe\"  /a   /b"},
        {L"msiexec /i \"x\" /qn", L"msiexec /i \"x\" /qn"},
        {L" \t ", L""},
        {L"", L""},
    };
    for (const auto& c : cases) {
        std::wstring commandLine = c.before;
        trimCommandLine(commandLine);
        EXPECT_EQ(commandLine, c.after);
    }
}

TEST(InstallationOutcome, OnlyTheInstallersSuccessCodesAreSuccess) {
    for (const unsigned long code : {0UL, 1641UL, 3010UL}) EXPECT_FALSE(installationFailed(code)) << code;
    for (const unsigned long code : {1UL, 2UL, 259UL, 1602UL, 1603UL, 1618UL, 1619UL, 3011UL, 0xFFFFFFFFUL})
        EXPECT_TRUE(installationFailed(code)) << code;
}
