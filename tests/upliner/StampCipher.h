// The stamp's encrypted copy as the tests write it into a database: the
// cipher of any text (a malformed one included), without the pause of the
// program's own enciphering, and its bytes as a bytea literal.
#pragma once

#include <cstdint>

#include "core/String.h"
#include "core/StringUtils.h"
#include "crypt/CryptUtils.h"
#include "crypt/SystemKey.h"

namespace zo::testing {

inline Bytes EncryptedStamp(const String& Text) {
  return TCryptUtils::Encode(caAES, SystemKey, Utf16LEBytes(Text));
}

inline String ByteaLiteral(const Bytes& Value) {
  static const char16_t digits[] = u"0123456789abcdef";
  String text = u"decode('";
  for (std::uint8_t b : Value) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text + u"','hex')";
}

}  // namespace zo::testing
