#include "agent_settings.h"

#include <cstdlib>
#include <cstring>

#include "text_conversion.h"
#include "version_output.h"

AgentSettingsRecord AgentSettings;

namespace {

bool isCommandWord(const std::wstring& word) {
    return word == L"INSTALL" || word == L"REMOVE" || word == L"RUN";
}

bool optionTakesValue(char selector) {
    return std::strchr("ducotrlamn", selector) != nullptr;
}

void applyOption(char selector, const std::string& value) {
    if (selector == 'd') AgentSettings.displayName = utf8ToWide(value);
    if (selector == 'u') AgentSettings.accountUser = utf8ToWide(value);
    // The other options belong to the worker's configuration; the host only
    // accepts them.
}

}  // namespace

std::string moduleDirectory(const std::string& modulePath) {
    const std::string::size_type separator = modulePath.find_last_of("\\/");
    if (separator == std::string::npos) return modulePath;
    return modulePath.substr(0, separator);
}

bool isUsableServiceName(const std::wstring& name) {
    // An empty name would address the Application log's own key, and a
    // separator would reach into other keys below it. The service manager
    // expands %...% in a service's command line, so a name holding "%" could
    // reach the started service as another name (or not at all).
    return !name.empty() && name.find_first_of(L"\\/%") == std::wstring::npos;
}

ParseOutcome parseArguments(int argc, const char* const* argv) {
    // A command word alone names no service, so it is refused like a bad one.
    if (argc < 3) return ParseOutcome::invalid;
    const std::string commandArgument = argv[1];
    if (!isValidUtf8(commandArgument)) return ParseOutcome::invalid;
    AgentSettings.command = utf8ToWide(commandArgument);
    if (!isCommandWord(AgentSettings.command)) return ParseOutcome::invalid;

    const std::string nameArgument = argv[2];
    if (!isValidUtf8(nameArgument)) return ParseOutcome::invalid;
    AgentSettings.serviceName = utf8ToWide(nameArgument);
    if (!isUsableServiceName(AgentSettings.serviceName)) return ParseOutcome::invalid;
    AgentSettings.displayName = L"Keldra - " + AgentSettings.serviceName;

    for (int index = 3; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument.size() < 2 || argument[0] != '-') return ParseOutcome::invalid;
        if (argument[1] == '-') {
            if (argument == "--version") return ParseOutcome::showVersion;
            if (argument == "--help") return ParseOutcome::showUsage;
            return ParseOutcome::invalid;
        }
        const char selector = argument[1];
        if (selector == 'h') return ParseOutcome::showUsage;
        if (selector == 'v') return ParseOutcome::showVersion;
        if (!optionTakesValue(selector)) return ParseOutcome::invalid;

        std::string value;
        if (argument.size() > 2) {
            value = argument.substr(2);
        } else if (index + 1 < argc) {
            value = argv[++index];
        }
        if (!isValidUtf8(value)) return ParseOutcome::invalid;
        applyOption(selector, value);
    }
    return ParseOutcome::valid;
}

bool parseCommandLine(int argc, const char* const* argv) {
    switch (parseArguments(argc, argv)) {
    case ParseOutcome::valid:
        return true;
    case ParseOutcome::invalid:
        return false;
    case ParseOutcome::showUsage:
        printUsage();
        break;
    case ParseOutcome::showVersion:
        printVersion();
        break;
    }
    std::exit(0);
}
