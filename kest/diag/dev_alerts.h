// Developer machines and developer alerts.
//
// A machine is a developer machine when HKEY_LOCAL_MACHINE "software\Quillon" "zDebugBroadcast" is
// a non-zero number (on POSIX, in the registry file described in kest/platform/registry.h). On such
// a machine AlertDevelopers puts the message in front of every user session, at most once every
// 900 seconds per process; everywhere else it does nothing. Faulty format patterns and resource
// strings are reported this way.
#pragma once

#include <cstdint>

#include "kest/kest_export.h"
#include "kest/strings/vel_string.h"

// Whether this is a developer machine. The registry is read once per process (racing first calls
// read the same answer); a missing key or value means no. Any thread; takes no lock.
KEST_API bool IsDevMachine() noexcept;

// Overrides the answer of IsDevMachine from now on (the registry is then never read) and returns
// whether the machine counted as a developer machine before the call (false when nothing had
// asked yet). Any thread.
KEST_API bool GetAndSetIsDevMachine(bool is_dev_machine) noexcept;

// On a developer machine, and when the last alert of this process passed more than 900 seconds
// ago, sends every user session in an active, connected, shadowed, disconnected or idle state a
// message titled "DEV ALERT - Inform Developers - <host executable name>" whose body is `message`,
// a blank line and the local time. Never waits for anyone; nothing is queued: an alert inside the
// 900 seconds is dropped, and one that reaches no session still starts the window. A null message
// reads as empty. Any thread; takes no lock and allocates only while sending.
KEST_API void AlertDevelopers(const char16_t* message);

namespace kest {

// The local time of `seconds` (since 1970-01-01 UTC) in the runtime's fixed 25-character form
// "Wed Jan 02 02:03:55 1980\n" (day of month zero-padded), as alert bodies carry it; empty when the
// system cannot convert the time. Any thread.
KEST_API VelString LocalTimeText(int64_t seconds);

// Test seam: forgets the developer-machine answer and the last alert time.
KEST_API void ResetDevAlertsForTesting() noexcept;

// Test seam: while set, `hook` sees every message AlertDevelopers is given on a developer machine,
// before the 900-second throttle, so tests can count alerts exactly. Null removes it.
KEST_API void SetAlertHookForTesting(void (*hook)(const char16_t* message)) noexcept;

}  // namespace kest
