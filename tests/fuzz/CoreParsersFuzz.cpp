// Fuzz target: the core library's text parsers. The first byte picks the
// parser, the rest is its input as UTF-16 code units. Conversion errors
// (zo::Exception) are the expected answer to bad text; anything else
// escaping, a crash, or a value that does not survive its own text form is a
// bug.
#include <cstddef>
#include <cstdint>

#include "core/DateTime.h"
#include "core/Exception.h"
#include "core/IDList.h"
#include "core/StringList.h"
#include "core/StringUtils.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

using namespace zo;
using fuzz::Check;

// The printed form of an accepted binary text: "0x" and upper-case digits.
String Printed(const String& text) {
  if (text.size() <= 2) return u"";
  String out = u"0x";
  for (char16_t ch : text.substr(2)) out += (ch >= u'a' && ch <= u'z') ? static_cast<char16_t>(ch - u'a' + u'A') : ch;
  return out;
}

void FuzzDateTime(const String& text, int which) {
  TDateTime (*parse)(StringView) = which == 0 ? TextToDateTime : which == 1 ? TextToDate : TextToTime;
  TDateTime value;
  try {
    value = parse(text);
  } catch (const Exception&) {
    return;
  }
  // What was accepted prints, and that text reads back to the same text.
  const String printed = DateTimeToText(value, false);
  Check(DateTimeToText(TextToDateTime(printed), false) == printed, "date-time text round trip");
}

void FuzzBinaryText(const String& text) {
  Bytes bytes;
  try {
    bytes = BinaryTextToBytes(text);
  } catch (const Exception&) {
    return;
  }
  Check(BytesToBinaryText(bytes) == Printed(text), "binary text round trip");
}

// BinaryTextToBuffer with a count the caller chose (the first code unit):
// it must never write more than Count bytes nor read past the text.
void FuzzBinaryBuffer(const String& text) {
  if (text.empty()) return;
  const int count = text[0] % 64;
  const String rest = text.substr(1);
  Bytes buffer(static_cast<std::size_t>(count));
  try {
    BinaryTextToBuffer(rest, buffer.data(), count);
  } catch (const Exception&) {
  }
}

void FuzzIDValue(const String& text) {
  TIDValue value;
  try {
    value = TIDValue::FromString(text);
  } catch (const Exception&) {
    return;
  }
  Check(TIDValue::FromString(value.ToString()) == value, "identifier text round trip");
}

void FuzzIDListText(const String& text) {
  TIDList list;
  try {
    list.LoadFromString(text);
  } catch (const Exception&) {
    return;
  }
  TIDList again;
  if (list.Count() > 0) again.LoadFromString(list.SaveToString());
  Check(again.SaveToString() == list.SaveToString(), "identifier list text round trip");
  list.Sort();
  for (int i = 1; i < list.Count(); ++i) Check(TIDValue::Compare(list[i - 1], list[i]) <= 0, "sorted order");
}

void FuzzIDListBinary(const std::uint8_t* data, std::size_t size) {
  TIDList list;
  list.AddItem(7, 1);
  try {
    list.LoadFromBinary(Bytes(data, data + size));
  } catch (const Exception&) {
    Check(list.Count() == 1 && list[0] == TIDValue(7, 1), "failed binary load keeps the list");
    return;
  }
  TIDList again;
  again.LoadFromBinary(list.SaveToBinary());
  Check(again.SaveToBinary() == list.SaveToBinary(), "identifier list binary round trip");
}

// TVStringList.LoadFromString with a separator (the first code unit) and the
// values flag (bit 0 of the second); then the line form and a sorted copy.
void FuzzStringList(const String& text) {
  if (text.size() < 2) return;
  const char16_t sep = text[0];
  const bool withValues = (text[1] & 1) != 0;
  const String main = text.substr(2);
  TVStringList list;
  try {
    list.LoadFromString(main, sep, withValues);
  } catch (const Exception&) {
    return;
  }
  if (!main.empty()) {
    Check(list.Count() >= 1, "a text gives at least one piece");
    // Nothing is escaped, so the text form comes back unchanged unless the
    // separator is the '=' between name and value.
    if (withValues && sep != u'=') {
      TVStringList again;
      again.LoadFromString(list.SaveToString(sep, true), sep, true);
      Check(again.Count() == list.Count(), "string list text round trip");
    }
  }
  try {
    TVStringList lines;
    lines.SetTextStr(main, withValues);
    lines.Sort();
    (void)lines.GetTextStr(withValues);
    for (int i = 0; i < list.Count(); ++i) (void)list.IndexOf(list.GetName(i));
  } catch (const Exception&) {
  }
}

void FuzzNumbers(const String& text) {
  try {
    const std::int64_t value = StrToInt64(text);
    Check(StrToInt64(IntToStr(value)) == value, "integer round trip");
  } catch (const Exception&) {
  }
  std::int32_t small = 0;
  (void)TryStrToInt(text, small);
  try {
    const double value = PlainTextToFloat(text);
    const String printed = FloatToPlainText(value);
    Check(FloatToPlainText(PlainTextToFloat(printed)) == printed, "float text round trip");
  } catch (const Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t which = data[0] % 10;
  const String text = fuzz::Utf16Text(data + 1, size - 1);
  switch (which) {
    case 0:
    case 1:
    case 2: FuzzDateTime(text, which); break;
    case 3: FuzzBinaryText(text); break;
    case 4: FuzzBinaryBuffer(text); break;
    case 5: FuzzIDValue(text); break;
    case 6: FuzzIDListText(text); break;
    case 7: FuzzIDListBinary(data + 1, size - 1); break;
    case 8: FuzzStringList(text); break;
    default: FuzzNumbers(text); break;
  }
  return 0;
}
