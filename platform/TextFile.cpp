#include "platform/TextFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Utf.h"

namespace zo {

namespace {

// Owns one file descriptor; closing is part of every way out.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  // Closes now and reports the failure a delayed write may only show here.
  int Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

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
  FileDescriptor file(::open(ToOsPath(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return errno;
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  bytes = std::move(content);
  return 0;
}

int WriteWholeFile(std::u16string_view path, std::string_view bytes) {
  FileDescriptor file(::open(ToOsPath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (file.get() < 0) return errno;
  while (!bytes.empty()) {
    const ssize_t n = ::write(file.get(), bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return file.Close();
}

std::u16string DecodeTextFile(std::string_view bytes) {
  if (StartsWith(bytes, "\xEF\xBB\xBF")) return FromUtf8(bytes.substr(3));
  if (StartsWith(bytes, "\xFF\xFE")) return DecodeUtf16(bytes.substr(2), false);
  if (StartsWith(bytes, "\xFE\xFF")) return DecodeUtf16(bytes.substr(2), true);
  return FromUtf8(bytes);
}

}  // namespace zo
