// Fuzz target: the conversions that meet bytes from outside: text files
// written by other programs (result files, Versions.sl), UTF-8 at the
// operating system's edges and the code pages of ZIP entry names. The first
// byte picks the conversion, the rest is its input. Besides never crashing,
// each must give text that survives the way back where the way back is
// defined.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/StringUtils.h"
#include "platform/CodePage.h"
#include "platform/TextFile.h"
#include "platform/Utf.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

using namespace zo;
using fuzz::Check;

bool WellFormedUtf16(const String& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

void FuzzTextFile(std::string_view bytes) {
  const String text = DecodeTextFile(bytes);
  std::size_t total = 0;
  for (const String& line : SplitLines(text)) {
    Check(line.find(u'\r') == String::npos && line.find(u'\n') == String::npos, "a line holds no line break");
    total += line.size();
  }
  Check(total <= text.size(), "lines hold no more than the text");
}

void FuzzUtf8(std::string_view bytes) {
  const String text = FromUtf8(bytes);
  Check(WellFormedUtf16(text), "UTF-8 decodes to well-formed UTF-16");
  const std::string back = ToUtf8(text);
  Check(IsValidUtf8(back), "UTF-16 encodes to valid UTF-8");
  if (IsValidUtf8(bytes)) Check(back == bytes, "valid UTF-8 survives the round trip");
  Check(FromUtf8(back) == text, "decoded text survives the round trip");
}

void FuzzUtf16(const String& text) {
  const std::string bytes = ToUtf8(text);
  Check(IsValidUtf8(bytes), "any UTF-16 encodes to valid UTF-8");
  if (WellFormedUtf16(text)) Check(FromUtf8(bytes) == text, "well-formed UTF-16 survives the round trip");
}

void FuzzCodePage(std::string_view bytes, TCodePage codePage) {
  const String text = DecodeCodePage(bytes, codePage);
  bool exact = false;
  const std::string back = EncodeCodePage(text, codePage, &exact);
  if (codePage != cpUtf8) {
    Check(text.size() == bytes.size(), "one character per byte");
    Check(exact && back == bytes, "single-byte code page round trip");
  }
  (void)ConvertCodePage(bytes, codePage, codePage == cpAnsi ? cpOem : cpAnsi);
}

void FuzzEncode(const String& text, TCodePage codePage) {
  bool exact = false;
  const std::string bytes = EncodeCodePage(text, codePage, &exact);
  if (exact) Check(DecodeCodePage(bytes, codePage) == text, "exact encoding decodes back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t which = data[0] % 8;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (which) {
    case 0: FuzzTextFile(bytes); break;
    case 1: FuzzUtf8(bytes); break;
    case 2: FuzzUtf16(fuzz::Utf16Text(data + 1, size - 1)); break;
    case 3: FuzzCodePage(bytes, cpAnsi); break;
    case 4: FuzzCodePage(bytes, cpOem); break;
    case 5: FuzzCodePage(bytes, cpUtf8); break;
    case 6: FuzzEncode(fuzz::Utf16Text(data + 1, size - 1), cpAnsi); break;
    default: FuzzEncode(fuzz::Utf16Text(data + 1, size - 1), cpOem); break;
  }
  return 0;
}
