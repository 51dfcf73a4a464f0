#include "kest/lang/process_constants.h"

#include <atomic>
#include <new>

#include "kest/diag/module_globals.h"
#include "kest/format/brace_format.h"
#include "kest/lang/language.h"
#include "kest/lang/resource_string.h"
#include "kest/platform/module.h"
#include "kest/resources/resource_ids.h"

namespace kest {
namespace {

constexpr uint32_t kUnknown = 0xFFFFFFFF;
std::atomic<uint32_t> g_english{kUnknown};
// The executable's version as the fixed block's two words (MS high, LS low); one word, so no
// reader sees half of it. Known once the major number (the top 16 bits) is not 0.
std::atomic<uint64_t> g_version{0};
thread_local bool t_deciding = false;

// Constants are never freed, but stay reachable from here so leak checkers see them in use.
struct ConstantNode {
  ConstantNode* next;
  char16_t text[1];
};
std::atomic<ConstantNode*> g_constants{nullptr};

const char16_t* Keep(const VelString& text) {
  const size_t length = static_cast<size_t>(text.GetLength());
  void* raw = ::operator new(sizeof(ConstantNode) + length * sizeof(char16_t));
  auto* node = static_cast<ConstantNode*>(raw);
  for (size_t i = 0; i < length; ++i) node->text[i] = text[static_cast<int>(i)];
  node->text[length] = 0;
  node->next = g_constants.load(std::memory_order_relaxed);
  while (!g_constants.compare_exchange_weak(node->next, node, std::memory_order_release)) {
  }
  return node->text;
}

uint64_t FileVersion() {
  uint64_t version = g_version.load(std::memory_order_acquire);
  if ((version >> 48) == 0) {
    version = platform::ExecutableFileVersion().value_or(0);
    if ((version >> 48) != 0) g_version.store(version, std::memory_order_release);
  }
  return version;
}

}  // namespace

void ResetEnglishBuildForTesting() noexcept { g_english.store(kUnknown); }
void ResetFileVersionForTesting() noexcept { g_version.store(0); }

}  // namespace kest

bool IsEnglishBuild() {
  if (!gbLanguageSet.load(std::memory_order_acquire)) return true;
  const uint32_t known = kest::g_english.load(std::memory_order_acquire);
  if (known != kest::kUnknown) return known == 1;
  // SetLanguage formats while it holds the translation lock (its checks reach here); looking the
  // marker up then would read the table it has just emptied and take the resource-string lock
  // under the translation lock. A thread already deciding would recurse through the formatter.
  if (kest::HoldsTranslationLock() || kest::t_deciding) return true;
  kest::t_deciding = true;
  bool english;
  try {
    english = String(IDS_BASE_LANGUAGE, kest::OwnModule()) == VelString(u"BaseLang=ENGLISH");
  } catch (...) {
    kest::t_deciding = false;
    throw;
  }
  kest::t_deciding = false;
  uint32_t expected = kest::kUnknown;
  if (kest::g_english.compare_exchange_strong(expected, english ? 1 : 0)) return english;
  return expected == 1;  // another thread decided first: its answer stands
}

void CheckAndAssignConstantValue(const char16_t* text, const char16_t*& constant, bool cleanup) {
  if (text != nullptr) {
    VelString copy(text);
    if (cleanup && copy != VelString(u" ") && copy != VelString(u"  ")) {
      copy.Trim(u" \r\n\t");
      copy.Replace(u"\\r", u"\r");
      copy.Replace(u"\\n", u"\n");
      copy.Replace(u"\\t", u"\t");
    }
    if (!copy.IsEmpty()) {
      if (copy.Find(u"$VER$") >= 0) {
        const uint64_t version = kest::FileVersion();
        VelString number;
        if ((version >> 48) != 0) {
          number.Format(u"{0}.{1}.{2}.{3}", static_cast<uint32_t>(version >> 48),
                        static_cast<uint32_t>((version >> 32) & 0xFFFF),
                        static_cast<uint32_t>((version >> 16) & 0xFFFF),
                        static_cast<uint32_t>(version & 0xFFFF));
        }
        copy.Replace(u"$VER$", number);
      }
      constant = kest::Keep(copy);
    }
  }
  if (constant == nullptr) constant = u"";
}

void CheckAndAssignConstantValue(const char16_t* text, const char16_t** constant, bool cleanup) {
  if (constant == nullptr) return;
  const char16_t* value = *constant;
  CheckAndAssignConstantValue(text, value, cleanup);
  *constant = value;
}
