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
    if (e.dataDescriptor) {
      PutLE(body, 0x08074B50, 4);
      PutLE(body, crc, 4);
      PutLE(body, packed.size(), 4);
      PutLE(body, e.data.size(), 4);
    }
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
