#pragma once

#include <string>

// Installs one package: starts the Windows Installer or the package program,
// waits for it without a time limit and logs the outcome. True when the
// installation ran and did not fail.
bool runPackage(const std::wstring& packageFile, const std::wstring& packageType,
                const std::wstring& installOptions);
