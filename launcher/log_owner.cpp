#include "log_owner.h"

#include <algorithm>

bool mayAppendToLogOwnedBy(LogAccount owner) {
    return owner == LogAccount::runningAccount || owner == LogAccount::system ||
           owner == LogAccount::administrators;
}

bool logNeedsOwnAccessList(const LogFileSecurity& security) {
    return security.unrestricted ||
           std::any_of(security.entries.begin(), security.entries.end(), [](const LogAccessEntry& entry) {
               return entry.allows && entry.account == LogAccount::other;
           });
}
