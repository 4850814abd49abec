// The AES block function through OpenSSL: ECB with padding switched off, fed
// one block per call, so the library adds nothing of its own.
#include "crypt/AESBlock.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <string>

#include "core/Exception.h"
#include "platform/Utf.h"

namespace zo {

namespace {

// The cause of a failed call, with the library's reason when it gives one.
[[noreturn]] void ThrowCipherError(const char* operation) {
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
  throw Exception(FromUtf8(text));
}

const EVP_CIPHER* AESCipherFor(std::size_t keyLength) {
  switch (keyLength) {
    case 16: return EVP_aes_128_ecb();
    case 24: return EVP_aes_192_ecb();
    default: return EVP_aes_256_ecb();
  }
}

}  // namespace

struct TAESBlockCipher::TState {
  struct Free {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
  };
  std::unique_ptr<EVP_CIPHER_CTX, Free> Cipher{EVP_CIPHER_CTX_new()};
};

TAESBlockCipher::TAESBlockCipher(std::span<const std::uint8_t> Key, bool Encrypt) : FState(new TState) {
  EVP_CIPHER_CTX* cipher = FState->Cipher.get();
  if (cipher == nullptr) ThrowCipherError("EVP_CIPHER_CTX_new");
  if (EVP_CipherInit_ex(cipher, AESCipherFor(Key.size()), nullptr, Key.data(), nullptr, Encrypt ? 1 : 0) != 1)
    ThrowCipherError("EVP_CipherInit_ex");
  if (EVP_CIPHER_CTX_set_padding(cipher, 0) != 1) ThrowCipherError("EVP_CIPHER_CTX_set_padding");
}

TAESBlockCipher::~TAESBlockCipher() = default;

void TAESBlockCipher::Block(const std::uint8_t* In, std::uint8_t* Out) {
  int written = 0;
  if (EVP_CipherUpdate(FState->Cipher.get(), Out, &written, In, static_cast<int>(kBlockSize)) != 1)
    ThrowCipherError("EVP_CipherUpdate");
  if (written != static_cast<int>(kBlockSize)) throw Exception(String(u"EVP_CipherUpdate returned a partial block"));
}

void WipeBytes(void* Data, std::size_t Size) { OPENSSL_cleanse(Data, Size); }

}  // namespace zo
