#pragma once

// Who owns an existing log file, as far as the launcher tells owners apart.
enum class LogFileOwner { runningAccount, system, administrators, other };

// An installation running as SYSTEM on a Windows without GetTempPath2W logs
// into C:\Windows\Temp, where every user may create files (GetTempPath2W
// gives C:\Windows\SystemTemp instead, closed to every process that is not
// SYSTEM). Whoever created mirelt.log there first owns it: they could read
// every line (options carry product keys and passwords), put lines of their
// own between ours, or keep it locked. Only a file of the launcher's own
// account, of SYSTEM or of the Administrators is written to; a file without a
// known owner is not.
bool mayAppendToLogOwnedBy(LogFileOwner owner);
