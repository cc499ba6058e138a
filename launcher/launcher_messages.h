#pragma once

#include <string>

// The launcher's messages, each formatted from its one argument.
std::wstring readyToInstallMessage(const std::wstring& commandLine);
std::wstring failedToExecuteMessage(const std::wstring& commandLine);
std::wstring exitCodeErrorMessage(unsigned long errorCode);
std::wstring installationErrorMessage(const std::wstring& packageFile);
std::wstring packageRemovalFailedMessage(const std::wstring& packageFile);
std::wstring optionRemovalFailedMessage(const std::wstring& optionFile);
