#pragma once
#include <cstdint>

// What a service run reports to the Service Control Manager, as plain
// values. The type (own process), the accepted controls and both exit codes
// never change; the state, check point and wait hint follow these functions.
struct ServiceStatusValues {
    std::uint32_t currentState;
    std::uint32_t checkPoint;
    std::uint32_t waitHint;
};

// The system's SERVICE_* values.
namespace ServiceStates {
constexpr std::uint32_t stopped = 1;
constexpr std::uint32_t startPending = 2;
constexpr std::uint32_t stopPending = 3;
constexpr std::uint32_t running = 4;
constexpr std::uint32_t paused = 7;
}  // namespace ServiceStates

constexpr std::uint32_t ownProcessServiceType = 0x10;
// Stop (1) and pause/continue (2), also while a start or stop is pending;
// shutdown is not accepted.
constexpr std::uint32_t acceptedServiceControls = 3;

enum class ServiceControlAction { none, stop, pause, resume };

// Stop 1, pause 2, continue 3; interrogate, shutdown and every other code
// are neither acted on nor answered with a report.
ServiceControlAction actionForControl(std::uint32_t controlCode);

// Start pending, check point 0, wait hint 15000.
ServiceStatusValues startPendingStatus();
// Running, once the first launch has been tried: wait hint 1000, the check
// point as it was.
ServiceStatusValues startedStatus(ServiceStatusValues current);
// Stop pending with the check point raised by one.
ServiceStatusValues stopPendingStatus(ServiceStatusValues current);
// Stopped with check point 0.
ServiceStatusValues stoppedStatus(ServiceStatusValues current);
ServiceStatusValues pausedStatus(ServiceStatusValues current);
ServiceStatusValues continuedStatus(ServiceStatusValues current);

// Whether a report of the state next may follow the last one reported (0
// before the first). The start and the control handler report from two
// threads, and a stop can come while the start is pending: nothing but
// stopped follows stop pending, nothing follows stopped, and start pending
// is only ever the first report.
bool mayFollow(std::uint32_t lastReported, std::uint32_t next);
