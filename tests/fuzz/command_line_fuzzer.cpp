// The input is an argument vector: arguments separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "agent_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> arguments{"keldraagent.exe"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    arguments.push_back(current);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());

    AgentSettings = AgentSettingsRecord{};
    const ParseOutcome outcome = parseArguments(static_cast<int>(pointers.size()), pointers.data());
    if (outcome == ParseOutcome::valid && !isUsableServiceName(AgentSettings.serviceName)) __builtin_trap();
    return 0;
}
