// The AES block function, from the system's cipher library: OpenSSL on
// Linux (posix/AESBlock.cpp), CNG on Windows (win32/AESBlock.cpp). CMake
// chooses the body; the codec in CryptUtils.cpp arranges blocks and padding
// itself and asks this seam only for one raw 16-byte block at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace zo {

// One key in one direction. The key has 16, 24 or 32 bytes (the caller
// checks); a failure of the library throws Exception with the library's own
// words as the message.
class TAESBlockCipher {
 public:
  static constexpr std::size_t kBlockSize = 16;

  TAESBlockCipher(std::span<const std::uint8_t> Key, bool Encrypt);
  ~TAESBlockCipher();
  TAESBlockCipher(const TAESBlockCipher&) = delete;
  TAESBlockCipher& operator=(const TAESBlockCipher&) = delete;

  // Enciphers or deciphers the kBlockSize bytes at In into Out.
  void Block(const std::uint8_t* In, std::uint8_t* Out);

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

// Overwrites Size bytes at Data with zeros in a way the compiler keeps, for
// plaintext and key copies before their memory goes back to the heap.
void WipeBytes(void* Data, std::size_t Size);

}  // namespace zo
