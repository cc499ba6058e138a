#pragma once
#include <string>

constexpr const wchar_t* defaultAccountUser = L".\\Administrator";

// The process-wide settings of keldraagent. Written on the main thread before
// any other thread exists; afterwards only serviceMain rewrites serviceName,
// once, before it starts the supervision thread.
struct AgentSettingsRecord {
    std::wstring command;
    std::wstring serviceName;
    std::wstring displayName;
    std::wstring accountUser = defaultAccountUser;
    std::string workerArguments;  // UTF-8
    std::string modulePath;       // UTF-8, full path of the running executable
};

// Never destroyed: when the service has stopped, wmain returns while the
// supervision may still be running (a stop waits for it only so long), and
// the C runtime's exit must not tear the settings down under it.
extern AgentSettingsRecord& AgentSettings;

// A name the system can use for a service and for its event source key.
bool isUsableServiceName(const std::wstring& name);
