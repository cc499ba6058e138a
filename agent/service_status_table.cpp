#include "service_status_table.h"

ServiceControlAction actionForControl(std::uint32_t controlCode) {
    switch (controlCode) {
    case 1: return ServiceControlAction::stop;
    case 2: return ServiceControlAction::pause;
    case 3: return ServiceControlAction::resume;
    default: return ServiceControlAction::none;
    }
}

ServiceStatusValues startPendingStatus() {
    return {ServiceStates::startPending, 0, 15000};
}

ServiceStatusValues startedStatus(ServiceStatusValues current) {
    return {ServiceStates::running, current.checkPoint, 1000};
}

ServiceStatusValues stopPendingStatus(ServiceStatusValues current) {
    return {ServiceStates::stopPending, current.checkPoint + 1, current.waitHint};
}

ServiceStatusValues stoppedStatus(ServiceStatusValues current) {
    return {ServiceStates::stopped, 0, current.waitHint};
}

ServiceStatusValues pausedStatus(ServiceStatusValues current) {
    return {ServiceStates::paused, current.checkPoint, current.waitHint};
}

ServiceStatusValues continuedStatus(ServiceStatusValues current) {
    return {ServiceStates::running, current.checkPoint, current.waitHint};
}

bool mayFollow(std::uint32_t lastReported, std::uint32_t next) {
    if (lastReported == ServiceStates::stopped) return false;
    if (lastReported == ServiceStates::stopPending) {
        return next == ServiceStates::stopPending || next == ServiceStates::stopped;
    }
    if (next == ServiceStates::startPending) return lastReported == 0 || lastReported == ServiceStates::startPending;
    return true;
}
