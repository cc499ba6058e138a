#include "command_line.h"

#include <cstdlib>
#include <cstring>

#include "text_conversion.h"
#include "version_output.h"

namespace {

bool isCommandWord(const std::wstring& word) {
    return word == L"INSTALL" || word == L"REMOVE" || word == L"RUN";
}

bool optionTakesValue(char selector) {
    return std::strchr("ducotrlamn", selector) != nullptr;
}

ParsedCommandLine refused(ParsedCommandLine line, InvalidReason reason) {
    line.outcome = ParseOutcome::invalid;
    line.invalidReason = reason;
    return line;
}

ParsedCommandLine stoppedAt(ParsedCommandLine line, ParseOutcome outcome) {
    line.outcome = outcome;
    return line;
}

void applyOption(ParsedCommandLine& line, char selector, const std::string& value) {
    if (selector == 'd') line.displayName = utf8ToWide(value);
    if (selector == 'u') line.accountUser = utf8ToWide(value);
    // The other options belong to the worker's configuration; the host only
    // accepts them.
}

void applyToSettings(const ParsedCommandLine& line) {
    AgentSettings.command = line.command;
    AgentSettings.serviceName = line.serviceName;
    AgentSettings.displayName = line.displayName;
    AgentSettings.accountUser = line.accountUser;
}

}  // namespace

ParsedCommandLine parseArguments(const std::vector<std::string>& arguments) {
    ParsedCommandLine line;
    // A command word alone names no service, so it is refused like a bad one.
    if (arguments.size() < 3) return refused(line, InvalidReason::noServiceName);
    if (!isValidUtf8(arguments[1])) return refused(line, InvalidReason::notUtf8);
    line.command = utf8ToWide(arguments[1]);
    if (!isCommandWord(line.command)) return refused(line, InvalidReason::unknownCommandWord);

    if (!isValidUtf8(arguments[2])) return refused(line, InvalidReason::notUtf8);
    line.serviceName = utf8ToWide(arguments[2]);
    if (!isUsableServiceName(line.serviceName)) return refused(line, InvalidReason::unusableServiceName);
    line.displayName = L"Keldra - " + line.serviceName;

    for (size_t index = 3; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument.size() < 2 || argument[0] != '-') {
            return refused(line, argument == "-" ? InvalidReason::unknownOption : InvalidReason::strayWord);
        }
        if (argument[1] == '-') {
            if (argument == "--version") return stoppedAt(line, ParseOutcome::showVersion);
            if (argument == "--help") return stoppedAt(line, ParseOutcome::showUsage);
            return refused(line, InvalidReason::unknownOption);
        }
        const char selector = argument[1];
        if (selector == 'h') return stoppedAt(line, ParseOutcome::showUsage);
        if (selector == 'v') return stoppedAt(line, ParseOutcome::showVersion);
        if (!optionTakesValue(selector)) return refused(line, InvalidReason::unknownOption);

        std::string value;
        if (argument.size() > 2) {
            value = argument.substr(2);
        } else if (index + 1 < arguments.size()) {
            value = arguments[++index];
        }
        if (!isValidUtf8(value)) return refused(line, InvalidReason::notUtf8);
        applyOption(line, selector, value);
    }
    line.outcome = ParseOutcome::valid;
    return line;
}

bool parseCommandLine(const std::vector<std::string>& arguments) {
    const ParsedCommandLine line = parseArguments(arguments);
    if (line.outcome == ParseOutcome::invalid) return false;
    applyToSettings(line);
    if (line.outcome == ParseOutcome::valid) return true;
    if (line.outcome == ParseOutcome::showUsage) {
        printUsage(AgentSettings.modulePath);
    } else {
        printVersion();
    }
    std::exit(0);
}
