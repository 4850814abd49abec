// Fuzz target: AES decoding of arbitrary bytes, as the upgrade tool decodes
// the stamp it reads from a database that anybody may have written. The
// first byte picks the key (16, 24 or 32 bytes taken from the input, the
// built-in key, or a key of a wrong length); the rest is the cipher text.
// Decoding must end in data or in an Exception, never in a crash; and
// encoding any data then decoding it must give the data back.
#include <cstddef>
#include <cstdint>

#include "core/Exception.h"
#include "crypt/CryptUtils.h"
#include "crypt/SystemKey.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zo;
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  ++data, --size;

  Bytes key(SystemKey.begin(), SystemKey.end());
  switch (mode % 5) {
    case 0: break;
    case 1:
    case 2:
    case 3: {
      const std::size_t length = 8 + 8 * (mode % 5);  // 16, 24, 32
      if (size < length) return 0;
      key.assign(data, data + length);
      data += length, size -= length;
      break;
    }
    default: key.resize(mode / 5 % 40); break;  // mostly wrong lengths
  }
  const std::span<const std::uint8_t> source(data, size);

  try {
    (void)AESDecode(source, key);
    (void)AESDecodeToText(source, key);
  } catch (const Exception&) {
  }
  try {
    (void)TCryptUtils::Decode(static_cast<TCryptAlgorithm>(mode % 3), key, source);
  } catch (const Exception&) {
  }

  // Any data survives encoding with a usable key.
  if (key.size() == 16 || key.size() == 24 || key.size() == 32) {
    const Bytes cipher = TCryptUtils::Encode(caAES, key, source);
    fuzz::Check(cipher.size() % 16 == 0, "cipher text is whole blocks");
    fuzz::Check(AESDecode(cipher, key) == Bytes(source.begin(), source.end()), "AES round trip");
  }
  return 0;
}
