#pragma once
// Whether what the system holds under a service name is ours to change: the
// Windows side of the ownership rules in service_registration.h.
#include <windows.h>

#include <string>

#include "service_registration.h"

// Whether the service of that name is absent, ours or another program's; a
// service whose command line cannot be read counts as another program's.
Ownership serviceOwnership(SC_HANDLE manager, const std::wstring& serviceName);

// The same for the event source of that name in the Application log.
Ownership eventSourceOwnership(const std::wstring& serviceName);
