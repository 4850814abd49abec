// platform/CodePage.h on Windows: the system's own ANSI and OEM code pages
// (GetACP, GetOEMCP), the ones the archive format's rules for entry names
// speak of, converted by the system's calls.
#include "platform/SystemCodePage.h"

#include "platform/win32/Win32.h"

namespace zo {

namespace {

UINT SystemCodePageOf(TCodePage codePage) { return codePage == cpOem ? ::GetOEMCP() : ::GetACP(); }

}  // namespace

std::string EncodeSystemCodePage(std::u16string_view text, TCodePage codePage, bool& exact) {
  exact = true;
  if (text.empty()) return {};
  const UINT cp = SystemCodePageOf(codePage);
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  // No "best fit": a character the code page lacks becomes '?', never a
  // look-alike that would read back as another name.
  BOOL usedDefault = FALSE;
  const int size = ::WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0, "?", &usedDefault);
  std::string result(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, wide, length, result.data(), size, "?", &usedDefault);
  exact = !usedDefault;
  return result;
}

std::u16string DecodeSystemCodePage(std::string_view bytes, TCodePage codePage) {
  if (bytes.empty()) return {};
  const UINT cp = SystemCodePageOf(codePage);
  const int length = static_cast<int>(bytes.size());
  const int size = ::MultiByteToWideChar(cp, 0, bytes.data(), length, nullptr, 0);
  std::u16string result(static_cast<std::size_t>(size), u'\0');
  ::MultiByteToWideChar(cp, 0, bytes.data(), length, reinterpret_cast<wchar_t*>(result.data()), size);
  return result;
}

}  // namespace zo
