#pragma once
#include <string>

// Reports (through logMessage) what would let another user take the service
// over, or keep it from starting at boot: an owner or a writer other than
// SYSTEM, Administrators, TrustedInstaller and the account running INSTALL
// of the executable's folder, the executable, the worker or the event
// message library, named as Windows names it; and an executable on a
// network path or a network or substituted drive. Reports only; what
// cannot be read is passed over.
void reportExecutableExposure(const std::string& modulePath);
