#pragma once
#include <string>

// Reports (through logMessage) what would let another user take the service
// over, or keep it from starting at boot: a broad group that can change the
// executable's folder, the executable, the worker or the event message
// library, and an executable on a network or substituted drive. Reports
// only; what cannot be read is passed over.
void reportExecutableExposure(const std::string& modulePath);
