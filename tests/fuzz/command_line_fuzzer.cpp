// The input is an argument vector: arguments separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"

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

    const ParsedCommandLine line = parseArguments(arguments);
    // A line is refused exactly when a reason is given, and a line that is
    // acted on always names a service that has a key of its own.
    if ((line.outcome == ParseOutcome::invalid) != (line.invalidReason != InvalidReason::none)) __builtin_trap();
    if (line.outcome != ParseOutcome::invalid && !isUsableServiceName(line.serviceName)) __builtin_trap();
    return 0;
}
