// EException, the system's structured error, and the composer that turns any
// error into the multi-line text the programs show or print.
#pragma once

#include <cstdint>
#include <exception>
#include <vector>

#include "core/Exception.h"
#include "core/String.h"

namespace zo {

enum class TPrefix : std::uint8_t { pDefault = 0, pReadOnly = 1, pPicture = 2, pAbort = 3 };
using enum TPrefix;

class EException : public Exception {
 public:
  EException(TPrefix APrefix, const String& AMsgID, const String& AMainMsg, const String& ADetailMsg);
  explicit EException(const String& ADetailMsg);
  static EException CreateFmt(StringView ADetailMsg, std::initializer_list<FormatArg> Args);

  TPrefix Prefix() const { return FPrefix; }
  const String& MsgID() const { return FMsgID; }
  const String& MainMSG() const { return FMainMSG; }
  // One entry per detail line, without line breaks.
  const std::vector<String>& DetailMSG() const { return FDetailMSG; }

  // Replaces prefix, identifier and main message; only while the prefix is
  // pDefault, otherwise raises a pReadOnly EException and changes nothing.
  void SetMsgProps(TPrefix APrefix, const String& AMsgID, const String& AMainMsg);

  // The composed text of this error.
  String GetMessage() const;
  String Message() const override { return GetMessage(); }

 private:
  // The detail lines read back as text: each line followed by CR LF.
  String DetailText() const;

  TPrefix FPrefix = pDefault;
  String FMsgID;
  String FMainMSG;
  std::vector<String> FDetailMSG;

  friend String ComposeExceptionMessage(const std::exception& E);
};

// The composed text of any error. Errors that are not EException are shown
// under the "  Original message :" label.
String ComposeExceptionMessage(const std::exception& E);

}  // namespace zo
