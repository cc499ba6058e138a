#pragma once
#include <windows.h>

#include <string>
#include <type_traits>

#include "handle_holders_win.h"
#include "restart_reporting.h"

// Shared by the supervision thread and the service control handler.
//
// Pause and stop are cooperative: the handler never suspends the supervision
// thread (a thread stopped at an arbitrary point may hold the heap's or the
// event log's lock for good); it sets a hold under `lock`, ends the running
// worker's job, and the thread sees the hold at its next step. The worker's
// handles are read, stored, used and cleared only under `lock`, so the
// handler never meets a closed handle or a worker that is half launched.
struct SupervisionStateRecord {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE holdChanged = CONDITION_VARIABLE_INIT;
    HANDLE workerProcess = nullptr;  // null whenever no worker runs
    HANDLE workerJob = nullptr;      // the job holding that worker and all it starts
    bool paused = false;
    bool stopped = false;
    bool workerEndedByHold = false;  // a pause or stop ended the running worker
    // Written and read by the supervision thread alone.
    bool supervisionEnded = false;
    bool withoutJobReported = false;
};

extern SupervisionStateRecord SupervisionState;
// The process can end while the supervision still runs; nothing of this
// record may be torn down at exit under it.
static_assert(std::is_trivially_destructible<SupervisionStateRecord>::value,
              "the supervision state must outlive the supervision");

// Logged once when a worker has to run without a job of its own.
constexpr const wchar_t* workerWithoutJobMessage =
    L"failed to put the worker in a job object: what it starts may outlive it";

// The supervision loop: launches the worker, waits for its end and launches
// it again a second after the restart message, until a stop, or until a
// worker ends with exit code 259. A run of failures is told in full only for
// its first restarts (restart_reporting.h). afterFirstLaunch is called once
// the first launch has been tried, whatever its outcome.
void superviseWorker(void (*afterFirstLaunch)());
// One launch of the worker and the wait for its end; afterLaunch, when
// given, is called as soon as the launch has been tried.
WorkerAttempt runWorkerOnce(void (*afterLaunch)());
// Starts the worker from its command line and stores its process handle in
// SupervisionState.workerProcess; returns the agent's end of the worker's
// output pipe, or an empty holder when no worker runs, with why in the
// attempt (the error, or a pause or stop marked before the start).
UniqueHandle launchWorker(const std::wstring& commandLine, WorkerAttempt& attempt);

// For the control handler. holdSupervision ends the running worker (and
// everything in its job) with exit code 0 and lets no worker start until
// releaseSupervision; with forGood set, supervision never resumes and the
// thread returns. One release undoes any number of holds.
void holdSupervision(bool forGood);
void releaseSupervision();
