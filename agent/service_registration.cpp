#include "service_registration.h"

#include <algorithm>

namespace {

// SERVICE_STOPPED, the one state in which a service may be deleted at once.
constexpr unsigned long stoppedServiceState = 1;

// Quoted the way the runtime splits a command line into arguments: inside
// double quotes a blank is kept, a quote is written as \" and backslashes
// count only in front of a quote, where each one is doubled.
std::wstring quotedArgument(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    std::wstring::size_type backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') backslashes = backslashes * 2 + 1;
        quoted.append(backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

bool needsQuotes(const std::wstring& argument) {
    return argument.empty() || argument.find_first_of(L" \t\"") != std::wstring::npos;
}

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring lowerAscii(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return text;
}

// The last part of a path, after its last "\" or "/".
std::wstring fileNameOf(const std::wstring& path) {
    const std::wstring::size_type separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

bool namesAgentProgram(const std::wstring& program) {
    return lowerAscii(fileNameOf(program)) == L"keldraagent.exe";
}

// The first word of the arguments that follow the program: they begin with
// a blank, and the word ends at the next blank.
bool firstArgumentIsRun(const std::wstring& arguments) {
    if (arguments.empty() || !isBlank(arguments[0])) return false;
    const std::wstring::size_type start = arguments.find_first_not_of(L" \t");
    if (start == std::wstring::npos) return false;
    const std::wstring::size_type end = arguments.find_first_of(L" \t", start);
    return arguments.substr(start, end == std::wstring::npos ? end : end - start) == L"RUN";
}

// An argument as typed at a command prompt.
std::wstring commandArgument(const std::wstring& argument) {
    return needsQuotes(argument) ? quotedArgument(argument) : argument;
}

}  // namespace

std::wstring serviceStartArguments(const std::wstring& serviceName) {
    return L"RUN " + commandArgument(serviceName);
}

std::wstring serviceCommandLine(const std::wstring& modulePath, const std::wstring& startArguments) {
    // An executable's path holds no double quote and does not end in a
    // backslash, so nothing in it needs escaping.
    return L"\"" + modulePath + L"\" " + startArguments;
}

bool survivesExpansion(const std::wstring& commandLine) {
    return std::count(commandLine.begin(), commandLine.end(), L'%') <= 1;
}

bool isStartablePath(const std::wstring& modulePath) {
    return modulePath.size() <= longestStartablePath;
}

bool isAgentServiceCommandLine(const std::wstring& commandLine) {
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const std::wstring::size_type closing = commandLine.find(L'"', 1);
        if (closing == std::wstring::npos) return false;
        return namesAgentProgram(commandLine.substr(1, closing - 1)) &&
               firstArgumentIsRun(commandLine.substr(closing + 1));
    }
    // Unquoted, the program may hold blanks: it ends at the first blank that
    // follows a keldraagent.exe.
    for (std::wstring::size_type blank = commandLine.find_first_of(L" \t"); blank != std::wstring::npos;
         blank = commandLine.find_first_of(L" \t", blank + 1)) {
        if (namesAgentProgram(commandLine.substr(0, blank))) return firstArgumentIsRun(commandLine.substr(blank));
    }
    return false;
}

bool isAgentEventMessageFile(const std::wstring& eventMessageFile) {
    if (eventMessageFile.empty()) return true;
    // A list of several files (separated by ";") is some other program's.
    return eventMessageFile.find(L';') == std::wstring::npos &&
           lowerAscii(fileNameOf(eventMessageFile)) == L"vossevent.dll";
}

ServiceAccount serviceAccount(const std::wstring& account) {
    const std::wstring lower = lowerAscii(account);
    if (lower == L"localsystem" || lower == L".\\localsystem" || lower == L"nt authority\\system") {
        return {L"LocalSystem", false};
    }
    // whoami and icacls write the last two with a blank.
    if (lower == L"localservice" || lower == L"nt authority\\localservice" || lower == L"nt authority\\local service") {
        return {L"NT AUTHORITY\\LocalService", false};
    }
    if (lower == L"networkservice" || lower == L"nt authority\\networkservice" ||
        lower == L"nt authority\\network service") {
        return {L"NT AUTHORITY\\NetworkService", false};
    }
    const std::wstring::size_type backslash = account.find(L'\\');
    if (backslash == std::wstring::npos) {
        const std::wstring::size_type at = account.find(L'@');
        const bool principalName = at != std::wstring::npos && at > 0 && at + 1 < account.size();
        return {principalName ? account : L".\\" + account, true};
    }
    const std::wstring domain = lower.substr(0, backslash);
    const std::wstring name = account.substr(backslash + 1);
    const bool plainName = name.find(L'\\') == std::wstring::npos;
    const bool virtualAccount = domain == L"nt service" && !name.empty() && plainName;
    // "." is the local computer, whose accounts are never managed ones.
    const bool managedAccount = !domain.empty() && domain != L"." && name.size() > 1 && name.back() == L'$' &&
                                plainName;
    return {account, !virtualAccount && !managedAccount};
}

std::wstring stopTimedOutMessage(const std::wstring& serviceName) {
    return L"the service has not stopped within five seconds, so it was not removed; stop it with sc.exe stop " +
           commandArgument(serviceName) + L" and run REMOVE again";
}

std::wstring runFromConsoleMessage(const std::wstring& serviceName) {
    return L"RUN is for the Service Control Manager, which starts the installed service with it; start the "
           L"service with sc.exe start " + commandArgument(serviceName) + L" or in the Services console";
}

bool isOtherServicesVirtualAccount(const std::wstring& account, const std::wstring& serviceName) {
    const std::wstring domain = L"nt service\\";
    const std::wstring lower = lowerAscii(account);
    if (lower.compare(0, domain.size(), domain) != 0) return false;
    const std::wstring name = lower.substr(domain.size());
    // Anything else is no virtual account at all (serviceAccount).
    if (name.empty() || name.find(L'\\') != std::wstring::npos) return false;
    // Service names are told apart regardless of letter case; beyond ASCII
    // a different case is refused here rather than guessed at.
    return name != lowerAscii(serviceName);
}

std::wstring otherServicesVirtualAccountMessage(const std::wstring& account, const std::wstring& serviceName) {
    return L"ERROR: " + account + L" is the virtual account of another service; the one of this service is "
           L"NT SERVICE\\" + serviceName + L". Nothing was installed.";
}

unsigned long recoveryRestartDelayMs(unsigned failure) {
    return failure < recoveryActionCount ? 60 * 1000 : 10 * 60 * 1000;
}

std::wstring eventSourceKeyPath(const std::wstring& serviceName) {
    return L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + serviceName;
}

RemovalPollStep removalPollStep(bool statusQueried, unsigned long currentState) {
    if (!statusQueried) return RemovalPollStep::pollAtOnce;
    if (currentState == stoppedServiceState) return RemovalPollStep::deleteService;
    return RemovalPollStep::pauseThenPoll;
}
