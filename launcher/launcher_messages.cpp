#include "launcher_messages.h"

#include <boost/format.hpp>

namespace {

std::wstring withText(const wchar_t* format, const std::wstring& text) {
    return (boost::wformat(format) % text).str();
}

}  // namespace

std::wstring readyToInstallMessage(const std::wstring& commandLine) {
    return withText(L"Ready to install %s", commandLine);
}

std::wstring failedToExecuteMessage(const std::wstring& commandLine) {
    return withText(L"failed to execute command: %s", commandLine);
}

std::wstring exitCodeErrorMessage(unsigned long errorCode) {
    return (boost::wformat(L"GetExitCodeProcess error: %u") % errorCode).str();
}

std::wstring installationErrorMessage(const std::wstring& packageFile) {
    return withText(L"The installation of %s returned an error. Note: Installation of other packages may result in "
                    L"failure which are dependent on this one.",
                    packageFile);
}

std::wstring packageRemovalFailedMessage(const std::wstring& packageFile) {
    return withText(L"Failed to remove package file: %s", packageFile);
}

std::wstring optionRemovalFailedMessage(const std::wstring& optionFile) {
    return withText(L"Failed to remove option file: %s", optionFile);
}
