#include "core/EException.h"

#include "core/StringUtils.h"

namespace zo {

namespace {
constexpr char16_t kCRLF[] = u"\r\n";
}

// The general exception's own message stays empty for every EException: its
// text is the composed one.
EException::EException(TPrefix APrefix, const String& AMsgID, const String& AMainMsg, const String& ADetailMsg)
    : FPrefix(APrefix), FMsgID(AMsgID), FMainMSG(AMainMsg), FDetailMSG(SplitLines(ADetailMsg)) {}

EException::EException(const String& ADetailMsg) : EException(pDefault, String(), String(), ADetailMsg) {}

EException EException::CreateFmt(StringView ADetailMsg, std::initializer_list<FormatArg> Args) {
  return EException(Format(ADetailMsg, Args));
}

void EException::SetMsgProps(TPrefix APrefix, const String& AMsgID, const String& AMainMsg) {
  if (FPrefix != pDefault) {
    throw EException(pReadOnly, String(), String(),
                     u"Can not modify properties in this exception.\r\n" + FMsgID + u": " + FMainMSG + kCRLF +
                         DetailText());
  }
  FPrefix = APrefix;
  FMsgID = AMsgID;
  FMainMSG = AMainMsg;
}

String EException::DetailText() const {
  String text;
  for (const String& line : FDetailMSG) text += line + kCRLF;
  return text;
}

String EException::GetMessage() const {
  const bool hasID = !FMsgID.empty();
  const bool hasMain = !FMainMSG.empty();
  const bool hasDetail = !FDetailMSG.empty();
  if (!hasID && !hasMain) return DetailText();
  if (!hasID && !hasDetail) return FMainMSG + kCRLF;
  if (hasMain || hasDetail) {
    String text;
    if (hasID) text += u"  MessageID : " + FMsgID + kCRLF;
    if (hasMain) text += u"  Main message :" + String(kCRLF) + FMainMSG + kCRLF;
    if (hasDetail) text += u"  Detail message :" + String(kCRLF) + DetailText();
    return text;
  }
  return FMsgID + kCRLF;
}

String ComposeExceptionMessage(const std::exception& E) {
  if (const auto* ee = dynamic_cast<const EException*>(&E)) return ee->GetMessage();
  return u"  Original message :\r\n" + ExceptionMessage(E) + kCRLF;
}

}  // namespace zo
