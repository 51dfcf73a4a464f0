// The exported globals of the library's module that no other header owns: handles, switches a
// host sets, and the one text constant start-up fixes. Plain data, read and written directly;
// the library reads the host's switches with relaxed atomic reads.
#pragma once

#include <cstdint>

#include "kest/kest_export.h"
#include "kest/platform/module.h"

// This library's own module: the default module of resource strings and the one that holds the
// library's resources. Set once at load, before any host code runs; null until then.
KEST_API extern HINSTANCE ghCommonHInst;
// A handle the host publishes for its other modules; the library never touches it.
KEST_API extern HINSTANCE ghKestHInst;
// True from the instant the library is mapped (constant-initialised); nothing changes it.
KEST_API extern bool gbLoadedKestCommon;
// Set by a host that runs as a system service, or while it runs inside an embedded browser's
// message loop: assertion reports are skipped while either is true.
KEST_API extern bool gbRunningAsService;
KEST_API extern bool gbInChromiumMsgPump;
// The host's message-pump thread, published for other host modules; the library never reads it.
KEST_API extern uint32_t gMessagePumpThreadID;
// "CAN'T CONNECT:", the English text of the library's string 1327, fixed at load for the life of
// the process; null until then. The pointer is written once by start-up.
KEST_API extern const char16_t* CANT_CONNECT_KEYWORD;
// Assertion switch, read by assertion reporting.
KEST_API extern uint32_t gShowAsserts;
// Set by a host when it begins to shut down: assertion boxes are suppressed while it is true. The
// library only reads it (BaseShuttingDown leaves it alone).
KEST_API extern bool gbShuttingDown;
// The product's new background colour, red in the low byte: 0xFAFAFA.
KEST_API extern uint32_t gBackColorNew;
