#include "worker_supervision_win.h"

#include <sddl.h>

#include <cwchar>
#include <vector>

#include "agent_settings.h"
#include "executable_paths.h"
#include "handle_holders_win.h"
#include "message_log_win.h"
#include "own_account_win.h"
#include "restart_reporting.h"
#include "system_error_text_win.h"
#include "system_random_win.h"
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
    if (SupervisionState.workerProcess == nullptr) return;
    TerminateProcess(SupervisionState.workerProcess, 0);
    SupervisionState.workerEndedByHold = true;
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

// 128 random bits, so that no other user can guess the next name and
// create a pipe under it first, which would fail every launch.
DWORD randomPipeName(std::wstring& name) {
    unsigned char bits[16] = {};
    const DWORD error = systemRandomBytes(bits, sizeof bits);
    if (error != ERROR_SUCCESS) return error;
    name = L"\\\\.\\pipe\\keldra-worker-output-";
    for (const unsigned char bit : bits) {
        wchar_t digits[3] = {};
        std::swprintf(digits, 3, L"%02x", bit);
        name += digits;
    }
    return ERROR_SUCCESS;
}

// The pipe's default security would let every user read what the worker
// writes; this one lets in SYSTEM and the agent's own account alone.
DWORD ownAccountOnly(UniqueLocalMemory<void>& descriptor) {
    std::wstring account;
    const DWORD error = ownAccountSid(account);
    if (error != ERROR_SUCCESS) return error;
    const std::wstring text = L"D:(A;;GA;;;SY)(A;;GA;;;" + account + L")";
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &made, nullptr)) {
        return GetLastError();
    }
    descriptor.reset(made);
    return ERROR_SUCCESS;
}

// A name already taken, against all odds, is given up for a fresh one.
constexpr int pipeNameAttempts = 4;

// The worker's output pipe. Its standard output and error are the write end;
// the agent reads the other end on the supervision thread itself, while it
// waits for the worker, so no thread of its own is needed for that (under
// Wine each thread costs about a megabyte). Anonymous pipes cannot be read
// that way, hence a named pipe: made by this process alone (first instance),
// open to one local writer. ERROR_SUCCESS, or why there is no pipe.
DWORD createOutputPipe(UniqueHandle& readEnd, UniqueHandle& writeEnd) {
    UniqueLocalMemory<void> descriptor;
    DWORD error = ownAccountOnly(descriptor);
    if (error != ERROR_SUCCESS) return error;
    SECURITY_ATTRIBUTES restricted = {sizeof restricted, descriptor.get(), /* inherit */ FALSE};
    std::wstring name;
    for (int attempt = 0; attempt < pipeNameAttempts && !readEnd; ++attempt) {
        error = randomPipeName(name);
        if (error != ERROR_SUCCESS) return error;
        readEnd.reset(CreateNamedPipeW(name.c_str(),
                                       PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                       PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, /* instances */ 1,
                                       /* default buffer sizes */ 0, 0, /* default time-out */ 0, &restricted));
        if (!readEnd) error = GetLastError();
    }
    if (!readEnd) return error;
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, /* descriptor */ nullptr, /* inherit */ TRUE};
    writeEnd.reset(
        CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (writeEnd) return ERROR_SUCCESS;
    error = GetLastError();
    readEnd.reset();
    return error;
}

// Reads and discards the worker's output until the worker ends, so that a
// worker writing more than the pipe holds never blocks: the output is debug
// text that has no place in the event log.
void awaitWorker(HANDLE worker, HANDLE readEnd) {
    const UniqueHandle readDone(CreateEventW(nullptr, /* manual reset */ TRUE, FALSE, nullptr));
    OVERLAPPED read = {};
    read.hEvent = readDone.get();
    char buffer[4096];
    const auto startRead = [&] {
        return ReadFile(readEnd, buffer, sizeof buffer, nullptr, &read) || GetLastError() == ERROR_IO_PENDING;
    };
    // Once the pipe breaks or fails, only the worker is waited for.
    bool reading = readDone && startRead();
    for (;;) {
        const HANDLE waits[] = {worker, readDone.get()};
        if (WaitForMultipleObjects(reading ? 2 : 1, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) break;
        DWORD received = 0;
        reading = GetOverlappedResult(readEnd, &read, &received, FALSE) && startRead();
    }
    if (reading) {
        // The buffer and the OVERLAPPED must outlive the read.
        DWORD received = 0;
        CancelIo(readEnd);
        GetOverlappedResult(readEnd, &read, &received, TRUE);
    }
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

// Closing the job also ends whatever the worker left running. True when a
// pause or a stop ended the worker.
bool releaseWorker() {
    SupervisionLock guard;
    if (SupervisionState.workerJob != nullptr) CloseHandle(SupervisionState.workerJob);
    if (SupervisionState.workerProcess != nullptr) CloseHandle(SupervisionState.workerProcess);
    SupervisionState.workerJob = nullptr;
    SupervisionState.workerProcess = nullptr;
    const bool endedByHold = SupervisionState.workerEndedByHold;
    SupervisionState.workerEndedByHold = false;
    return endedByHold;
}

// Tells the restart after the attempt that has just ended: in full (the
// launch's error at once, the restart message once a pause is over),
// counted, or summed up once in a while. Both are told under the lock, so
// that nothing is told after a stop or pause that the thread has not yet
// seen; false once supervision has been stopped.
bool tellRestart(RestartReporting& reporting, const WorkerAttempt& ended) {
    const RestartDecision decision = decideRestartTelling(reporting, GetTickCount64(), ended);
    const bool launchFailed = !ended.launched && !ended.held;
    const bool told = decision.telling != RestartTelling::quietly;
    const std::wstring launchError = launchFailed && told ? systemErrorText(ended.launchError) : std::wstring();
    SupervisionLock guard;
    if (SupervisionState.stopped) return false;
    if (decision.telling == RestartTelling::inFull && launchFailed) logMessage(launchError);
    while (SupervisionState.paused && !SupervisionState.stopped) {
        SleepConditionVariableSRW(&SupervisionState.holdChanged, &SupervisionState.lock, INFINITE, 0);
    }
    if (SupervisionState.stopped) return false;
    if (decision.telling == RestartTelling::inFull) logMessage(std::string("Worker application restarted."));
    if (decision.telling == RestartTelling::summary) {
        logWarning(restartSummaryMessage(decision.restarts, ended, launchError), restartSummaryEventId);
    }
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

UniqueHandle launchWorker(const std::wstring& commandLine, WorkerAttempt& attempt) {
    std::vector<wchar_t> writableCommandLine(commandLine.begin(), commandLine.end());
    writableCommandLine.push_back(L'\0');

    UniqueHandle readEnd;
    UniqueHandle writeEnd;
    attempt.launchError = createOutputPipe(readEnd, writeEnd);
    if (attempt.launchError != ERROR_SUCCESS) return UniqueHandle();

    // The write end is the one handle the worker inherits, whatever else of
    // the agent's happens to be inheritable.
    HANDLE inherited = writeEnd.get();
    WorkerAttributes attributes;
    if (!attributes.set(PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited)) {
        attempt.launchError = GetLastError();
        return UniqueHandle();
    }
    // Given its job at creation, the worker is in it before its first
    // instruction, and no moment exists in which the agent could die and
    // leave it outside. Where the system does not take the job at creation,
    // the worker is created suspended and put in its job before it runs.
    UniqueHandle job = createWorkerJob();
    HANDLE jobHandle = job.get();
    const bool bornInJob = job && attributes.set(jobListAttribute, &jobHandle);

    // Created and stored under the lock, after a last look for a pause or a
    // stop: once the control handler has marked one, no worker is created,
    // and a worker created before is stored by the time the handler looks
    // for it to end it.
    SupervisionLock guard;
    if (heldLocked()) {
        attempt.held = true;
        return UniqueHandle();
    }

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
        attempt.launchError = GetLastError();
        return UniqueHandle();
    }
    UniqueHandle process(created.hProcess);
    UniqueHandle thread(created.hThread);
    writeEnd.reset();

    // Without a job (none to be had, or a system without nested jobs that
    // runs the agent in one) the worker still runs; pause and stop then end
    // the worker alone, and what it starts may outlive it.
    if (!bornInJob && job && !AssignProcessToJobObject(job.get(), process.get())) job.reset();
    if (!job) reportWorkerWithoutJob();

    SupervisionState.workerProcess = process.release();
    SupervisionState.workerJob = job.release();
    if (!bornInJob) ResumeThread(thread.get());
    attempt.launched = true;
    return readEnd;
}

WorkerAttempt runWorkerOnce(void (*afterLaunch)()) {
    const std::wstring commandLine =
        utf8ToWide(workerCommandLine(AgentSettings.modulePath, AgentSettings.workerArguments));
    WorkerAttempt attempt;
    const UniqueHandle output = launchWorker(commandLine, attempt);
    const ULONGLONG launched = GetTickCount64();
    if (afterLaunch != nullptr) afterLaunch();
    if (!output) return attempt;

    // Only this thread stores or closes the handle, so it stays valid here
    // without the lock.
    const HANDLE worker = SupervisionState.workerProcess;
    awaitWorker(worker, output.get());
    attempt.ranMs = GetTickCount64() - launched;
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(worker, &exitCode)) exitCode = 0;
    attempt.exitCode = exitCode;
    SupervisionState.supervisionEnded = exitCode == exitCodeEndingSupervision;
    attempt.held = releaseWorker();
    return attempt;
}

void superviseWorker(void (*afterFirstLaunch)()) {
    RestartReporting reporting;
    WorkerAttempt ended = runWorkerOnce(afterFirstLaunch);
    while (!SupervisionState.supervisionEnded) {
        if (!tellRestart(reporting, ended)) break;
        // A pause within the second starts over after the continue: restart
        // message first, then the full second.
        if (!restBeforeLaunch()) {
            ended = WorkerAttempt{};
            ended.held = true;
            continue;
        }
        ended = runWorkerOnce(nullptr);
    }
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
