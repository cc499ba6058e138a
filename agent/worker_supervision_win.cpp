#include "worker_supervision_win.h"

#include <process.h>

#include <vector>

#include "agent_settings.h"
#include "executable_paths.h"
#include "handle_holders_win.h"
#include "message_log_win.h"
#include "system_error_text_win.h"
#include "text_conversion.h"

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
    if (!job) return UniqueHandle();
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

// Stores a created worker unless a pause or stop came while it was being
// created; then it is ended before it can do anything that lasts.
bool adoptWorker(UniqueHandle& process, UniqueHandle& job) {
    SupervisionLock guard;
    if (heldLocked()) {
        if (job) TerminateJobObject(job.get(), 0);
        TerminateProcess(process.get(), 0);
        return false;
    }
    SupervisionState.workerProcess = process.release();
    SupervisionState.workerJob = job.release();
    return true;
}

// Said once per process: it stays true for every later worker.
void reportWorkerWithoutJob() {
    if (SupervisionState.withoutJobReported) return;
    SupervisionState.withoutJobReported = true;
    logMessage(std::wstring(workerWithoutJobMessage));
}

// PROC_THREAD_ATTRIBUTE_JOB_LIST, which the headers define only for Windows
// 10 and later; older systems refuse it when it is set.
constexpr DWORD_PTR jobListAttribute = 13 | PROC_THREAD_ATTRIBUTE_INPUT;

// The attribute list that a worker is created with. The handles it names
// must outlive the CreateProcessW call.
class WorkerAttributes {
public:
    WorkerAttributes() {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, /* attributes */ 2, 0, &size);
        storage_.resize(size);
        const auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (!storage_.empty() && InitializeProcThreadAttributeList(list, 2, 0, &size)) list_ = list;
    }
    ~WorkerAttributes() {
        if (list_ != nullptr) DeleteProcThreadAttributeList(list_);
    }
    WorkerAttributes(const WorkerAttributes&) = delete;
    WorkerAttributes& operator=(const WorkerAttributes&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }
    bool set(DWORD_PTR attribute, HANDLE* handle) {
        return list_ != nullptr &&
               UpdateProcThreadAttribute(list_, 0, attribute, handle, sizeof *handle, nullptr, nullptr);
    }

private:
    std::vector<unsigned char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

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

    // The write end is the one handle the worker inherits, whatever else of
    // the agent's happens to be inheritable.
    HANDLE inherited = writeEnd.get();
    WorkerAttributes attributes;
    if (!attributes.set(PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited)) {
        logMessage(systemErrorText(GetLastError()));
        return nullptr;
    }
    // Given its job at creation, the worker is in it before its first
    // instruction, and no moment exists in which the agent could die and
    // leave it outside. Where the system does not take the job at creation,
    // the worker is created suspended and put in its job before it runs.
    UniqueHandle job = createWorkerJob();
    HANDLE jobHandle = job.get();
    const bool bornInJob = job && attributes.set(jobListAttribute, &jobHandle);

    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdOutput = writeEnd.get();
    startup.StartupInfo.hStdError = writeEnd.get();
    startup.StartupInfo.hStdInput = nullptr;
    startup.lpAttributeList = attributes.get();
    const DWORD flags = EXTENDED_STARTUPINFO_PRESENT | DETACHED_PROCESS | (bornInJob ? 0 : CREATE_SUSPENDED);
    PROCESS_INFORMATION created = {};
    if (!CreateProcessW(nullptr, writableCommandLine.data(), nullptr, nullptr, /* inherit handles */ TRUE, flags,
                        /* environment */ nullptr, /* directory */ nullptr, &startup.StartupInfo, &created)) {
        const DWORD error = GetLastError();
        writeEnd.reset();
        readEnd.reset();
        logMessage(systemErrorText(error));
        return nullptr;
    }
    UniqueHandle process(created.hProcess);
    UniqueHandle thread(created.hThread);
    writeEnd.reset();

    // Without a job (none to be had, or a system without nested jobs that
    // runs the agent in one) the worker still runs; pause and stop then end
    // the worker alone, and what it starts may outlive it.
    if (!bornInJob && job && !AssignProcessToJobObject(job.get(), process.get())) job.reset();
    if (!job) reportWorkerWithoutJob();

    const HANDLE workerProcess = process.get();
    if (!adoptWorker(process, job)) return nullptr;
    startDraining(std::move(readEnd));
    if (!bornInJob) ResumeThread(thread.get());
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
