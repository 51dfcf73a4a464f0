// Languages: the product is written in English, and SetLanguage loads one language file that maps
// English texts to translations for the whole process. Host modules call GetTranslatedText for
// their own texts, offer GetLanguageList in a language chooser, and read GetLangTag and
// GetMachineTranslatedPercent to show what is loaded.
//
// Language files live in GetLangDirectory(), one per language, named "lang_<tag>.txt" (on POSIX a
// name that differs only in case is found too, as on Windows). The file grammar:
//   encoding   UTF-8 (a byte-order mark is dropped), or UTF-16 LE or BE with its byte-order mark.
//              Malformed sequences, unpaired surrogates, an odd final byte and NUL read as U+FFFD.
//   lines      split at LF; a CR before the LF belongs to the line and is cut from values below.
//              Empty lines do not exist (a run of LFs is one break). There is no comment syntax:
//              a line that starts with none of the prefixes below is ignored.
//   headers    "LANG_NAME:" display name, "LANG_TAG:" tag - case-sensitive, at the start of a
//              line, value trimmed of white space. Read only by GetLanguageList.
//   entries    "EN:" English text; "<tag>:" a person's translation; "<tag>*:" a machine's
//              translation. Prefixes ignore case and are tested in that order. Read only by
//              SetLanguage (for the tag it was given).
//   values     what follows the prefix loses trailing CRs, then trailing blanks; its first and
//              last characters (the quotes) are dropped unexamined (a value shorter than 2
//              characters is ""); "" stands for "; then \r \n \t \\ are CR, LF, tab and one
//              backslash, decoded left to right in one pass (so \\n is a backslash and 'n'), and
//              any other backslash stays.
//   pairing    the latest English value and the latest translation value are kept; when both are
//              non-empty (before cleaning) the pair is stored and both are forgotten, so either may
//              come first. A later pair for the same English text replaces the earlier one. A value
//              that is read again before it paired is overwritten.
//   share      GetMachineTranslatedPercent = (machine lines * 1000 / "EN:" lines, in integers)
//              / 10.0, counting lines whether or not they paired; 0 without "EN:" lines.
//
// Locks: SetLanguage, GetTranslatedText and DBGGetEnglishFromTranslatedText take the translation
// lock through CAcquireCS (accounted as eLockCritSec). The cached-string lock is taken inside it,
// never the other way round; the translation lock is never held together with the resource-string
// lock. GetLangTag, GetMachineTranslatedPercent, the generation and GetLanguageList take no lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>

#include "kest/kest_export.h"
#include "kest/strings/vel_string.h"

// Loads the language `tag` (kept in the caller's case) and starts a new generation, whatever the
// outcome. English - no translation, GetLangTag "EN", share 0 - for: null, "", "EN" in any case, a
// tag of more than 5 characters or with a character other than letters, digits, '-' and '_',
// "zh-tw" in any case when "PageMod.dll" is not beside the executable, and a language file that is
// missing, unreadable, empty or larger than 32 MiB (that last one also alerts developers), and
// memory running out during the load. Holds the translation lock for the whole load, so lookups
// meanwhile wait for the new language. On a developer machine the file is also checked (as `kestc
// lang check` does) and one summary alert is sent after the lock is released; the entries load
// anyway. Any thread.
KEST_API void SetLanguage(const char16_t* tag);

// The loaded tag, or "EN" when none is loaded. Any thread; no lock.
KEST_API VelString GetLangTag();

// The loaded file's share of machine-made translations, in percent with one decimal. Any thread;
// no lock.
KEST_API double GetMachineTranslatedPercent() noexcept;

// The translation of `text` in the loaded language, or a copy of `text` when no language is
// loaded, the file has no entry for it, or the interned texts were cleared at shutdown. Exact,
// case-sensitive match. A null text reads as "". Never interns `text`. Any thread; takes the
// translation lock unless no language is loaded.
KEST_API VelString GetTranslatedText(const char16_t* text);

// For developer tools: the English text whose translation is `text` (the least such English text
// in the logical order when several are), else a copy of `text`. Linear in the entries. Any
// thread; takes the translation lock unless no language is loaded.
KEST_API VelString DBGGetEnglishFromTranslatedText(const char16_t* text);

// Display name -> tag of every installed language, "English" -> "EN" first, then each readable
// "lang_*.txt" file of GetLangDirectory() whose header names both, when SetLanguage would load the
// header's tag: a tag of 1 to 5 letters, digits, '-' or '_', not "EN", whose own file
// "lang_<tag>.txt" is there ("zh-tw" only with "PageMod.dll" present). A later file with the same
// name wins. Files over 32 MiB are skipped. Ordered by VelString's operator<. Any thread; no
// lock, and the loaded language is not touched.
KEST_API std::map<VelString, VelString> GetLanguageList();

// The folder of the executable, then "Languages" and the path separator. When the executable's
// path is unknown, just "Languages" and the separator (relative to the working folder).
KEST_API VelString GetLangDirectory();

// Bumped by every SetLanguage; a cache of translated texts empties itself when it sees a new value.
KEST_API extern std::atomic<uint32_t> gLanguageGeneration;

// False until the first SetLanguage finishes, then true for good.
KEST_API extern std::atomic<bool> gbLanguageSet;

namespace kest {

// Whether a language other than English is loaded. Any thread; no lock.
KEST_API bool IsTranslating() noexcept;

// Whether the calling thread holds the translation lock (SetLanguage's own formatting asks).
KEST_API bool HoldsTranslationLock() noexcept;

// GetTranslatedText, also returning the generation the answer belongs to (read under the same
// lock), so a cache never files an answer from before a switch under the new generation.
KEST_API VelString GetTranslatedText(const char16_t* text, uint32_t* generation);

// The installed tag for the user's interface language (kest/platform/file.h UserUiLocale): the
// installed tag equal to it ignoring case, else the one equal to its language part ("de-AT" ->
// "de"), else "EN". Reads the language folder; no lock.
KEST_API VelString PreferredLanguageTag();

// Test seam: forget whether "PageMod.dll" is present (it is looked for once per process).
KEST_API void ResetLanguageFolderForTesting() noexcept;

}  // namespace kest
