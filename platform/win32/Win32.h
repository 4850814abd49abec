// What the Windows implementation of platform/ shares: windows.h without the
// macros that would rename our own functions, the crossing between our
// UTF-16 text and the wide-character API, the file paths that API is given,
// and Win32 error codes as the errno values that platform/ reports.
//
// windows.h turns DeleteFile, CreateFile, GetEnvironmentVariable,
// GetMessage and GetObject into their ...W forms by macro. Our own functions
// of those names (zo::DeleteFile, TDirHandle::CreateFile,
// zo::GetEnvironmentVariable) would be renamed in the files that include it
// and be missing for their callers, so the macros are undone here, once, and
// this folder calls the W functions by their full names.
#pragma once

#include <windows.h>

#undef DeleteFile
#undef CreateFile
#undef GetEnvironmentVariable
#undef GetMessage
#undef GetObject

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Descriptor.h"
#include "platform/FileSystem.h"

namespace zo {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the wide-character API takes UTF-16");

inline const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline std::u16string FromWide(const wchar_t* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}
inline std::u16string FromWide(const wchar_t* text) { return FromWide(text, std::wcslen(text)); }

inline HANDLE HandleOf(const TDescriptor& descriptor) { return reinterpret_cast<HANDLE>(descriptor.Get()); }
inline std::intptr_t ValueOf(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

// The errno value for a Win32 error code (EIO for those without one).
int ErrnoOf(DWORD error);
inline int LastErrno() { return ErrnoOf(::GetLastError()); }

// The path as the wide-character file calls take it: absolute, '\' only, and
// with the \\?\ prefix (\\?\UNC\ for a network path), which lifts the limit of
// MAX_PATH (260) characters and passes the name on as it is.
std::u16string NativePath(std::u16string_view path);
// A path the system gave back, as platform/ returns paths: without \\?\, and
// with '/' as the separator.
std::u16string FromNativePath(std::u16string_view path);

// The attribute bits of platform/FileSystem.h out of the system's own: the
// DOS bits (read-only, hidden, system, directory, archive) as they are.
inline std::uint32_t DosAttributes(DWORD attributes) {
  return attributes & (faReadOnly | faHidden | faSysFile | faDirectory | faArchive);
}

// A file time (UTC) as local time, by the zone rules of that moment.
TLocalTime LocalTimeOf(const FILETIME& time);

// Opens an existing file or directory for its metadata only (FileIdentity,
// setting times); a reparse point itself, never what it points to.
HANDLE OpenForMetadata(const std::u16string& nativePath, DWORD access);

}  // namespace zo
