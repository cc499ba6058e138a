#pragma once
#include <windows.h>

#include <type_traits>

// The service as the Service Control Manager sees it. statusRecord is the
// one record that every report sends, written under statusLock: serviceMain
// reports the start, the control handler everything after it, and a stop
// may come while the start is still pending.
struct ServiceRuntimeRecord {
    SRWLOCK statusLock = SRWLOCK_INIT;
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    SERVICE_STATUS statusRecord = {};
    HANDLE pauseSemaphore = nullptr;
    HANDLE supervisionEnded = nullptr;  // event: serviceMain's supervision has returned
};

extern ServiceRuntimeRecord ServiceRuntime;
static_assert(std::is_trivially_destructible<ServiceRuntimeRecord>::value,
              "the service's state must outlive the supervision, which the process can end under");

// The supervision thread's name, where the system keeps thread names.
constexpr const wchar_t* supervisionThreadName = L"keldra supervision";

void WINAPI serviceMain(DWORD argumentCount, LPWSTR* arguments);
void WINAPI serviceControlHandler(DWORD control);

bool pauseSupervision();
bool continueSupervision();
bool stopSupervision();
