// Enciphering and deciphering of values stored in the database.
//
// caAES is the stored format: the raw key (16, 24 or 32 bytes: AES-128, -192,
// -256), the plaintext followed by 0x80 and as many 0x00 as make its length a
// multiple of 16 (a whole block when it already is one), each 16-byte block
// enciphered on its own (ECB). No header, no IV, no length, no checksum; an
// empty plaintext is an empty ciphertext. Deciphering strips the padding
// leniently: the last 0x80 of the last block ends the data, and a last block
// without one contributes nothing. A wrong key therefore gives garbled data,
// not an error: the caller checks what it decoded.
//
// Every call is a pure function of its arguments: no state survives it.
#pragma once

#include <cstdint>
#include <span>

#include "core/String.h"

namespace zo {

enum class TCryptAlgorithm : std::uint8_t { caRC6 = 0, caRSA = 1, caAES = 2 };
using enum TCryptAlgorithm;

class TCryptUtils {
 public:
  // A key of the wrong length fails with the key-length message as it is;
  // any other failure is an EException with the main message "AES
  // encryption failed." or "AES decryption failed." and the cause as detail.
  // caRC6 and caRSA are not built: they fail with "RC6 encryption failed."
  // (and so on) and a detail that says so.
  static Bytes Encode(TCryptAlgorithm Algorithm, std::span<const std::uint8_t> Key,
                      std::span<const std::uint8_t> Source);
  static Bytes Decode(TCryptAlgorithm Algorithm, std::span<const std::uint8_t> Key,
                      std::span<const std::uint8_t> Source);
  // Encode with caAES and SystemKey, after a pause of 500 milliseconds.
  static Bytes SystemEncode(std::span<const std::uint8_t> Source);
};

// Note the order: data first, key second.
Bytes AESDecode(std::span<const std::uint8_t> Source, std::span<const std::uint8_t> Key);
// The plaintext read as UTF-16 little-endian code units; an odd last byte is
// dropped.
String AESDecodeToText(std::span<const std::uint8_t> Source, std::span<const std::uint8_t> Key);

}  // namespace zo
