#include "crypt/CryptUtils.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "core/EException.h"
#include "core/Exception.h"
#include "core/StringUtils.h"
#include "crypt/AESBlock.h"
#include "crypt/SystemKey.h"
#include "platform/Utf.h"

namespace zo {

namespace {

constexpr size_t kBlockSize = TAESBlockCipher::kBlockSize;
constexpr std::uint8_t kPadMark = 0x80;

constexpr char16_t kSInvalidKeyLength[] = u"Invalid key length - must be 16, 24 or 32 bytes (128, 192, 256 bites).";
constexpr char16_t kSAESEncryptFailed[] = u"AES encryption failed.";
constexpr char16_t kSAESDecryptFailed[] = u"AES decryption failed.";
constexpr char16_t kSBadCiphertext[] = u"Invalid ciphertext - block padding is corrupted.";

using ByteSpan = std::span<const std::uint8_t>;

// Plaintext copies are wiped before their memory goes back to the heap.
class WipedBytes {
 public:
  explicit WipedBytes(size_t size) : FBytes(size) {}
  ~WipedBytes() { WipeBytes(FBytes.data(), FBytes.size()); }
  WipedBytes(const WipedBytes&) = delete;
  WipedBytes& operator=(const WipedBytes&) = delete;
  std::uint8_t* data() { return FBytes.data(); }
  size_t size() const { return FBytes.size(); }
  // Hands the first Count bytes out as a result; the rest stays to be wiped.
  Bytes Take(size_t Count) const { return Bytes(FBytes.begin(), FBytes.begin() + static_cast<std::ptrdiff_t>(Count)); }

 private:
  Bytes FBytes;
};

void CheckAESKey(ByteSpan Key) {
  if (Key.size() != 16 && Key.size() != 24 && Key.size() != 32) throw Exception(String(kSInvalidKeyLength));
}

Bytes AESEncode(ByteSpan Key, ByteSpan Source) {
  CheckAESKey(Key);
  if (Source.empty()) return {};
  try {
    // M, 0x80, then zeros up to a multiple of 16: always at least one byte added.
    WipedBytes padded((Source.size() / kBlockSize + 1) * kBlockSize);
    std::copy(Source.begin(), Source.end(), padded.data());
    padded.data()[Source.size()] = kPadMark;
    Bytes cipher(padded.size());
    TAESBlockCipher aes(Key, true);
    for (size_t at = 0; at < padded.size(); at += kBlockSize) aes.Block(padded.data() + at, cipher.data() + at);
    return cipher;
  } catch (const std::exception& e) {
    throw EException(pDefault, String(), kSAESEncryptFailed, ExceptionMessage(e));
  }
}

Bytes AESDecodeBytes(ByteSpan Key, ByteSpan Source) {
  CheckAESKey(Key);
  if (Source.empty()) return {};
  try {
    if (Source.size() % kBlockSize != 0) throw Exception(String(kSBadCiphertext));
    WipedBytes plain(Source.size());
    TAESBlockCipher aes(Key, false);
    for (size_t at = 0; at < Source.size(); at += kBlockSize) aes.Block(Source.data() + at, plain.data() + at);
    // Lenient unpadding: the last 0x80 in the last block ends the data; what
    // follows it is not checked, and a block without one adds nothing.
    const size_t lastBlock = plain.size() - kBlockSize;
    size_t length = lastBlock;
    for (size_t i = kBlockSize; i-- > 0;) {
      if (plain.data()[lastBlock + i] == kPadMark) {
        length = lastBlock + i;
        break;
      }
    }
    return plain.Take(length);
  } catch (const std::exception& e) {
    throw EException(pDefault, String(), kSAESDecryptFailed, ExceptionMessage(e));
  }
}

// Algorithms this build does not carry fail loudly: an empty result would
// read as success.
[[noreturn]] void NotBuilt(TCryptAlgorithm Algorithm, bool Encrypt) {
  const char16_t* name = nullptr;
  if (Algorithm == caRC6) name = u"RC6";
  else if (Algorithm == caRSA) name = u"RSA";
  if (name == nullptr)
    throw Exception(u"Unknown cipher algorithm (%d).", {static_cast<int>(Algorithm)});
  throw EException(pDefault, String(),
                   Format(Encrypt ? u"%s encryption failed." : u"%s decryption failed.", {name}),
                   Format(u"The %s cipher is not available in this program.", {name}));
}

}  // namespace

Bytes TCryptUtils::Encode(TCryptAlgorithm Algorithm, ByteSpan Key, ByteSpan Source) {
  if (Algorithm != caAES) NotBuilt(Algorithm, true);
  return AESEncode(Key, Source);
}

Bytes TCryptUtils::Decode(TCryptAlgorithm Algorithm, ByteSpan Key, ByteSpan Source) {
  if (Algorithm != caAES) NotBuilt(Algorithm, false);
  return AESDecodeBytes(Key, Source);
}

Bytes TCryptUtils::SystemEncode(ByteSpan Source) {
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  return Encode(caAES, SystemKey, Source);
}

Bytes AESDecode(ByteSpan Source, ByteSpan Key) { return TCryptUtils::Decode(caAES, Key, Source); }

String AESDecodeToText(ByteSpan Source, ByteSpan Key) {
  return Utf16LEText(AESDecode(Source, Key));
}

}  // namespace zo
