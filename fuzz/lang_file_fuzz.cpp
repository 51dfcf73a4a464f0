// Fuzz target for language files: any bytes go through the decoder, the entry parser, the header
// scan and the checker without a crash or a read past the input; faults are recorded on lines that
// exist; and every pair the parser stores, written back as a quoted line, parses to the same texts.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kest/lang/lang_check.h"
#include "kest/lang/lang_file.h"

namespace {

void Require(bool ok) {
  if (!ok) std::abort();
}

// The inverse of the value cleaning: escapes first, then doubled quotes, then the enclosing ones.
std::u16string Quote(std::u16string_view text) {
  std::u16string escaped;
  for (char16_t c : text) {
    if (c == u'\\')
      escaped += u"\\\\";
    else if (c == u'\r')
      escaped += u"\\r";
    else if (c == u'\n')
      escaped += u"\\n";
    else if (c == u'\t')
      escaped += u"\\t";
    else
      escaped += c;
  }
  std::u16string quoted = u"\"";
  for (char16_t c : escaped) {
    quoted += c;
    if (c == u'"') quoted += u'"';
  }
  return quoted + u"\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const kest::DecodedLanguageFile file = kest::DecodeLanguageFile(bytes);
  int lines = 1;
  for (char16_t c : file.text) {
    Require(c != 0);
    if (c == u'\n') ++lines;
  }
  int previous = 1;
  for (int line : file.bad_lines) {
    Require(line >= previous && line <= lines);
    previous = line;
  }

  // The tag: "de", or the first unit of the input as a one-letter tag, to reach odd prefixes.
  const std::u16string tag =
      file.text.empty() || file.text[0] == u'\n' ? u"de" : file.text.substr(0, 1);
  kest::ParsedLanguageFile parsed;
  kest::ParseLanguageEntries(file.text, tag, parsed);
  Require(parsed.machine_lines <= static_cast<uint64_t>(lines));
  const double percent = kest::MachineTranslatedPercent(parsed.machine_lines, parsed.english_lines);
  Require(percent >= 0.0);

  for (const auto& pair : parsed.pairs) {
    const std::u16string again =
        u"EN:" + Quote(pair.english) + u"\n" + tag + u":" + Quote(pair.translation);
    kest::ParsedLanguageFile round;
    kest::ParseLanguageEntries(again, tag, round);
    Require(round.pairs.size() == 1);
    Require(round.pairs[0].english == pair.english);
    Require(round.pairs[0].translation == pair.translation);
  }

  const kest::LanguageHeader header = kest::ScanLanguageHeader(file.text);
  Require(!header.complete || (!header.name.empty() && !header.tag.empty()));
  for (const kest::LangFinding& finding : kest::CheckLanguageFile(file, tag))
    Require(finding.line >= 1 && finding.line <= lines && !finding.message.empty());
  return 0;
}
