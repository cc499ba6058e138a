#pragma once
#include <string>

// The process-wide settings of keldraagent. Written on the main thread before
// any other thread exists; afterwards only serviceMain rewrites serviceName,
// once, before it starts the supervision thread.
struct AgentSettingsRecord {
    std::wstring command;
    std::wstring serviceName;
    std::wstring displayName;
    std::wstring accountUser = L".\\Administrator";
    std::string workerArguments;  // UTF-8
    std::string modulePath;       // UTF-8, full path of the running executable
};

extern AgentSettingsRecord AgentSettings;

enum class ParseOutcome { valid, invalid, showUsage, showVersion };

// The grammar alone: checks the argument vector (UTF-8, argument 0 being the
// program) and fills AgentSettings as far as the scan gets; prints nothing.
// Options after help or version are never looked at.
ParseOutcome parseArguments(int argc, const char* const* argv);

// Checks the argument vector (UTF-8, argument 0 being the program) and fills
// AgentSettings. Returns false for an invalid command line without printing.
// Help and version print their text and end the process with exit code 0.
bool parseCommandLine(int argc, const char* const* argv);

// The executable's directory: the path up to its last '\' or '/'. A path
// without either (or an empty one) is used whole.
std::string moduleDirectory(const std::string& modulePath);

// A name the system can use for a service and for its event source key.
bool isUsableServiceName(const std::wstring& name);
