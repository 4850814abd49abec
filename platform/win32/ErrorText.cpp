#include "platform/ErrorText.h"

#include <cerrno>
#include <cstring>

#include "platform/Utf.h"
#include "platform/win32/Win32.h"

namespace zo {

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_CANNOT_MAKE: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA: return EPIPE;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_HANDLE:
    case ERROR_NEGATIVE_SEEK: return EINVAL;
    case ERROR_CANT_RESOLVE_FILENAME: return ELOOP;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    default: return EIO;
  }
}

std::u16string ErrorText(int error) {
  // The C runtime knows the classic numbers only; the POSIX ones that
  // platform/ reports beyond them get their usual text here.
  switch (error) {
    case ELOOP: return u"Too many levels of symbolic links";
    case ENOTEMPTY: return u"Directory not empty";
    case ENOTSUP: return u"Operation not supported";
    default: return FromUtf8(std::strerror(error));
  }
}

}  // namespace zo
