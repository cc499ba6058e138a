#include "agent_settings.h"

AgentSettingsRecord& AgentSettings = *new AgentSettingsRecord;

bool isUsableServiceName(const std::wstring& name) {
    // An empty name would address the Application log's own key, and a
    // separator would reach into other keys below it. The service manager
    // expands %...% in a service's command line, so a name holding "%" could
    // reach the started service as another name (or not at all).
    return !name.empty() && name.find_first_of(L"\\/%") == std::wstring::npos;
}
