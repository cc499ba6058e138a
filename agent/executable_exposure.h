#pragma once
#include <string>

// Reports (through logMessage) what would let another user take the service
// over, or keep it from starting at boot: an owner or a writer other than
// SYSTEM, Administrators, TrustedInstaller and the account running INSTALL
// of the executable's folder, the executable, the worker, the event message
// library or a folder above them, named as Windows names it; an owner or
// access list that cannot be read; and an executable on a network path or a
// network or substituted drive. Reports only; a worker or library not
// placed yet is passed over.
void reportExecutableExposure(const std::string& modulePath);
