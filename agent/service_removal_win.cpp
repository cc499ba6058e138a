#include "service_removal.h"

#include <windows.h>

#include "handle_holders_win.h"
#include "message_log_win.h"
#include "service_ownership_win.h"
#include "service_registration.h"
#include "system_error_text_win.h"

namespace {

// Reports the system's text for the error of a step that failed, and gives the error.
DWORD reportedFailure(DWORD error) {
    logMessage(systemErrorText(error));
    return error;
}

// A service that another program still holds open (the Services console,
// Event Viewer) is only marked for deletion, and the name stays taken until
// that program lets go: a new INSTALL fails meanwhile, and the reason is
// said here, not left to a bare system text.
DWORD deleteService(SC_HANDLE service) {
    if (DeleteService(service)) return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    if (error != ERROR_SERVICE_MARKED_FOR_DELETE) return reportedFailure(error);
    logMessage(markedForDeletionMessage);
    return error;
}

DWORD stopAndDeleteService(SC_HANDLE manager, const std::wstring& serviceName) {
    const UniqueServiceHandle service(OpenServiceW(manager, serviceName.c_str(), SERVICE_ALL_ACCESS));
    if (!service) return reportedFailure(GetLastError());

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
    logMessage(stopTimedOutMessage(serviceName));
    return stopTimedOutExitCode;
}

bool stillRegistered(SC_HANDLE manager, const std::wstring& serviceName) {
    const UniqueServiceHandle service(OpenServiceW(manager, serviceName.c_str(), SERVICE_QUERY_STATUS));
    return service || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
}

// DeleteService only marks a service that another program holds open; the
// service goes when the last handle to it closes. Asked once REMOVE's own
// handle is closed, and given a moment: a service that has just reported
// stopped may still hold its own until its process ends (Wine's does).
bool deletionPending(SC_HANDLE manager, const std::wstring& serviceName) {
    for (int check = 1; stillRegistered(manager, serviceName); ++check) {
        if (check == deletionCheckLimit) return true;
        Sleep(deletionCheckPauseMilliseconds);
    }
    return false;
}

// ERROR_SUCCESS, or why the event source is still there.
DWORD deleteEventSource(const std::wstring& serviceName) {
    if (eventSourceOwnership(serviceName) == Ownership::foreign) {
        logMessage(foreignEventSourceMessage);
        return foreignNameExitCode;
    }
    const LONG status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, eventSourceKeyPath(serviceName).c_str());
    if (status == ERROR_SUCCESS) return ERROR_SUCCESS;
    logMessage(eventSourceRemovalFailedMessage);
    return static_cast<DWORD>(status);
}

}  // namespace

unsigned long removeService(const std::wstring& serviceName) {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    DWORD failure = manager ? ERROR_SUCCESS : reportedFailure(GetLastError());
    // Another program's service is not stopped, and neither it nor the event
    // source of its name is deleted.
    if (manager && serviceOwnership(manager.get(), serviceName) == Ownership::foreign) {
        logMessage(foreignServiceMessage);
        return foreignNameExitCode;
    }
    if (manager) failure = stopAndDeleteService(manager.get(), serviceName);
    // Deleted all the same, as sc.exe delete says: the exit code stays 0.
    if (manager && failure == ERROR_SUCCESS && deletionPending(manager.get(), serviceName)) {
        logMessage(pendingDeletionMessage);
    }
    const DWORD sourceFailure = deleteEventSource(serviceName);
    return failure != ERROR_SUCCESS ? failure : sourceFailure;
}
