#include "platform/ErrorText.h"

#include <cstring>

#include "platform/Utf.h"

namespace zo {

std::u16string ErrorText(int error) {
  char buffer[256];
  // The GNU strerror_r returns a pointer that may or may not be buffer.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  return FromUtf8(text);
}

}  // namespace zo
