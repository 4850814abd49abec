// Free functions that turn values into text and back: delimited lists,
// searching from a position, a locale-independent number form, fixed
// ISO-like date-time forms, the hexadecimal form of binary data and single
// bits of an integer.
//
// Positions in texts count from 1; 0 never denotes a character. None of these
// functions depends on the process locale.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/DateTime.h"
#include "core/String.h"

namespace zo {

// ---- Delimited text -------------------------------------------------------

// The part of Text before the first Delimiter; the whole Text without one.
String TextBefore(StringView Text, StringView Delimiter);
// The part of Text after the first Delimiter; empty without one.
String TextAfter(StringView Text, StringView Delimiter);
String TextBeforeComma(StringView Text);
String TextAfterComma(StringView Text);

// The 1-based position of the first Ch at or after Start. False (Position
// untouched) when Start is outside 1..length or Ch does not occur there.
bool FindCharFrom(char16_t Ch, StringView Text, int Start, int& Position);
// The 1-based position of the first SubText beginning at or after Start.
// False for an empty SubText or a Start outside the text.
bool FindTextFrom(StringView SubText, StringView Text, int Start, int& Position);

// Clears List and fills it with the pieces of Text between Delimiters; n
// delimiters give n + 1 pieces, none trimmed. An empty Text gives no pieces.
// (The TVStringList overloads live with TVStringList in core/StringList.h.)
void SplitToList(StringView Text, char16_t Delimiter, std::vector<String>& List);
// The items with Separator between neighbours; empty for an empty list.
String JoinList(const std::vector<String>& List, StringView Separator);
// The lines of Text, split at CR, LF or CR LF as a string list's text setter
// does: "a\r\nb\n" gives "a", "b"; the empty text gives no lines.
std::vector<String> SplitLines(StringView Text);

// ---- Letter case and blanks ------------------------------------------------

// Equal but for the case of ASCII letters; every other character compares as
// it is, so the answer does not depend on the locale.
bool SameTextAscii(StringView A, StringView B);
// Text without the spaces and tabs at either end.
String TrimBlanks(StringView Text);

// ---- UTF-16 little-endian bytes ---------------------------------------------
// Text kept as bytes (the version stamp, Unicode list files): every code unit
// low byte first, whatever the host's byte order.

Bytes Utf16LEBytes(StringView Text);
// The bytes read back as code units; an odd last byte is dropped.
String Utf16LEText(std::span<const std::uint8_t> Data);

// ---- Numbers ---------------------------------------------------------------

// Decimal integers: an optional sign and digits, nothing else. Failure raises
// EConvertError "'%s' is not a valid integer value".
std::int32_t StrToInt(StringView Text);
std::int64_t StrToInt64(StringView Text);
bool TryStrToInt(StringView Text, std::int32_t& Value);
bool TryStrToInt64(StringView Text, std::int64_t& Value);
String IntToStr(std::int64_t Value);

// At most 15 significant digits, '.' as the decimal point, never an exponent:
// 1E-7 gives '0.0000001', -1.5E20 gives '-150000000000000000000'. Any
// magnitude is written in full. Infinities and NaN give "INF", "-INF", "NAN".
String FloatToPlainText(double Value);
// An optional sign, digits, '.' as the decimal point and an optional
// exponent (also the words FloatToPlainText writes). Failure raises
// EConvertError "'%s' is not a valid floating point value".
double PlainTextToFloat(StringView Text);

// Sets (State true) or clears bit Index of Value. Raises Exception for an
// Index outside 0..31, then for a negative Value; Value is then unchanged.
void SetBitState(std::int32_t& Value, int Index, bool State);

// ---- Dates and times -------------------------------------------------------
// Patterns: "yyyy-mm-dd hh:nn:ss.zzz" (full), "yyyy-mm-dd", "hh:nn:ss.zzz".

// The combined value of Date and Time (CombineDateAndTime). With OmitZeroPart
// a zero half is left out, unless both are zero (then the full form).
String DateAndTimeToText(TDateTime Date, TDateTime Time, bool OmitZeroPart);
// With OmitZeroPart a whole number gives the date form and a value with a zero
// integer part the time form; 0 always gives the full form.
String DateTimeToText(TDateTime Value, bool OmitZeroPart);

// Reads what the functions above write. Failures raise Exception with
// "Invalid DateTime format "%s"", "Invalid Date format "%s"" or
// "Invalid Time format "%s"" and the whole input. The digits after '.' are a
// whole number of milliseconds ("12:00:00.5" is 5 ms), at most 3 of them read.
TDateTime TextToDateTime(StringView Text);
TDateTime TextToDate(StringView Text);
TDateTime TextToTime(StringView Text);

// ---- Binary text: "" or "0x" and two hexadecimal digits per byte ----------

// The number of bytes Text encodes; checks the prefix and an even length.
// Raises Exception "Invalid binary format (begin with "%s")".
int BinaryTextLength(StringView Text);
// Decodes Count bytes of Text into Buffer (which holds at least Count bytes).
// Raises the binary format error when Text holds fewer than Count valid pairs.
void BinaryTextToBuffer(StringView Text, std::uint8_t* Buffer, int Count);
// "0x" and upper-case digits; empty for Count <= 0. Raises Exception
// "BinBufferToANSIStr: Maximum length of binary data is 536870900." above it.
String BinBufferToANSIStr(const std::uint8_t* Buffer, int Count);

// Convenience forms over Bytes: BinaryTextLength then BinaryTextToBuffer, and
// BinBufferToANSIStr of the whole byte string.
Bytes BinaryTextToBytes(StringView Text);
String BytesToBinaryText(const Bytes& Value);

}  // namespace zo
