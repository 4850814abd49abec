// A small archive builder for reading tests: lays out local headers, data,
// central directory and end record byte by byte, so tests can build exactly
// the damaged, hostile or unusual archives they need.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/String.h"

namespace zo::test {

struct TestEntry {
  std::string name;               // raw name bytes
  std::string data;               // uncompressed content
  std::uint16_t method = 8;       // 0 stored, 8 deflate, anything else as given
  std::uint16_t flags = 0;
  std::uint16_t dosTime = 0x6000; // 12:00:00
  std::uint16_t dosDate = 0x5821; // 2024-01-01
  std::uint32_t externalAttr = 0x20;
  std::string centralExtra;       // raw extra field of the central header
  std::string comment;
  bool badCrc = false;            // store a wrong CRC
  bool dataDescriptor = false;    // sizes and CRC after the data (flag bit 3)
};

struct TestArchiveOptions {
  std::string stub;               // bytes in front; offsets stay relative to the archive
  std::string comment;
  bool withCentralDirectory = true;
};

inline void PutLE(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

inline std::string RawDeflate(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline std::uint32_t Crc(const std::string& data) {
  return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// A local header alone, name included, with the fields as given: what
// streaming writers leave when flag bit 3 is set (zeros for CRC and sizes),
// or a header whose sizes say what the test needs.
inline std::string LocalHeader(const std::string& name, std::uint16_t method, std::uint16_t flags, std::uint32_t crc,
                               std::uint32_t compressed, std::uint32_t uncompressed) {
  std::string h;
  PutLE(h, 0x04034B50, 4);
  PutLE(h, 20, 2);
  PutLE(h, flags, 2);
  PutLE(h, method, 2);
  PutLE(h, 0x6000, 2);
  PutLE(h, 0x5821, 2);
  PutLE(h, crc, 4);
  PutLE(h, compressed, 4);
  PutLE(h, uncompressed, 4);
  PutLE(h, name.size(), 2);
  PutLE(h, 0, 2);
  return h + name;
}

// A data descriptor: with its optional signature or without.
inline std::string DataDescriptor(std::uint32_t crc, std::uint32_t compressed, std::uint32_t uncompressed,
                                  bool signature = true) {
  std::string d;
  if (signature) PutLE(d, 0x08074B50, 4);
  PutLE(d, crc, 4);
  PutLE(d, compressed, 4);
  PutLE(d, uncompressed, 4);
  return d;
}

// What ends a Zip64 archive, to be placed at recordAt: the Zip64 end record
// (count entries, a directory of centralSize bytes at centralOffset), its
// locator pointing at locatorTarget (recordAt when 0), and a classic end
// record whose fields all say "see Zip64".
inline std::string Zip64End(std::uint64_t recordAt, std::uint64_t count, std::uint64_t centralSize,
                            std::uint64_t centralOffset, std::uint64_t locatorTarget = 0) {
  std::string a;
  PutLE(a, 0x06064B50, 4);
  PutLE(a, 44, 8);
  PutLE(a, 45, 2);
  PutLE(a, 45, 2);
  PutLE(a, 0, 8);
  PutLE(a, count, 8);
  PutLE(a, count, 8);
  PutLE(a, centralSize, 8);
  PutLE(a, centralOffset, 8);
  PutLE(a, 0x07064B50, 4);
  PutLE(a, 0, 4);
  PutLE(a, locatorTarget == 0 ? recordAt : locatorTarget, 8);
  PutLE(a, 1, 4);
  PutLE(a, 0x06054B50, 4);
  PutLE(a, 0, 4);
  PutLE(a, 0xFFFF, 2);
  PutLE(a, 0xFFFF, 2);
  PutLE(a, 0xFFFFFFFF, 4);
  PutLE(a, 0xFFFFFFFF, 4);
  PutLE(a, 0, 2);
  return a;
}

// The archive's bytes; offsets of the central directory are those of an
// archive starting at 0, whatever the stub.
inline std::string BuildArchive(const std::vector<TestEntry>& entries, const TestArchiveOptions& options = {}) {
  std::string body;
  std::string central;
  for (const TestEntry& e : entries) {
    const std::string packed = e.method == 8 ? RawDeflate(e.data) : e.data;
    const std::uint32_t crc = Crc(e.data) ^ (e.badCrc ? 0x5A5A5A5Au : 0u);
    const std::uint16_t flags = static_cast<std::uint16_t>(e.flags | (e.dataDescriptor ? 8 : 0));
    const std::uint64_t offset = body.size();
    auto header = [&](std::string& out, bool local) {
      PutLE(out, local ? 0x04034B50 : 0x02014B50, 4);
      if (!local) PutLE(out, 20, 2);
      PutLE(out, 20, 2);
      PutLE(out, flags, 2);
      PutLE(out, e.method, 2);
      PutLE(out, e.dosTime, 2);
      PutLE(out, e.dosDate, 2);
      const bool hide = local && e.dataDescriptor;
      PutLE(out, hide ? 0 : crc, 4);
      PutLE(out, hide ? 0 : packed.size(), 4);
      PutLE(out, hide ? 0 : e.data.size(), 4);
      PutLE(out, e.name.size(), 2);
      PutLE(out, local ? 0 : e.centralExtra.size(), 2);
      if (!local) {
        PutLE(out, e.comment.size(), 2);
        PutLE(out, 0, 2);
        PutLE(out, 0, 2);
        PutLE(out, e.externalAttr, 4);
        PutLE(out, offset, 4);
      }
      out += e.name;
      if (!local) out += e.centralExtra + e.comment;
    };
    header(body, true);
    body += packed;
    if (e.dataDescriptor) body += DataDescriptor(crc, packed.size(), e.data.size());
    header(central, false);
  }
  std::string archive = options.stub + body;
  if (options.withCentralDirectory) {
    archive += central;
    PutLE(archive, 0x06054B50, 4);
    PutLE(archive, 0, 4);
    PutLE(archive, entries.size(), 2);
    PutLE(archive, entries.size(), 2);
    PutLE(archive, central.size(), 4);
    PutLE(archive, body.size(), 4);
    PutLE(archive, options.comment.size(), 2);
    archive += options.comment;
  }
  return archive;
}

}  // namespace zo::test
