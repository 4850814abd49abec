#include "bundlet/ZipArchiveError.h"

namespace zo {

namespace {

struct TZipErrorText {
  std::int32_t Code;
  const char16_t* Text;
};

constexpr TZipErrorText kZipErrorTexts[] = {
    {kZipErrFileNotFound, u"File \"%s\" not found (or invalid)"},
    {kZipErrZipModeRequired, u"Zip mode required"},
    {kZipErrUnzipModeRequired, u"Unzip mode required"},
    {kZipErrFileExists, u"File \"%s\" already exists"},
    {kZipErrCRC, u"CRC error"},
    {kZipErrInternal, u"Internal error"},
    {kZipErrBadZipFile, u"Bad ZIP file  \"%s\""},
    {kZipErrInvalidParameter, u"Invalid parameter"},
};

// Puts Name in place of the one "%s" of a template. Done by hand rather than
// by Format so that a name holding '%' can never break the message.
String FillName(StringView text, const String& Name) {
  const size_t at = text.find(u"%s");
  if (at == StringView::npos) return String(text);
  String result(text.substr(0, at));
  result += Name;
  result += text.substr(at + 2);
  return result;
}

}  // namespace

StringView EZipError::MessageTemplate(std::int32_t ErrorCode) {
  for (const TZipErrorText& entry : kZipErrorTexts) {
    if (entry.Code == ErrorCode) return entry.Text;
  }
  return u"Unknown error";
}

EZipError::EZipError(std::int32_t ErrorCode, const String& Name)
    : Exception(FillName(MessageTemplate(ErrorCode), Name)), FErrorCode(ErrorCode) {}

}  // namespace zo
