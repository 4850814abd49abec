#include "crypt/CryptUtils.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "core/EException.h"
#include "core/Exception.h"
#include "core/StringUtils.h"
#include "crypt/SystemKey.h"
#include "platform/Utf.h"

namespace zo {

namespace {

constexpr size_t kBlockSize = 16;
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
  ~WipedBytes() { OPENSSL_cleanse(FBytes.data(), FBytes.size()); }
  WipedBytes(const WipedBytes&) = delete;
  WipedBytes& operator=(const WipedBytes&) = delete;
  std::uint8_t* data() { return FBytes.data(); }
  size_t size() const { return FBytes.size(); }
  // Hands the first Count bytes out as a result; the rest stays to be wiped.
  Bytes Take(size_t Count) const { return Bytes(FBytes.begin(), FBytes.begin() + static_cast<std::ptrdiff_t>(Count)); }

 private:
  Bytes FBytes;
};

// The cause of a cipher failure; it becomes the detail of the wrapped error.
String CipherErrorText(const char* operation) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  std::string text = operation;
  if (code != 0) {
    char reason[256];
    ERR_error_string_n(code, reason, sizeof reason);
    text += ": ";
    text += reason;
  } else {
    text += " failed";
  }
  return FromUtf8(text);
}

void CheckAESKey(ByteSpan Key) {
  if (Key.size() != 16 && Key.size() != 24 && Key.size() != 32) throw Exception(String(kSInvalidKeyLength));
}

const EVP_CIPHER* AESCipherFor(size_t keyLength) {
  switch (keyLength) {
    case 16: return EVP_aes_128_ecb();
    case 24: return EVP_aes_192_ecb();
    default: return EVP_aes_256_ecb();
  }
}

// The AES block function under one key, in one direction. ECB with padding
// switched off, fed one block per call: the library adds nothing of its own,
// the block arrangement and padding are ours.
class AESBlockCipher {
 public:
  AESBlockCipher(ByteSpan Key, bool Encrypt) : FCipher(EVP_CIPHER_CTX_new()) {
    if (!FCipher) throw Exception(CipherErrorText("EVP_CIPHER_CTX_new"));
    if (EVP_CipherInit_ex(FCipher.get(), AESCipherFor(Key.size()), nullptr, Key.data(), nullptr, Encrypt ? 1 : 0) != 1)
      throw Exception(CipherErrorText("EVP_CipherInit_ex"));
    if (EVP_CIPHER_CTX_set_padding(FCipher.get(), 0) != 1) throw Exception(CipherErrorText("EVP_CIPHER_CTX_set_padding"));
  }

  void Block(const std::uint8_t* In, std::uint8_t* Out) {
    int written = 0;
    if (EVP_CipherUpdate(FCipher.get(), Out, &written, In, static_cast<int>(kBlockSize)) != 1)
      throw Exception(CipherErrorText("EVP_CipherUpdate"));
    if (written != static_cast<int>(kBlockSize)) throw Exception(String(u"EVP_CipherUpdate returned a partial block"));
  }

 private:
  struct Free {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
  };
  std::unique_ptr<EVP_CIPHER_CTX, Free> FCipher;
};

Bytes AESEncode(ByteSpan Key, ByteSpan Source) {
  CheckAESKey(Key);
  if (Source.empty()) return {};
  try {
    // M, 0x80, then zeros up to a multiple of 16: always at least one byte added.
    WipedBytes padded((Source.size() / kBlockSize + 1) * kBlockSize);
    std::copy(Source.begin(), Source.end(), padded.data());
    padded.data()[Source.size()] = kPadMark;
    Bytes cipher(padded.size());
    AESBlockCipher aes(Key, true);
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
    AESBlockCipher aes(Key, false);
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
