#include "launcher_messages.h"

#include <gtest/gtest.h>

TEST(LauncherMessages, EachTextWithItsArgumentInPlace) {
    EXPECT_EQ(readyToInstallMessage(L"\"C:\\p.exe\" "), L"Ready to install \"C:\\p.exe\" ");
    EXPECT_EQ(failedToExecuteMessage(L"\"C:\\p.exe\""), L"failed to execute command: \"C:\\p.exe\"");
    EXPECT_EQ(exitCodeErrorMessage(6), L"GetExitCodeProcess error: 6");
    EXPECT_EQ(exitCodeErrorMessage(4294967295UL), L"GetExitCodeProcess error: 4294967295");
    EXPECT_EQ(installationErrorMessage(L"C:\\p.exe"),
              L"The installation of C:\\p.exe returned an error. Note: Installation of other packages may result in "
              L"failure which are dependent on this one.");
    EXPECT_EQ(packageRemovalFailedMessage(L"C:\\p.exe"), L"Failed to remove package file: C:\\p.exe");
    EXPECT_EQ(optionRemovalFailedMessage(L"C:\\o.txt"), L"Failed to remove option file: C:\\o.txt");
}

TEST(LauncherMessages, TheArgumentIsNotReadAsAFormat) {
    EXPECT_EQ(readyToInstallMessage(L"\"C:\\100%s\" %u %1% %%"), L"Ready to install \"C:\\100%s\" %u %1% %%");
    EXPECT_EQ(optionRemovalFailedMessage(L""), L"Failed to remove option file: ");
}
