// EZipError: the failures of the archive wrapper itself (TZipArchive).
//
// Engine errors (EZEException) and the stream layer's errors pass through the
// wrapper unchanged; EZipError covers what the wrapper decides on its own: a
// missing source file, an operation that does not suit the open mode.
#pragma once

#include <cstdint>

#include "core/Exception.h"
#include "core/String.h"

namespace zo {

// The wrapper's error numbers. The negative numbers below -200 are raised;
// the others only have their texts.
inline constexpr std::int32_t kZipErrFileNotFound = -201;
inline constexpr std::int32_t kZipErrZipModeRequired = -202;
inline constexpr std::int32_t kZipErrUnzipModeRequired = -203;
inline constexpr std::int32_t kZipErrFileExists = -204;
inline constexpr std::int32_t kZipErrCRC = -105;
inline constexpr std::int32_t kZipErrInternal = -104;
inline constexpr std::int32_t kZipErrBadZipFile = -103;
inline constexpr std::int32_t kZipErrInvalidParameter = -102;

class EZipError : public Exception {
 public:
  // The message is the text of ErrorCode; Name fills the "%s" of the texts
  // that carry a file name and is ignored by the others.
  explicit EZipError(std::int32_t ErrorCode, const String& Name = String());

  std::int32_t ErrorCode() const { return FErrorCode; }

  // The text for an error number, before the name is put in: "Unknown error"
  // for a number the table does not hold.
  static StringView MessageTemplate(std::int32_t ErrorCode);

 private:
  std::int32_t FErrorCode;
};

}  // namespace zo
