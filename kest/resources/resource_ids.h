// The IDs of the library's own string table (kest_common.rc). Host modules load these texts through
// ghCommonHInst; the numbers are part of the library's interface and never change meaning.
#pragma once

// "BaseLang=ENGLISH": a language file that translates it marks its language as not English.
#define IDS_BASE_LANGUAGE 1317
// "CAN'T CONNECT:": the text of CANT_CONNECT_KEYWORD.
#define IDS_CANT_CONNECT 1327
