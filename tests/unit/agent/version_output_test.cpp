#include <gtest/gtest.h>

#include <algorithm>

#include "version_output.h"

namespace {

TEST(VersionOutput, BannerEndsWithAnEmptyLine) {
    EXPECT_EQ(versionBanner(),
              "Keldra Agent\n"
              "Version: 9.8.0\n"
              "(Revision: REL-9_8_0-1, Built on: Nov 21 2024 09:33:56)\n"
              "Schema Supported: 202411191\n"
              "\n");
}

TEST(VersionOutput, UsageShowsTheFullModulePathTwice) {
    const std::wstring usage = usageText(L"C:\\Agent\\keldraagent.exe");
    EXPECT_EQ(usage.find(L"Usage:\nC:\\Agent\\keldraagent.exe REMOVE <serviceName>\n"
                         L"C:\\Agent\\keldraagent.exe INSTALL <serviceName> [options]\noptions:\n"),
              0u);
    EXPECT_NE(usage.find(L"\n-u <user or DOMAIN\\user>\n"), std::wstring::npos);
    // Thirteen lines, each ended, none of them naming RUN.
    EXPECT_EQ(std::count(usage.begin(), usage.end(), L'\n'), 13);
    EXPECT_EQ(usage.find(L"RUN"), std::wstring::npos);
}

}  // namespace
