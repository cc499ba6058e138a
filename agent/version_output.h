#pragma once
#include <string>

// The banner: product line, version, revision and build time, supported schema.
std::string versionBanner();
// The usage lines that follow the banner, for the executable at modulePath.
std::wstring usageText(const std::wstring& modulePath);

void printVersion();
// The banner, then the usage lines for the executable at modulePath (UTF-8).
void printUsage(const std::string& modulePath);
