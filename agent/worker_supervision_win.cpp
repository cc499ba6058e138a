#include "worker_supervision_win.h"

#include <process.h>

#include <vector>

#include "agent_settings.h"
#include "handle_holders_win.h"
#include "message_log_win.h"
#include "system_error_text_win.h"
#include "text_conversion.h"
#include "executable_paths.h"

SupervisionStateRecord SupervisionState;

namespace {

// STILL_ACTIVE: a worker that ends with it asks not to be started again.
constexpr DWORD exitCodeEndingSupervision = 259;
constexpr DWORD restartDelayMs = 1000;

class SupervisionLock {
public:
    SupervisionLock() { AcquireSRWLockExclusive(&SupervisionState.lock); }
    ~SupervisionLock() { ReleaseSRWLockExclusive(&SupervisionState.lock); }
    SupervisionLock(const SupervisionLock&) = delete;
    SupervisionLock& operator=(const SupervisionLock&) = delete;
};

bool heldLocked() {
    return SupervisionState.paused || SupervisionState.stopped;
}

void terminateWorkerLocked() {
    if (SupervisionState.workerJob != nullptr) TerminateJobObject(SupervisionState.workerJob, 0);
    if (SupervisionState.workerProcess != nullptr) TerminateProcess(SupervisionState.workerProcess, 0);
}

// A job that ends its processes when its last handle closes: whether the
// agent stops, or dies, nothing the worker started outlives it.
UniqueHandle createWorkerJob() {
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job.valid()) return UniqueHandle();
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        return UniqueHandle();
    }
    return job;
}

unsigned __stdcall drainWorkerOutput(void* readEnd) {
    // The worker's output is debug text that has no place in the event log;
    // it is read only so that a worker writing more than the pipe holds never
    // blocks. The read fails once every write end has closed.
    char buffer[4096];
    DWORD received = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &received, nullptr)) {
    }
    CloseHandle(readEnd);
    return 0;
}

// The drain thread owns the read end from here on and closes it when the
// pipe breaks; without a drain thread the read end is closed at once, so the
// worker's writes fail instead of blocking.
void startDraining(UniqueHandle readEnd) {
    const uintptr_t thread = _beginthreadex(nullptr, 64 * 1024, drainWorkerOutput, readEnd.get(),
                                            STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == 0) return;
    readEnd.release();
    CloseHandle(reinterpret_cast<HANDLE>(thread));
}

// Stores a created (still suspended) worker unless a pause or stop came while
// it was being created; then it is ended before it ever runs.
bool adoptWorker(UniqueHandle& process, UniqueHandle& job) {
    SupervisionLock guard;
    if (heldLocked()) {
        if (job.valid()) TerminateJobObject(job.get(), 0);
        TerminateProcess(process.get(), 0);
        return false;
    }
    SupervisionState.workerProcess = process.release();
    SupervisionState.workerJob = job.release();
    return true;
}

// Closing the job also ends whatever the worker left running.
void releaseWorker() {
    SupervisionLock guard;
    if (SupervisionState.workerJob != nullptr) CloseHandle(SupervisionState.workerJob);
    if (SupervisionState.workerProcess != nullptr) CloseHandle(SupervisionState.workerProcess);
    SupervisionState.workerJob = nullptr;
    SupervisionState.workerProcess = nullptr;
}

// Waits out a pause; logs the restart message unless supervision has been
// stopped. The message is logged under the lock so that no restart message
// can follow a stop or pause that the thread has not yet seen.
bool announceRestart() {
    SupervisionLock guard;
    while (SupervisionState.paused && !SupervisionState.stopped) {
        SleepConditionVariableSRW(&SupervisionState.holdChanged, &SupervisionState.lock, INFINITE, 0);
    }
    if (SupervisionState.stopped) return false;
    logMessage(std::string("Worker application restarted."));
    return true;
}

// The pause between the restart message and the next launch; false when a
// pause or stop cut it short.
bool restBeforeLaunch() {
    const ULONGLONG deadline = GetTickCount64() + restartDelayMs;
    SupervisionLock guard;
    while (!heldLocked()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return true;
        SleepConditionVariableSRW(&SupervisionState.holdChanged, &SupervisionState.lock,
                                  static_cast<DWORD>(deadline - now), 0);
    }
    return false;
}

}  // namespace

HANDLE launchWorker(const std::wstring& commandLine) {
    std::vector<wchar_t> writableCommandLine(commandLine.begin(), commandLine.end());
    writableCommandLine.push_back(L'\0');

    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, /* descriptor */ nullptr, /* inherit */ TRUE};
    UniqueHandle readEnd;
    UniqueHandle writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, /* default size */ 0)) return nullptr;
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    startup.hStdInput = nullptr;
    PROCESS_INFORMATION created = {};
    // Created suspended, so that it is in its job before it can start
    // anything of its own.
    if (!CreateProcessW(nullptr, writableCommandLine.data(), nullptr, nullptr, /* inherit handles */ TRUE,
                        CREATE_SUSPENDED, /* environment */ nullptr, /* directory */ nullptr, &startup,
                        &created)) {
        const DWORD error = GetLastError();
        writeEnd.reset();
        readEnd.reset();
        logMessage(systemErrorText(error));
        return nullptr;
    }
    UniqueHandle process(created.hProcess);
    UniqueHandle thread(created.hThread);
    writeEnd.reset();

    // Without a job (none to be had, or the system refuses a nested one) the
    // worker still runs; pause and stop then end the worker alone.
    UniqueHandle job = createWorkerJob();
    if (job.valid() && !AssignProcessToJobObject(job.get(), process.get())) job.reset();

    const HANDLE workerProcess = process.get();
    if (!adoptWorker(process, job)) return nullptr;
    startDraining(std::move(readEnd));
    ResumeThread(thread.get());
    return workerProcess;
}

void runWorkerOnce() {
    const std::wstring commandLine =
        utf8ToWide(workerCommandLine(AgentSettings.modulePath, AgentSettings.workerArguments));
    // Only this thread closes the handle, so it stays valid here without
    // the lock.
    const HANDLE worker = launchWorker(commandLine);
    SupervisionState.firstLaunchDone = true;
    if (worker == nullptr) return;

    WaitForSingleObject(worker, INFINITE);
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(worker, &exitCode)) exitCode = 0;
    SupervisionState.supervisionEnded = exitCode == exitCodeEndingSupervision;
    releaseWorker();
}

unsigned __stdcall superviseWorker(void*) {
    runWorkerOnce();
    while (!SupervisionState.supervisionEnded) {
        if (!announceRestart()) break;
        // A pause within the second starts over after the continue: restart
        // message first, then the full second.
        if (!restBeforeLaunch()) continue;
        runWorkerOnce();
    }
    return 0;
}

void holdSupervision(bool forGood) {
    {
        SupervisionLock guard;
        SupervisionState.paused = true;
        if (forGood) SupervisionState.stopped = true;
        terminateWorkerLocked();
    }
    WakeAllConditionVariable(&SupervisionState.holdChanged);
}

void releaseSupervision() {
    {
        SupervisionLock guard;
        SupervisionState.paused = false;
    }
    WakeAllConditionVariable(&SupervisionState.holdChanged);
}
