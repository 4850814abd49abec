#include "platform/TextFile.h"

#include "platform/FileStream.h"
#include "platform/Utf.h"

namespace zo {

namespace {

std::u16string DecodeUtf16(std::string_view bytes, bool bigEndian) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    text += bigEndian ? static_cast<char16_t>(first << 8 | second)
                      : static_cast<char16_t>(second << 8 | first);
  }
  return text;
}

bool StartsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

}  // namespace

int ReadWholeFile(std::u16string_view path, std::string& bytes) {
  TFileHandle file;
  if (const int error = file.Open(std::u16string(path), TFileHandle::OpenKind::Read)) return error;
  std::string content;
  char buffer[65536];
  for (;;) {
    std::int64_t moved = 0;
    if (const int error = file.Read(buffer, sizeof buffer, moved)) return error;
    content.append(buffer, static_cast<std::size_t>(moved));
    if (moved < static_cast<std::int64_t>(sizeof buffer)) break;
  }
  bytes = std::move(content);
  return 0;
}

int WriteWholeFile(std::u16string_view path, std::string_view bytes) {
  TFileHandle file;
  if (const int error = file.Open(std::u16string(path), TFileHandle::OpenKind::Create)) return error;
  std::int64_t moved = 0;
  if (const int error = file.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()), moved)) return error;
  return file.Close();
}

std::u16string DecodeTextFile(std::string_view bytes) {
  if (StartsWith(bytes, "\xEF\xBB\xBF")) return FromUtf8(bytes.substr(3));
  if (StartsWith(bytes, "\xFF\xFE")) return DecodeUtf16(bytes.substr(2), false);
  if (StartsWith(bytes, "\xFE\xFF")) return DecodeUtf16(bytes.substr(2), true);
  return FromUtf8(bytes);
}

}  // namespace zo
