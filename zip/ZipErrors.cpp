#include "zip/ZipErrors.h"

#include <array>
#include <utility>

#include "zip/ZipEngine.h"

namespace zo {

namespace {

constexpr std::array<const char16_t*, 41> kMessages = {
    u"Unknown error",
    u"Index out of bounds",
    u"Invalid compression mode. Mode must be in [0-9] range",
    u"Unexpected nil pointer",
    u"Invalid size or check sum of file or unsupported compression format",
    u"File name is blank. Specify appropriate file name",
    u"File \"%s\" not found",
    u"Archive is not open",
    u"SFXStub property is not specified",
    u"Cannot create file \"%s\"",
    u"Cannot create directory \"%s\"",
    u"Internal error. Update is not started",
    u"Cannot open file \"%s\"",
    u"Cannot proceed when update is not ended. Preceding EndUpdate call is required.",
    u"Cannot delete file \"%s\"",
    u"In-memory archive can be created only",
    u"File is open in read-only mode",
    u"Invalid compressed size, rfs.size = %d, count = %d",
    u"Invalid archive file.",
    u"Cannot create output file. Probably file is locked by another process. FileName = '%s'.",
    u"Archive is open. You should close it beore performing this operation.",
    u"Unable to create directory",
    u"Cannot find 64-bit directory end record",
    u"Cannot compress file '%s'. Zip64 mode is not enabled",
    u"Cannot open archive file. Opening aborted or invalid file",
    u"Write to stream error",
    u"Cannot place SFX stub on volume. Volume size limit is too small",
    u"Archive is damaged. Open failed",
    u"MakeSFX is not allowed for splitted or spanned archives. Set SFXStub before archive "
    u"creation instead of MakeSFX",
    u"Archive already has SFX stub",
    u"Multi-volume archive is not allowed for custom stream",
    u"Multi-spanned archive is not allowed for modification. Use BeginUpdate/EndUpdate methods "
    u"to add files several times",
    u"Deflate64 compression method is not supported",
    u"MakeSFX error",
    u"Hashed list of file names is invalid",
    u"Cannot delete folder \"%s\"",
    u"File name is too long: \r\n\"%s\"",
    u"Multiple transactions are not supported for multi-volume archives",
    u"Invalid InitVector index = %d. Index should be >= 0 and < %d",
    u"Disk is full. There is not enough free space on disk.",
    u"Invalid password. Cannot decompress encrypted file.",
};

// Native number -> message index, for native numbers 0..67.
constexpr std::array<std::int8_t, 68> kNativeToCode = {
    0,                                   // 0
    1, 1, 1, 1,                          // 1-4
    2,                                   // 5
    3,                                   // 6
    1,                                   // 7
    4,                                   // 8
    5, 5,                                // 9-10
    6, 6,                                // 11-12
    7, 7,                                // 13-14
    6,                                   // 15
    1,                                   // 16
    8,                                   // 17
    6,                                   // 18
    9,                                   // 19
    10,                                  // 20
    1,                                   // 21
    11,                                  // 22
    9,                                   // 23
    1,                                   // 24
    11,                                  // 25
    13,                                  // 26
    14,                                  // 27
    15,                                  // 28
    5,                                   // 29
    6, 6,                                // 30-31
    16,                                  // 32
    12,                                  // 33
    17,                                  // 34
    18,                                  // 35
    19,                                  // 36
    20,                                  // 37
    6,                                   // 38
    21,                                  // 39
    22,                                  // 40
    23,                                  // 41
    6,                                   // 42
    23,                                  // 43
    24, 24,                              // 44-45
    25,                                  // 46
    26,                                  // 47
    27,                                  // 48
    28,                                  // 49
    29,                                  // 50
    30,                                  // 51
    31,                                  // 52
    6, 6,                                // 53-54
    32,                                  // 55
    33,                                  // 56
    27,                                  // 57
    34, 34,                              // 58-59
    35,                                  // 60
    36,                                  // 61
    37,                                  // 62
    38, 38,                              // 63-64
    39, 39,                              // 65-66
    40,                                  // 67
};

// "%5d" with its blanks turned into zeros: 3 -> "00003", -3 -> "000-3",
// 123456 -> "123456".
String PaddedNative(int nativeError) {
  String text = Format(u"%5d", {nativeError});
  for (char16_t& c : text) {
    if (c == u' ') c = u'0';
  }
  return text;
}

String ComposeText(int nativeError, int errorCode, const String& formatted,
                   const TZEBaseArchiver* engine) {
  (void)errorCode;
  String text = formatted;
  if (engine != nullptr && !engine->Name.empty()) text = Format(u"%s: %s", {engine->Name, text});
  return text + u" - Native error: " + PaddedNative(nativeError);
}

}  // namespace

String PrintableName(StringView Name) {
  // A name of thousands of characters is shown by its two ends.
  constexpr std::size_t kHead = 600, kTail = 200;
  if (Name.size() > kHead + kTail + 3) {
    return PrintableName(Name.substr(0, kHead)) + u"..." + PrintableName(Name.substr(Name.size() - kTail));
  }
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  auto escape = [&](String& out, char16_t c) {
    if (c < 0x100) {
      out += u"\\x";
    } else {
      out += u"\\u";
      out += kHex[(c >> 12) & 0xF];
      out += kHex[(c >> 8) & 0xF];
    }
    out += kHex[(c >> 4) & 0xF];
    out += kHex[c & 0xF];
  };
  auto isSurrogate = [](char16_t c) { return c >= 0xD800 && c <= 0xDFFF; };
  String out;
  out.reserve(Name.size());
  for (std::size_t i = 0; i < Name.size(); ++i) {
    const char16_t c = Name[i];
    const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
    const bool reorders = c == 0x200E || c == 0x200F || (c >= 0x2028 && c <= 0x202E) ||
                          (c >= 0x2066 && c <= 0x2069);
    if (isSurrogate(c)) {
      const bool pair = c <= 0xDBFF && i + 1 < Name.size() && Name[i + 1] >= 0xDC00 && Name[i + 1] <= 0xDFFF;
      if (pair) {
        out += c;
        out += Name[++i];
      } else {
        escape(out, c);
      }
    } else if (control || reorders) {
      escape(out, c);
    } else {
      out += c;
    }
  }
  return out;
}

int ZEErrorCodeOf(int nativeError) {
  if (nativeError < 0 || nativeError >= static_cast<int>(kNativeToCode.size())) return 0;
  return kNativeToCode[static_cast<std::size_t>(nativeError)];
}

StringView ZEMessageTemplate(int errorCode) {
  if (errorCode < 0 || errorCode >= static_cast<int>(kMessages.size())) return kMessages[0];
  return kMessages[static_cast<std::size_t>(errorCode)];
}

EZEException::EZEException(int nativeError, const TZEBaseArchiver* engine)
    : NativeError(nativeError), ErrorCode(ZEErrorCodeOf(nativeError)) {
  SetMessage(ComposeText(nativeError, ErrorCode, String(ZEMessageTemplate(ErrorCode)), engine));
}

EZEException::EZEException(int nativeError, std::initializer_list<FormatArg> args,
                           const TZEBaseArchiver* engine)
    : NativeError(nativeError), ErrorCode(ZEErrorCodeOf(nativeError)) {
  SetMessage(ComposeText(nativeError, ErrorCode, Format(ZEMessageTemplate(ErrorCode), args), engine));
}

EZERefused::EZERefused(int nativeError, const String& text) : EZEException(nativeError) {
  SetMessage(ComposeText(nativeError, ErrorCode, text, nullptr));
}

}  // namespace zo
