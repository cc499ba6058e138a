#include "log_timestamp.h"

std::string formatLogTimestamp(const std::tm& localTime) {
    char buffer[80] = {};
    const size_t length = std::strftime(buffer, sizeof buffer, "%Y-%m-%d.%X", &localTime);
    return std::string(buffer, length);
}
