#pragma once
#include <ctime>
#include <string>

// "%Y-%m-%d.%X" in the C locale: 2025-03-07.14:05:09, always 19 characters.
std::string formatLogTimestamp(const std::tm& localTime);
