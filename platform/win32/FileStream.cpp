#include "platform/FileStream.h"

#include <cerrno>

#include "platform/win32/Win32.h"

namespace zo {

int TFileHandle::Open(const std::u16string& path, OpenKind kind) {
  FFile.Reset();
  const std::u16string native = NativePath(path);
  const DWORD attributes = ::GetFileAttributesW(Wide(native));
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return EISDIR;
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  switch (kind) {
    case OpenKind::Read: break;
    case OpenKind::Write:
    case OpenKind::ReadWrite: access |= GENERIC_WRITE | FILE_WRITE_ATTRIBUTES; break;
    // OPEN_ALWAYS and emptying below rather than CREATE_ALWAYS, which refuses
    // a hidden or system file unless the same attributes are asked for.
    case OpenKind::Create: access |= GENERIC_WRITE | FILE_WRITE_ATTRIBUTES; disposition = OPEN_ALWAYS; break;
  }
  // Shared for every use, as a POSIX file is: another reader, a writer, or a
  // rename of the finished file while it is open.
  const HANDLE file = ::CreateFileW(Wide(native), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastErrno();
  TDescriptor owner(ValueOf(file));
  // A pipe, a console or a device is not a file for a stream.
  if (::GetFileType(file) != FILE_TYPE_DISK) return EINVAL;
  if (kind == OpenKind::Create && !::SetEndOfFile(file)) return LastErrno();
  FFile = std::move(owner);
  return 0;
}

int TFileHandle::Seek(std::int64_t offset, TSeekFrom from, std::int64_t& position) {
  const DWORD method = from == sfBeginning ? FILE_BEGIN : from == sfCurrent ? FILE_CURRENT : FILE_END;
  LARGE_INTEGER distance{}, result{};
  distance.QuadPart = offset;
  if (!::SetFilePointerEx(HandleOf(FFile), distance, &result, method)) return LastErrno();
  position = result.QuadPart;
  return 0;
}

int TFileHandle::Truncate(std::int64_t size) {
  // SetEndOfFile cuts at the position: the position is moved there and back,
  // as ftruncate leaves it alone.
  LARGE_INTEGER zero{}, current{}, end{};
  end.QuadPart = size;
  const HANDLE file = HandleOf(FFile);
  if (!::SetFilePointerEx(file, zero, &current, FILE_CURRENT) || !::SetFilePointerEx(file, end, nullptr, FILE_BEGIN))
    return LastErrno();
  const int error = ::SetEndOfFile(file) ? 0 : LastErrno();
  ::SetFilePointerEx(file, current, nullptr, FILE_BEGIN);
  return error;
}

int TFileHandle::Sync() { return ::FlushFileBuffers(HandleOf(FFile)) ? 0 : LastErrno(); }

int TFileHandle::Size(std::int64_t& size) const {
  LARGE_INTEGER result{};
  if (!::GetFileSizeEx(HandleOf(FFile), &result)) return LastErrno();
  size = result.QuadPart;
  return 0;
}

}  // namespace zo
