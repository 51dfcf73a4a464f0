# The public headers: installed with the package, included by kest/KestCommon.h, and each compiled
# on its own in a translation unit of its own (the header check under tests/). Every other header
# under kest/ is internal to the library and its tests.
set(KEST_PUBLIC_HEADERS
  kest/KestCommon.h
  kest/kest_export.h
  kest/base/thread_annotations.h
  kest/base/utf.h
  kest/base/wildcard.h
  kest/platform/clock.h
  kest/platform/heap.h
  kest/platform/lock.h
  kest/platform/paths.h
  kest/platform/registry.h
  kest/platform/text.h
  kest/platform/thread.h
  kest/platform/tls.h
  kest/util/crc.h
  kest/util/timer.h
  kest/strings/string_manager.h
  kest/strings/utf8.h
  kest/strings/vel_string.h
  kest/diag/dev_alerts.h
  kest/format/placeholder_value.h
  kest/format/brace_format.h
  kest/context/central_context.h
  kest/context/lock_cs.h
  kest/intern/cached_string.h
  kest/app/app_paths.h
  kest/lang/language.h
  kest/lang/resource_string.h
  kest/lang/process_constants.h
  kest/diag/module_globals.h
  kest/platform/module.h
  kest/platform/profile.h
  kest/resources/resource_ids.h
  kest/module/kest_common_app.h
)
