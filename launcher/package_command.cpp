#include "package_command.h"

#include <locale>

#include <boost/algorithm/string/trim.hpp>

bool isInstallerPackage(const std::wstring& packageType) {
    if (packageType.size() != 3) return false;
    std::string kind;
    for (const wchar_t unit : packageType) {
        // A unit outside ASCII would otherwise count by its low byte alone:
        // U+016D would pass for "m".
        if (static_cast<unsigned long>(unit) > 0x7F) return false;
        kind += std::tolower(static_cast<char>(unit), std::locale());
    }
    return kind == "msi";
}

std::wstring packageCommandLine(const std::wstring& packageFile, bool installerPackage,
                                const std::wstring& installOptions) {
    const std::wstring quotedPackage = L"\"" + packageFile + L"\" " + installOptions;
    return installerPackage ? L"msiexec /i " + quotedPackage : quotedPackage;
}

void trimCommandLine(std::wstring& commandLine) {
    boost::algorithm::trim(commandLine, std::locale());
}

bool installationFailed(unsigned long exitCode) {
    return exitCode != 0 && exitCode != 1641 && exitCode != 3010;
}
