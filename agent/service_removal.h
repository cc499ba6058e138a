#pragma once
#include <string>

// Stops the named service, deletes it once it is seen stopped, and deletes
// its event source key in any case; every failure is reported (through
// logMessage). A service or event source of another program under the name
// is left as it is, and that is reported; so is a deletion that waits for
// other programs to close the service. 0 when both the
// service and its event source were deleted; otherwise the system's error
// code of the first step that failed, or one of the codes of
// service_registration.h.
unsigned long removeService(const std::wstring& serviceName);
