// The platform's general exception and the small errors of the core library.
//
// Every error the system raises derives from Exception, which carries its text
// as a String. EException (core/EException.h), EZEException and EZipError
// derive from it too.
#pragma once

#include <exception>
#include <initializer_list>
#include <string>

#include "core/Format.h"
#include "core/String.h"

namespace zo {

class Exception : public std::exception {
 public:
  Exception() = default;
  explicit Exception(String message);
  Exception(StringView format, std::initializer_list<FormatArg> args);

  // The message as the system shows it. Virtual so that errors which compose
  // their text (EException) answer with the composed form.
  virtual String Message() const { return FMessage; }
  const char* what() const noexcept override;

 protected:
  void SetMessage(String message) { FMessage = std::move(message); }

 private:
  String FMessage;
  mutable std::string FWhat;
};

// A value that does not convert: "'%s' is not a valid integer value" and the like.
class EConvertError : public Exception { using Exception::Exception; };
// "List index out of bounds (%d)".
class EListError : public Exception { using Exception::Exception; };
// A bad format string or argument list given to Format.
class EFormatError : public Exception { using Exception::Exception; };
// Input and output failures; the message is the system's reason.
class EInOutError : public Exception { using Exception::Exception; };
// A file that cannot be created or opened: "Cannot create file "%s". %s".
class EFileError : public Exception { using Exception::Exception; };
class EFCreateError : public EFileError { using EFileError::EFileError; };
class EFOpenError : public EFileError { using EFileError::EFileError; };

// Messages the platform gives for the situations above.
inline constexpr char16_t kSInvalidInteger[] = u"'%s' is not a valid integer value";
inline constexpr char16_t kSInvalidFloat[] = u"'%s' is not a valid floating point value";
inline constexpr char16_t kSListIndexError[] = u"List index out of bounds (%d)";
inline constexpr char16_t kSFCreateError[] = u"Cannot create file \"%s\". %s";
inline constexpr char16_t kSFOpenError[] = u"Cannot open file \"%s\". %s";
// A stream that could not move all the bytes asked of it.
inline constexpr char16_t kSReadError[] = u"Stream read error";
inline constexpr char16_t kSWriteError[] = u"Stream write error";

// The system's reason for an errno value, as text ("No such file or directory").
String SystemErrorText(int error);

// EFOpenError "Cannot open file "%s". %s" and EFCreateError "Cannot create
// file "%s". %s" for Path, with the system's reason for Error (an errno value).
[[noreturn]] void RaiseOpenError(StringView Path, int Error);
[[noreturn]] void RaiseCreateError(StringView Path, int Error);

// The message of any error: Message() of the system's own errors, what() read
// as UTF-8 of any other.
String ExceptionMessage(const std::exception& E);

}  // namespace zo
