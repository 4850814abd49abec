// The AES block function through CNG (bcrypt): the AES provider in ECB mode
// with a key object per cipher, and each block enciphered with no padding
// flag, so the library adds nothing of its own.
#include "crypt/AESBlock.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/Exception.h"
#include "platform/Utf.h"

namespace zo {

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

// The cause of a failed call: CNG answers with a status code alone.
[[noreturn]] void ThrowCipherError(const char* operation, NTSTATUS status) {
  char text[96];
  std::snprintf(text, sizeof text, "%s failed with status 0x%08lX", operation,
                static_cast<unsigned long>(static_cast<ULONG>(status)));
  throw Exception(FromUtf8(text));
}

}  // namespace

struct TAESBlockCipher::TState {
  BCRYPT_ALG_HANDLE Algorithm = nullptr;
  BCRYPT_KEY_HANDLE Key = nullptr;
  bool Encrypt = true;

  ~TState() {
    if (Key != nullptr) ::BCryptDestroyKey(Key);
    if (Algorithm != nullptr) ::BCryptCloseAlgorithmProvider(Algorithm, 0);
  }
};

TAESBlockCipher::TAESBlockCipher(std::span<const std::uint8_t> Key, bool Encrypt) : FState(new TState) {
  FState->Encrypt = Encrypt;
  NTSTATUS status = ::BCryptOpenAlgorithmProvider(&FState->Algorithm, BCRYPT_AES_ALGORITHM, nullptr, 0);
  if (!Succeeded(status)) ThrowCipherError("BCryptOpenAlgorithmProvider", status);
  // The property takes a writable buffer, so the mode name is copied first.
  std::wstring mode = BCRYPT_CHAIN_MODE_ECB;
  status = ::BCryptSetProperty(FState->Algorithm, BCRYPT_CHAINING_MODE, reinterpret_cast<PUCHAR>(mode.data()),
                               static_cast<ULONG>((mode.size() + 1) * sizeof(wchar_t)), 0);
  if (!Succeeded(status)) ThrowCipherError("BCryptSetProperty", status);
  // The library manages the key object's memory itself (no buffer given).
  std::vector<std::uint8_t> secret(Key.begin(), Key.end());
  status = ::BCryptGenerateSymmetricKey(FState->Algorithm, &FState->Key, nullptr, 0, secret.data(),
                                        static_cast<ULONG>(secret.size()), 0);
  WipeBytes(secret.data(), secret.size());
  if (!Succeeded(status)) ThrowCipherError("BCryptGenerateSymmetricKey", status);
}

TAESBlockCipher::~TAESBlockCipher() = default;

void TAESBlockCipher::Block(const std::uint8_t* In, std::uint8_t* Out) {
  // CNG takes the input as writable; the caller's block stays untouched.
  std::uint8_t in[kBlockSize];
  std::copy(In, In + kBlockSize, in);
  ULONG written = 0;
  const NTSTATUS status =
      FState->Encrypt
          ? ::BCryptEncrypt(FState->Key, in, kBlockSize, nullptr, nullptr, 0, Out, kBlockSize, &written, 0)
          : ::BCryptDecrypt(FState->Key, in, kBlockSize, nullptr, nullptr, 0, Out, kBlockSize, &written, 0);
  WipeBytes(in, sizeof in);
  if (!Succeeded(status)) ThrowCipherError(FState->Encrypt ? "BCryptEncrypt" : "BCryptDecrypt", status);
  if (written != kBlockSize) throw Exception(String(u"The cipher returned a partial block"));
}

void WipeBytes(void* Data, std::size_t Size) { ::SecureZeroMemory(Data, Size); }

}  // namespace zo
