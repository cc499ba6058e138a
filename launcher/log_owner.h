#pragma once

#include <vector>

// Whom an existing log's owner, or an entry of its access list, names, as far
// as the launcher tells accounts apart.
enum class LogAccount { runningAccount, system, administrators, other };

// One entry of an existing log's access list: whether it allows anything (an
// allow entry of any kind) or only denies, and whom it names.
struct LogAccessEntry {
    bool allows;
    LogAccount account;
};

// What the launcher reads of an existing log's security. unrestricted: the
// file has no access list at all, which lets everyone do everything.
struct LogFileSecurity {
    LogAccount owner = LogAccount::other;
    bool unrestricted = false;
    std::vector<LogAccessEntry> entries;
};

// An installation running as SYSTEM on a Windows without GetTempPath2W logs
// into C:\Windows\Temp, where every user may create files (GetTempPath2W
// gives C:\Windows\SystemTemp instead, closed to every process that is not
// SYSTEM). Whoever created mirelt.log there first owns it: they could read
// every line (options carry product keys and passwords), put lines of their
// own between ours, or keep it locked. Only a file of the launcher's own
// account, of SYSTEM or of the Administrators is written to; a file without a
// known owner is not.
bool mayAppendToLogOwnedBy(LogAccount owner);

// Windows applies the access list given at creation only to a new file: a
// log made by an earlier release keeps the list of its folder, which in a
// shared temporary folder lets other users read it, and every new line with
// it. Such a log gets the log's own list before the next line is written:
// when it has none, or when an entry allows anything to an account other
// than the launcher's own, SYSTEM and the Administrators.
bool logNeedsOwnAccessList(const LogFileSecurity& security);
