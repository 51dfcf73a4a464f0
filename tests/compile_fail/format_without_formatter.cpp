// Must not compile: VelString::Format needs kest/format/brace_format.h, and says so.
#include "kest/strings/vel_string.h"

void FormatWithoutTheFormatter(VelString& s) { s.Format(u"{0}", 1); }
