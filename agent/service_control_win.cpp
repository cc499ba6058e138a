#include "service_control_win.h"

#include "agent_settings.h"
#include "service_status_table.h"
#include "worker_supervision_win.h"

ServiceRuntimeRecord ServiceRuntime;

namespace {

// Pause and stop take the token and continue gives it back, so a second
// pause, or a stop while paused, waits this long for it and then goes on.
constexpr DWORD pauseTokenWaitMs = 9970;
// Long enough for a launch under way to finish; the supervision thread's
// other waits all end as soon as supervision is stopped.
constexpr DWORD supervisionEndWaitMs = 5000;

// Named so that a debugger, a dump or a test can tell the thread from the
// system's own. Thread names came with Windows 10; older systems go without.
// Windows 10 1607 and Server 2016 export the call from KernelBase alone.
void nameThread(HANDLE thread, const wchar_t* name) {
    using SetThreadDescriptionFunction = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    for (const wchar_t* module : {L"kernel32.dll", L"kernelbase.dll"}) {
        const HMODULE loaded = GetModuleHandleW(module);
        const auto setDescription = reinterpret_cast<SetThreadDescriptionFunction>(reinterpret_cast<void*>(
            loaded != nullptr ? GetProcAddress(loaded, "SetThreadDescription") : nullptr));
        if (setDescription == nullptr) continue;
        setDescription(thread, name);
        return;
    }
}

// Each report is the next state computed from the last one and made only
// when it may follow it, both under the lock: a running report that comes
// after a stop was reported, or a start-pending one after a stop, is dropped.
void reportStatus(ServiceStatusValues (*next)(ServiceStatusValues current)) {
    AcquireSRWLockExclusive(&ServiceRuntime.statusLock);
    SERVICE_STATUS& record = ServiceRuntime.statusRecord;
    const ServiceStatusValues values = next({record.dwCurrentState, record.dwCheckPoint, record.dwWaitHint});
    if (mayFollow(record.dwCurrentState, values.currentState)) {
        record.dwServiceType = ownProcessServiceType;
        record.dwControlsAccepted = acceptedServiceControls;
        record.dwWin32ExitCode = NO_ERROR;
        record.dwServiceSpecificExitCode = 0;
        record.dwCurrentState = values.currentState;
        record.dwCheckPoint = values.checkPoint;
        record.dwWaitHint = values.waitHint;
        SetServiceStatus(ServiceRuntime.statusHandle, &record);
    }
    ReleaseSRWLockExclusive(&ServiceRuntime.statusLock);
}

ServiceStatusValues firstStatus(ServiceStatusValues) {
    return startPendingStatus();
}

void reportRunning() {
    reportStatus(startedStatus);
}

// Supervision runs on the thread that the dispatcher gives serviceMain: no
// thread is started for it and none ends once the service runs. Under Wine
// every thread costs about a megabyte, and an ended thread's stack is kept
// until another thread ends.
void prepareSupervision() {
    ServiceRuntime.pauseSemaphore = CreateSemaphoreW(nullptr, /* initial */ 1, /* maximum */ 1, nullptr);
    ServiceRuntime.supervisionEnded = CreateEventW(nullptr, /* manual reset */ TRUE, FALSE, nullptr);
    nameThread(GetCurrentThread(), supervisionThreadName);
}

}  // namespace

bool pauseSupervision() {
    WaitForSingleObject(ServiceRuntime.pauseSemaphore, pauseTokenWaitMs);
    holdSupervision(/* for good */ false);
    return true;
}

bool continueSupervision() {
    ReleaseSemaphore(ServiceRuntime.pauseSemaphore, 1, nullptr);
    releaseSupervision();
    return true;
}

bool stopSupervision() {
    WaitForSingleObject(ServiceRuntime.pauseSemaphore, pauseTokenWaitMs);
    holdSupervision(/* for good */ true);
    // A worker that was being created when the stop came is ended by the
    // supervision itself once it sees the stop; the wait gives it the time,
    // and supervision still busy after it is cut short when the process
    // ends. The end of the supervision is waited for, not the end of its
    // thread: under Wine the first thread to end in a process loads a
    // library first, and a control handler has only ten seconds there.
    if (ServiceRuntime.supervisionEnded != nullptr) {
        WaitForSingleObject(ServiceRuntime.supervisionEnded, supervisionEndWaitMs);
    }
    return true;
}

void WINAPI serviceMain(DWORD argumentCount, LPWSTR* arguments) {
    // The manager passes the name it started the service under.
    if (argumentCount > 0 && arguments != nullptr && arguments[0] != nullptr) {
        AgentSettings.serviceName = arguments[0];
    }
    // The handler can be called as soon as it is registered, before the
    // first report: all it uses must exist by then.
    prepareSupervision();
    ServiceRuntime.statusHandle =
        RegisterServiceCtrlHandlerW(AgentSettings.serviceName.c_str(), serviceControlHandler);
    if (ServiceRuntime.statusHandle == nullptr) return;
    reportStatus(firstStatus);
    // Reported running as soon as the first launch has been tried; the
    // supervision then goes on here until the service is stopped.
    superviseWorker(reportRunning);
    if (ServiceRuntime.supervisionEnded != nullptr) SetEvent(ServiceRuntime.supervisionEnded);
}

void WINAPI serviceControlHandler(DWORD control) {
    switch (actionForControl(control)) {
    case ServiceControlAction::stop:
        // Held before the stop is reported pending: a start still under way
        // launches no worker from here on, and its running report, which
        // would follow this one, is dropped.
        holdSupervision(/* for good */ true);
        reportStatus(stopPendingStatus);
        stopSupervision();
        reportStatus(stoppedStatus);
        break;
    case ServiceControlAction::pause:
        pauseSupervision();
        reportStatus(pausedStatus);
        break;
    case ServiceControlAction::resume:
        continueSupervision();
        reportStatus(continuedStatus);
        break;
    case ServiceControlAction::none:
        break;
    }
}
