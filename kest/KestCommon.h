// The whole public interface of KestCommon: include this from a host module.
#pragma once

#include "kest/context/central_context.h"
#include "kest/context/lock_cs.h"
#include "kest/diag/dev_alerts.h"
#include "kest/format/brace_format.h"
#include "kest/format/placeholder_value.h"
#include "kest/kest_export.h"
#include "kest/platform/tls.h"
#include "kest/strings/string_manager.h"
#include "kest/strings/utf8.h"
#include "kest/strings/vel_string.h"
#include "kest/util/app_paths.h"
#include "kest/util/crc.h"
#include "kest/util/timer.h"
