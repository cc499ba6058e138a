#pragma once
#include <string>

// Stops the named service, deletes it once it is seen stopped, and deletes
// its event source key in any case; only a failed key deletion is reported
// (through logMessage). A service or event source of another program under
// the name is left as it is, and that is reported. True when the service's
// deletion was requested.
bool removeService(const std::wstring& serviceName);
