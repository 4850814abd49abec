#include "core/Exception.h"

#include "platform/ErrorText.h"
#include "platform/Utf.h"

namespace zo {

Exception::Exception(String message) : FMessage(std::move(message)) {}

Exception::Exception(StringView format, std::initializer_list<FormatArg> args)
    : FMessage(Format(format, args)) {}

const char* Exception::what() const noexcept {
  try {
    FWhat = ToUtf8(Message());
  } catch (...) {
    FWhat.clear();
  }
  return FWhat.c_str();
}

String SystemErrorText(int error) { return ErrorText(error); }

void RaiseOpenError(StringView Path, int Error) { throw EFOpenError(kSFOpenError, {Path, SystemErrorText(Error)}); }

void RaiseCreateError(StringView Path, int Error) {
  throw EFCreateError(kSFCreateError, {Path, SystemErrorText(Error)});
}

String ExceptionMessage(const std::exception& E) {
  if (const auto* own = dynamic_cast<const Exception*>(&E)) return own->Message();
  return FromUtf8(E.what());
}

}  // namespace zo
