#include "log_owner.h"

bool mayAppendToLogOwnedBy(LogFileOwner owner) {
    return owner == LogFileOwner::runningAccount || owner == LogFileOwner::system ||
           owner == LogFileOwner::administrators;
}
