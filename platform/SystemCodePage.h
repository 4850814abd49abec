// The system's own single- or double-byte code pages behind platform/CodePage.h
// (cpAnsi, cpOem), one implementation per system. Not for callers outside this
// folder: they use EncodeCodePage and DecodeCodePage.
#pragma once

#include <string>
#include <string_view>

#include "platform/CodePage.h"

namespace zo {

// codePage is cpAnsi or cpOem. A character the code page cannot hold becomes
// '?' and exact is set to false.
std::string EncodeSystemCodePage(std::u16string_view text, TCodePage codePage, bool& exact);
std::u16string DecodeSystemCodePage(std::string_view bytes, TCodePage codePage);

}  // namespace zo
