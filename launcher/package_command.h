#pragma once

#include <string>

// True when the package is a Windows Installer package: the kind is "msi"
// in any letter case, and nothing else.
bool isInstallerPackage(const std::wstring& packageType);

// msiexec /i "<package>" <options> for an installer package, otherwise
// "<package>" <options>: the path always quoted, the options as they come.
std::wstring packageCommandLine(const std::wstring& packageFile, bool installerPackage,
                                const std::wstring& installOptions);

// Drops leading and trailing white space as the global locale classifies it.
void trimCommandLine(std::wstring& commandLine);

// The Windows Installer's own meaning of an exit code: 0, 1641 (restart
// started) and 3010 (restart required) are successful installations.
bool installationFailed(unsigned long exitCode);
