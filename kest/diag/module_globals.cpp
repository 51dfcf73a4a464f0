#include "kest/diag/module_globals.h"

// ghCommonHInst and CANT_CONNECT_KEYWORD live beside start-up (kest/module).

HINSTANCE ghKestHInst = nullptr;
constinit bool gbLoadedKestCommon = true;
bool gbRunningAsService = false;
bool gbInChromiumMsgPump = false;
uint32_t gMessagePumpThreadID = 0;
uint32_t gShowAsserts = 0;
bool gbShuttingDown = false;
uint32_t gBackColorNew = 0xFAFAFA;
