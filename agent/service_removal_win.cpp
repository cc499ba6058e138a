#include "service_removal.h"

#include <windows.h>

#include "handle_holders_win.h"
#include "message_log_win.h"
#include "service_ownership_win.h"
#include "service_registration.h"
#include "system_error_text_win.h"

namespace {

// A service that another program still holds open (the Services console,
// Event Viewer) is only marked for deletion, and the name stays taken until
// that program lets go: a new INSTALL fails meanwhile, and the reason is
// said here, not left to a bare system text.
bool deleteService(SC_HANDLE service) {
    if (DeleteService(service)) return true;
    const DWORD error = GetLastError();
    logMessage(error == ERROR_SERVICE_MARKED_FOR_DELETE ? std::wstring(markedForDeletionMessage)
                                                        : systemErrorText(error));
    return false;
}

bool stopAndDeleteService(SC_HANDLE manager, const std::wstring& serviceName) {
    if (manager == nullptr) return false;
    const UniqueServiceHandle service(OpenServiceW(manager, serviceName.c_str(), SERVICE_ALL_ACCESS));
    if (!service) return false;

    SERVICE_STATUS status = {};
    // A service that is not running refuses the control; the first query
    // below then finds it stopped.
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    for (int poll = 0; poll < removalPollLimit; ++poll) {
        const bool queried = QueryServiceStatus(service.get(), &status) != FALSE;
        switch (removalPollStep(queried, status.dwCurrentState)) {
        case RemovalPollStep::deleteService:
            return deleteService(service.get());
        case RemovalPollStep::pauseThenPoll:
            Sleep(removalPollPauseMilliseconds);
            break;
        case RemovalPollStep::pollAtOnce:
            break;
        }
    }
    return false;
}

}  // namespace

bool removeService(const std::wstring& serviceName) {
    // Another program's service is not stopped, and neither it nor the event
    // source of its name is deleted.
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (manager && serviceOwnership(manager.get(), serviceName) == Ownership::foreign) {
        logMessage(foreignServiceMessage);
        return false;
    }
    const bool deleted = stopAndDeleteService(manager.get(), serviceName);
    if (eventSourceOwnership(serviceName) == Ownership::foreign) {
        logMessage(foreignEventSourceMessage);
    } else if (RegDeleteKeyW(HKEY_LOCAL_MACHINE, eventSourceKeyPath(serviceName).c_str()) != ERROR_SUCCESS) {
        logMessage(eventSourceRemovalFailedMessage);
    }
    return deleted;
}
