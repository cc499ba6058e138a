#pragma once
// The argument grammar of keldraagent, as a plain decision (parseArguments:
// it reads the argument vector and says what the line asks for, writing and
// printing nothing), and parseCommandLine, which acts on that decision.
#include <string>
#include <vector>

#include "agent_settings.h"

enum class ParseOutcome { valid, invalid, showUsage, showVersion };

// Why a line is invalid; none for every other outcome.
enum class InvalidReason {
    none,
    noServiceName,       // fewer than a command word and a service name
    notUtf8,             // an argument that is not well-formed UTF-8
    unknownCommandWord,  // not exactly INSTALL, REMOVE or RUN
    unusableServiceName, // empty, or holds a separator or "%"
    strayWord,           // a word after the service name that is no option
    unknownOption,       // an option the agent does not know
};

struct ParsedCommandLine {
    ParseOutcome outcome = ParseOutcome::invalid;
    InvalidReason invalidReason = InvalidReason::none;
    std::wstring command;
    std::wstring serviceName;
    std::wstring displayName;  // "Keldra - <serviceName>" unless -d gives one
    std::wstring accountUser = defaultAccountUser;
};

// Argument 0 is the program; the arguments are UTF-8. Help and version
// stop the scan: options before them are in the result, options after them
// are never looked at.
ParsedCommandLine parseArguments(const std::vector<std::string>& arguments);

// Acts on the decision for the argument vector: a valid line fills
// AgentSettings and gives true, an invalid one gives false without printing.
// Help and version apply the options before them, print their text (the
// usage shows AgentSettings.modulePath) and end the process with exit code 0.
bool parseCommandLine(const std::vector<std::string>& arguments);
