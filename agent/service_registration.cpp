#include "service_registration.h"

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

}  // namespace

std::wstring serviceStartArguments(const std::wstring& serviceName) {
    return L"RUN " + (needsQuotes(serviceName) ? quotedArgument(serviceName) : serviceName);
}

std::wstring serviceCommandLine(const std::wstring& modulePath, const std::wstring& startArguments) {
    // An executable's path holds no double quote and does not end in a
    // backslash, so nothing in it needs escaping.
    return L"\"" + modulePath + L"\" " + startArguments;
}

std::wstring serviceStartName(const std::wstring& account) {
    if (account.find(L'\\') != std::wstring::npos) return account;
    return L".\\" + account;
}

std::wstring eventSourceKeyPath(const std::wstring& serviceName) {
    return L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + serviceName;
}

RemovalPollStep removalPollStep(bool statusQueried, unsigned long currentState) {
    if (!statusQueried) return RemovalPollStep::pollAtOnce;
    if (currentState == stoppedServiceState) return RemovalPollStep::deleteService;
    return RemovalPollStep::pauseThenPoll;
}
