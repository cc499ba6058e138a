#include "agent_settings.h"

AgentSettingsRecord& AgentSettings = *new AgentSettingsRecord;

bool isUsableServiceName(const std::wstring& name) {
    // An empty name would address the Application log's own key, and a
    // separator would reach into other keys below it.
    return !name.empty() && name.find_first_of(L"\\/") == std::wstring::npos;
}
