#pragma once
// What INSTALL registers and REMOVE takes away, as text and decisions only:
// no Windows types, so these rules build and are tested natively too.
#include <string>

constexpr const wchar_t* missingPasswordMessage =
    L"ERROR: KELDRA_AGENT_SERVICE_ACCOUNT_PASSWORD environment variable is not set.";
constexpr const wchar_t* eventSourceKeyOpenFailedMessage = L"failed to open the message source registry key";
constexpr const wchar_t* eventMessageFileFailedMessage = L"failed to set the event message file registry value";
constexpr const wchar_t* eventSourceRemovalFailedMessage = L"Failed to uninstall source";
constexpr const wchar_t* markedForDeletionMessage =
    L"the service is already marked for deletion; it will be gone once every program that holds it open "
    L"(such as the Services console or Event Viewer) has closed it, and until then it cannot be installed again";
constexpr const wchar_t* pendingDeletionMessage =
    L"the service is marked for deletion; it will be gone once every program that holds it open (such as the "
    L"Services console or Event Viewer) has closed it, and until then it cannot be installed again";
constexpr const wchar_t* foreignServiceMessage =
    L"the service of this name belongs to another program; it was left as it is";
constexpr const wchar_t* foreignEventSourceMessage =
    L"the event source of this name belongs to another program; it was left as it is";
constexpr const wchar_t* expandablePathMessage =
    L"ERROR: the path of keldraagent.exe holds more than one \"%\", which Windows would expand in the "
    L"service's command line; nothing was installed";
constexpr const wchar_t* unstartablePathMessage =
    L"ERROR: the path of keldraagent.exe is longer than Windows can start a service from (259 characters), so "
    L"the service could never start; nothing was installed";
constexpr const wchar_t* unstartableWorkerPathMessage =
    L"the path of keldraworker.exe is longer than Windows can start a program from (259 characters); "
    L"the service will start but never run its worker";

constexpr const wchar_t* recoveryNotSetMessage =
    L"the service is installed, but Windows refused its recovery actions (it will not restart the "
    L"service after a failure): ";
constexpr const wchar_t* descriptionNotSetMessage =
    L"the service is installed, but Windows refused its description: ";
constexpr const wchar_t* serviceDescription =
    L"Keeps the Keldra agent's worker (keldraworker.exe) running and starts it again when it ends.";

// The exit codes of INSTALL and REMOVE are the system's error code of the
// step that failed; these are the ones for failures of the agent's own.
// A service or event source of the name belongs to another program
// (ERROR_DUPLICATE_SERVICE_NAME: the name is taken, and not by the agent).
constexpr unsigned long foreignNameExitCode = 1078;
// The executable's path holds "%" more than once (ERROR_BAD_PATHNAME).
constexpr unsigned long expandablePathExitCode = 161;
// The executable's path is longer than a service can be started from
// (ERROR_FILENAME_EXCED_RANGE).
constexpr unsigned long unstartablePathExitCode = 206;
// REMOVE's stop did not finish within its wait (ERROR_SERVICE_REQUEST_TIMEOUT).
constexpr unsigned long stopTimedOutExitCode = 1053;

// Windows restarts the service when its process dies (killed, or a crash)
// without having reported a stop: after one minute on the first and second
// failure, after ten minutes on every later one (the last action repeats);
// the count starts over after a day without a failure.
constexpr unsigned recoveryActionCount = 3;
constexpr unsigned long recoveryResetSeconds = 24 * 60 * 60;
// The wait before the restart that follows the given failure (1 for the first).
unsigned long recoveryRestartDelayMs(unsigned failure);

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

// The service manager expands %name% in the command line it starts, and
// there is no way to write a "%" that it leaves alone; with at most one "%"
// there is nothing it can expand.
bool survivesExpansion(const std::wstring& commandLine);

// Windows finds the program of a command line in a buffer of MAX_PATH
// characters, its end included: a longer path is a file it cannot find.
constexpr std::wstring::size_type longestStartablePath = 259;
bool isStartablePath(const std::wstring& modulePath);

// Whether what the system holds under a name is ours to change.
enum class Ownership { absent, ours, foreign };

// A service is ours when the program its command line starts is a
// keldraagent.exe (any directory, quoted or not: older installations wrote
// the path unquoted) and its first argument is RUN.
bool isAgentServiceCommandLine(const std::wstring& commandLine);

// An event source is ours when its message file is one vossevent.dll, in
// any directory, or when it names none (empty).
bool isAgentEventMessageFile(const std::wstring& eventMessageFile);

// An account as CreateServiceW takes it: the name it is registered under,
// and whether a password goes with it.
struct ServiceAccount {
    std::wstring startName;
    bool needsPassword;
};

// The built-in service accounts (LocalSystem, LocalService, NetworkService,
// in any of the spellings Windows knows them by), virtual accounts (NT
// SERVICE\name) and managed service accounts (DOMAIN\name$) log on without a
// password, and CreateServiceW refuses one for the last two; the built-in
// ones are registered under their canonical names, since ".\LocalSystem" is
// an account that does not exist. A user principal name (user@domain) is
// registered as given. Any other account without a backslash is a local
// one: ".\" goes in front. Letter case does not matter to Windows here.
ServiceAccount serviceAccount(const std::wstring& account);

// What REMOVE says when the service has not stopped within its wait, and
// what RUN typed at a console says: each names the command to run next.
std::wstring stopTimedOutMessage(const std::wstring& serviceName);
std::wstring runFromConsoleMessage(const std::wstring& serviceName);

// Windows has "NT SERVICE\<name>" only for the service of that name: any
// other name is refused here, before anything is registered.
bool isOtherServicesVirtualAccount(const std::wstring& account, const std::wstring& serviceName);
std::wstring otherServicesVirtualAccountMessage(const std::wstring& account, const std::wstring& serviceName);

// Below HKEY_LOCAL_MACHINE.
std::wstring eventSourceKeyPath(const std::wstring& serviceName);

// REMOVE gives a stopping service this many status queries, each answered
// with anything but "stopped" being followed by a pause.
constexpr int removalPollLimit = 5;
constexpr unsigned long removalPollPauseMilliseconds = 1000;

enum class RemovalPollStep { deleteService, pauseThenPoll, pollAtOnce };

// After the deletion REMOVE looks this many times, this far apart, whether
// the service has gone before it says that another program holds it open.
constexpr int deletionCheckLimit = 10;
constexpr unsigned long deletionCheckPauseMilliseconds = 200;

// What follows one status query: a failed query is repeated at once.
RemovalPollStep removalPollStep(bool statusQueried, unsigned long currentState);
