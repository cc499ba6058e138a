#include "package_runner.h"

#include <windows.h>

#include <vector>

#include "launcher_messages.h"
#include "log_file.h"
#include "package_command.h"
#include "handle_holders_win.h"

namespace {

// msiexec named without a directory would be looked for first in the
// launcher's own directory and in the current directory, where packages are
// staged; a file of that name there would run with the installer's rights.
// The installer is started from the system directory by its full path, while
// its command line still begins with "msiexec". Empty when the system
// directory is unknown, which then fails the start rather than search.
std::wstring installerProgramPath() {
    wchar_t directory[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return std::wstring();
    return std::wstring(directory, length) + L"\\msiexec.exe";
}

// Starts the command and waits for its end; false, with the reason logged,
// when it could not be started or its exit code could not be read.
bool runToCompletion(const std::wstring& application, const std::wstring& commandLine, DWORD& exitCode) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> writableCommandLine(commandLine.begin(), commandLine.end());
    writableCommandLine.push_back(L'\0');
    if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), writableCommandLine.data(), nullptr,
                        nullptr, /* inherit handles */ FALSE, 0, nullptr, nullptr, &startup, &process)) {
        writeLog(failedToExecuteMessage(commandLine));
        return false;
    }
    // Declared in this order so that the process handle is closed first.
    const UniqueHandle thread(process.hThread);
    const UniqueHandle child(process.hProcess);

    WaitForSingleObject(child.get(), INFINITE);
    if (!GetExitCodeProcess(child.get(), &exitCode)) {
        const DWORD error = GetLastError();
        writeLog(exitCodeErrorMessage(error));
        return false;
    }
    return true;
}

}  // namespace

bool runPackage(const std::wstring& packageFile, const std::wstring& packageType,
                const std::wstring& installOptions) {
    const bool installerPackage = isInstallerPackage(packageType);
    std::wstring commandLine = packageCommandLine(packageFile, installerPackage, installOptions);
    writeLog(readyToInstallMessage(commandLine));
    trimCommandLine(commandLine);

    const std::wstring application = installerPackage ? installerProgramPath() : std::wstring();
    DWORD exitCode = 0;
    bool succeeded = false;
    if (installerPackage && application.empty()) {
        writeLog(failedToExecuteMessage(commandLine));
    } else {
        succeeded = runToCompletion(application, commandLine, exitCode) && !installationFailed(exitCode);
    }
    if (!succeeded) writeLog(installationErrorMessage(packageFile));
    return succeeded;
}
