#pragma once
#include <string>

// Stops the named service, deletes it once it is seen stopped, and deletes
// its event source key in any case; a failed deletion of either is reported
// (through logMessage). A service or event source of another program under
// the name is left as it is, and that is reported. True when the service
// was deleted (or marked for deletion by this call).
bool removeService(const std::wstring& serviceName);
