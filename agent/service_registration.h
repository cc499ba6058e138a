#pragma once
// What INSTALL registers and REMOVE takes away, as text and decisions only:
// no Windows types, so these rules build and are tested natively too.
#include <string>

constexpr const wchar_t* missingPasswordMessage =
    L"ERROR: KELDRA_AGENT_SERVICE_ACCOUNT_PASSWORD environment variable is not set.";
constexpr const wchar_t* eventSourceKeyOpenFailedMessage = L"failed to open the message source registry key";
constexpr const wchar_t* eventMessageFileFailedMessage = L"failed to set the event message file registry value";
constexpr const wchar_t* eventSourceRemovalFailedMessage = L"Failed to uninstall source";

// Every event type a service can report: error (1), warning (2), information (4).
constexpr unsigned long eventTypesSupported = 7;

// "RUN " and the service name, written so that the started process reads
// the name back as one argument: a name with a blank is put in double quotes.
std::wstring serviceStartArguments(const std::wstring& serviceName);

// The executable's path in double quotes, a space and the start arguments.
// Unquoted, a path with a blank ("C:\Program Files\...") is resolved by
// trying "C:\Program.exe" first, which anyone able to write to C:\ could
// plant to run as the service account.
std::wstring serviceCommandLine(const std::wstring& modulePath, const std::wstring& startArguments);

// An account without a backslash is a local one: ".\" goes in front.
std::wstring serviceStartName(const std::wstring& account);

// Below HKEY_LOCAL_MACHINE.
std::wstring eventSourceKeyPath(const std::wstring& serviceName);

// REMOVE gives a stopping service this many status queries, each answered
// with anything but "stopped" being followed by a pause.
constexpr int removalPollLimit = 5;
constexpr unsigned long removalPollPauseMilliseconds = 1000;

enum class RemovalPollStep { deleteService, pauseThenPoll, pollAtOnce };

// What follows one status query: a failed query is repeated at once.
RemovalPollStep removalPollStep(bool statusQueried, unsigned long currentState);
