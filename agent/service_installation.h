#pragma once
#include <string>

// Registers the running executable (AgentSettings.modulePath) as an
// automatically started service of its own process, with its recovery
// actions and description, then its event source in the Application log,
// written when the service was created or is already there. Nothing is
// changed when the service or the event source of that name belongs to
// another program, or when the executable's path cannot be registered
// unchanged or started from. The password goes to the system only for an
// account that takes one (serviceAccount). Failures are reported through
// logMessage; so are places from which the service could be taken over or
// could not run its worker, which are warnings only.
// 0 (ERROR_SUCCESS) when the service was created and its event source written;
// otherwise the system's error code of the first step that failed, or one
// of the codes of service_registration.h.
unsigned long installService(const std::wstring& serviceName, const std::wstring& startArguments,
                             const std::wstring& displayName, const std::wstring& account,
                             const std::wstring& password);
