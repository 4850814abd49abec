#include "crypt/CryptUtils.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/EException.h"
#include "core/Exception.h"
#include "core/StringUtils.h"
#include "crypt/AESBlock.h"
#include "crypt/SystemKey.h"
#include "platform/Utf.h"
#include "tests/MessageOf.h"

namespace zo {
namespace {

Bytes Hex(std::string_view hex) {
  Bytes bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  return bytes;
}

Bytes Concat(const Bytes& a, const Bytes& b) {
  Bytes r = a;
  r.insert(r.end(), b.begin(), b.end());
  return r;
}

Bytes BlockAt(const Bytes& bytes, size_t index) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(16 * index), bytes.begin() + static_cast<std::ptrdiff_t>(16 * index + 16));
}

// The bare block function of the system's library (the seam under the
// codec), as the reference the codec's blocks are checked against; the
// known answers below pin the seam itself.
Bytes RawBlock(const Bytes& key, const Bytes& block, bool encrypt) {
  TAESBlockCipher cipher(key, encrypt);
  Bytes out(16);
  cipher.Block(block.data(), out.data());
  return out;
}

Bytes PadBlock() {
  Bytes pad(16, 0);
  pad[0] = 0x80;
  return pad;
}

Bytes KeyOf(size_t size) {
  Bytes key(size);
  for (size_t i = 0; i < size; ++i) key[i] = static_cast<std::uint8_t>(0xA5 ^ (i * 7));
  return key;
}

struct KnownAnswer {
  const char* name;
  Bytes key;
  Bytes plain;
  Bytes cipher;
};

const std::vector<KnownAnswer>& KnownAnswers() {
  static const std::vector<KnownAnswer> vectors = {
      {"AES-128 (C.1)", Hex("000102030405060708090a0b0c0d0e0f"), Hex("00112233445566778899aabbccddeeff"),
       Hex("69c4e0d86a7b0430d8cdb78070b4c55a")},
      {"AES-192 (C.2)", Hex("000102030405060708090a0b0c0d0e0f1011121314151617"), Hex("00112233445566778899aabbccddeeff"),
       Hex("dda97ca4864cdfe06eaf70a0ec0d7191")},
      {"AES-256 (C.3)", Hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"),
       Hex("00112233445566778899aabbccddeeff"), Hex("8ea2b7ca516745bfeafc49904b496089")},
      {"AES-128 (B)", Hex("2b7e151628aed2a6abf7158809cf4f3c"), Hex("3243f6a8885a308d313198a2e0370734"),
       Hex("3925841d02dc09fbdc118597196a0b32")},
  };
  return vectors;
}

TEST(AESCodec, KnownAnswersHoldBlockByBlock) {
  for (const KnownAnswer& v : KnownAnswers()) {
    SCOPED_TRACE(v.name);
    // A whole block of plaintext gains a whole padding block.
    const Bytes one = TCryptUtils::Encode(caAES, v.key, v.plain);
    ASSERT_EQ(one.size(), 32u);
    EXPECT_EQ(BlockAt(one, 0), v.cipher);
    EXPECT_EQ(RawBlock(v.key, BlockAt(one, 1), false), PadBlock());

    // Each block on its own: equal plaintext blocks give equal cipher blocks.
    const Bytes two = TCryptUtils::Encode(caAES, v.key, Concat(v.plain, v.plain));
    ASSERT_EQ(two.size(), 48u);
    EXPECT_EQ(BlockAt(two, 0), v.cipher);
    EXPECT_EQ(BlockAt(two, 1), v.cipher);
    EXPECT_EQ(BlockAt(two, 2), BlockAt(one, 1));

    // Deciphering: none of these plaintexts holds 0x80, so a last block of
    // the known cipher block contributes nothing.
    EXPECT_EQ(TCryptUtils::Decode(caAES, v.key, Concat(v.cipher, v.cipher)), v.plain);
    EXPECT_EQ(TCryptUtils::Decode(caAES, v.key, v.cipher), Bytes());
    EXPECT_EQ(TCryptUtils::Decode(caAES, v.key, one), v.plain);
  }
}

TEST(AESCodec, RoundTripsEveryLengthAndPaddingMarksInTheData) {
  std::vector<Bytes> plaintexts;
  for (size_t n = 0; n <= 40; ++n) {
    Bytes p(n);
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(0x41 + i * 13);  // passes 0x80 at i = 3
    plaintexts.push_back(p);
    plaintexts.push_back(Bytes(n, 0x80));
    plaintexts.push_back(Bytes(n, 0x00));
  }
  plaintexts.push_back({'a', 'b', 0x80, 0x00, 0x00});  // looks like padding itself
  plaintexts.push_back(Concat(Bytes(15, 'x'), {0x80}));
  plaintexts.push_back(Concat(Bytes(16, 'x'), {0x80, 0x00}));
  for (size_t keySize : {16u, 24u, 32u}) {
    const Bytes key = KeyOf(keySize);
    for (const Bytes& p : plaintexts) {
      const Bytes c = TCryptUtils::Encode(caAES, key, p);
      EXPECT_EQ(c.size(), p.empty() ? 0 : (p.size() / 16 + 1) * 16) << p.size();
      EXPECT_EQ(TCryptUtils::Decode(caAES, key, c), p) << "key " << keySize << ", length " << p.size();
      EXPECT_EQ(AESDecode(c, key), p);
    }
  }
}

TEST(AESCodec, UnpaddingIsLenient) {
  const Bytes key = KeyOf(32);
  const Bytes first = RawBlock(key, Bytes(16, 'A'), true);
  struct Case {
    const char* what;
    Bytes lastPlainBlock;
    Bytes expected;  // after the first block's 16 'A'
  };
  const std::vector<Case> cases = {
      {"the last 0x80 ends the data; nothing after it is checked",
       {'a', 'b', 'c', 0x80, 'x', 0x80, 'y', 'z', 1, 2, 3, 4, 5, 6, 7, 8},
       {'a', 'b', 'c', 0x80, 'x'}},
      {"a mark at index 0", PadBlock(), {}},
      {"a mark at index 15", Concat(Bytes(15, 'q'), {0x80}), Bytes(15, 'q')},
      {"no mark at all: the block is dropped without an error", Bytes(16, 'z'), {}},
  };
  for (const Case& c : cases) {
    const Bytes cipher = Concat(first, RawBlock(key, c.lastPlainBlock, true));
    EXPECT_EQ(TCryptUtils::Decode(caAES, key, cipher), Concat(Bytes(16, 'A'), c.expected)) << c.what;
  }
  // A wrong key garbles rather than fails.
  const Bytes stored = TCryptUtils::Encode(caAES, key, Bytes{'1', '.', '0'});
  EXPECT_NE(TCryptUtils::Decode(caAES, KeyOf(16), stored), (Bytes{'1', '.', '0'}));
}

TEST(AESCodec, KeyLengthIsCheckedFirstAndNotWrapped) {
  const String message = u"Invalid key length - must be 16, 24 or 32 bytes (128, 192, 256 bites).";
  const std::vector<std::function<Bytes(const Bytes&)>> calls = {
      [](const Bytes& key) { return TCryptUtils::Encode(caAES, key, Bytes{}); },
      [](const Bytes& key) { return TCryptUtils::Encode(caAES, key, Bytes{1, 2, 3}); },
      [](const Bytes& key) { return TCryptUtils::Decode(caAES, key, Bytes{}); },
      [](const Bytes& key) { return TCryptUtils::Decode(caAES, key, Bytes(20)); },
      [](const Bytes& key) { return AESDecode(Bytes(16), key); },
  };
  // A wrapped error would compose to more than the message itself.
  for (size_t size : {0u, 1u, 15u, 17u, 31u, 33u, 64u}) {
    for (const auto& call : calls) EXPECT_EQ(test::MessageOf([&] { call(KeyOf(size)); }), message) << size;
  }
  EXPECT_EQ(TCryptUtils::Decode(caAES, KeyOf(24), Bytes{}), Bytes());
  EXPECT_EQ(TCryptUtils::Encode(caAES, KeyOf(24), Bytes{}), Bytes());
}

void ExpectWrapped(const std::function<void()>& call, const String& main, const std::vector<String>& detail) {
  const std::optional<EException> e = test::ErrorOf<EException>(call);
  ASSERT_TRUE(e) << "no error";
  EXPECT_EQ(e->Prefix(), pDefault);
  EXPECT_EQ(e->MsgID(), u"");
  EXPECT_EQ(e->MainMSG(), main);
  EXPECT_EQ(e->DetailMSG(), detail);
}

TEST(AESCodec, CiphertextOfAPartialBlockFails) {
  for (size_t size : {1u, 15u, 17u, 20u, 47u}) {
    ExpectWrapped([&] { TCryptUtils::Decode(caAES, KeyOf(16), Bytes(size, 7)); }, u"AES decryption failed.",
                  {u"Invalid ciphertext - block padding is corrupted."});
  }
}

TEST(CryptUtils, AlgorithmsNotBuiltFailNamingThemselves) {
  const Bytes key = KeyOf(16);
  ExpectWrapped([&] { TCryptUtils::Encode(caRC6, key, Bytes{1}); }, u"RC6 encryption failed.",
                {u"The RC6 cipher is not available in this program."});
  ExpectWrapped([&] { TCryptUtils::Decode(caRC6, Bytes{}, Bytes{}); }, u"RC6 decryption failed.",
                {u"The RC6 cipher is not available in this program."});
  ExpectWrapped([&] { TCryptUtils::Encode(caRSA, key, Bytes{}); }, u"RSA encryption failed.",
                {u"The RSA cipher is not available in this program."});
  ExpectWrapped([&] { TCryptUtils::Decode(caRSA, key, Bytes{1}); }, u"RSA decryption failed.",
                {u"The RSA cipher is not available in this program."});
  EXPECT_EQ(test::MessageOf([&] { TCryptUtils::Decode(static_cast<TCryptAlgorithm>(7), key, Bytes{}); }),
            u"Unknown cipher algorithm (7).");
}

TEST(AESDecodeToText, ReadsUtf16LittleEndian) {
  const Bytes key = KeyOf(32);
  struct Case {
    Bytes plain;
    String text;
  };
  const std::vector<Case> cases = {
      {{'A', 0, 'B', 0, 'C', 0, 'D'}, u"ABC"},  // an odd last byte is dropped
      {{}, u""},
      {{0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE}, u"\u20AC\U0001F600"},
  };
  for (const Case& c : cases) EXPECT_EQ(AESDecodeToText(TCryptUtils::Encode(caAES, key, c.plain), key), c.text);
}

TEST(SystemEncode, UsesTheSystemKeyAfterAPause) {
  // A version stamp as stored: "1.2.3,0" in UTF-16 little-endian.
  const Bytes stamp = Utf16LEBytes(u"1.2.3,0");
  const auto start = std::chrono::steady_clock::now();
  const Bytes stored = TCryptUtils::SystemEncode(stamp);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_EQ(stored, TCryptUtils::Encode(caAES, SystemKey, stamp));
  EXPECT_EQ(AESDecodeToText(stored, SystemKey), u"1.2.3,0");
  EXPECT_EQ(SystemKey.size(), 32u);
}

}  // namespace
}  // namespace zo
