// Byte layouts of the ZIP records the engine reads and writes, and the
// little-endian helpers that move them between memory and byte buffers.
//
// Every integer in a ZIP archive is little-endian. Records are kept as plain
// structs with the same field order as on disk; Read/Write convert a whole
// record at once, so no code depends on the compiler's struct layout.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/DateTime.h"
#include "core/String.h"
#include "platform/FileSystem.h"

namespace zo {

// --- Signatures and sizes ------------------------------------------------------
inline constexpr std::uint32_t kZipLocalHeaderSignature = 0x04034B50;       // "PK\3\4"
inline constexpr std::uint32_t kZipCentralHeaderSignature = 0x02014B50;     // "PK\1\2"
inline constexpr std::uint32_t kZipEndRecordSignature = 0x06054B50;         // "PK\5\6"
inline constexpr std::uint32_t kZip64EndRecordSignature = 0x06064B50;       // "PK\6\6"
inline constexpr std::uint32_t kZip64EndLocatorSignature = 0x07064B50;      // "PK\6\7"
inline constexpr std::uint32_t kZipDataDescriptorSignature = 0x08074B50;    // "PK\7\8"

inline constexpr std::size_t kZipLocalHeaderSize = 30;
inline constexpr std::size_t kZipCentralHeaderSize = 46;
inline constexpr std::size_t kZipEndRecordSize = 22;
inline constexpr std::size_t kZip64EndRecordSize = 56;
inline constexpr std::size_t kZip64EndLocatorSize = 20;

inline constexpr std::uint16_t kZip64ExtraId = 0x0001;
inline constexpr std::uint16_t kUnicodeNameExtraId = 0x554E;  // data starts with "NUCX"
inline constexpr std::uint16_t kUnicodePathExtraId = 0x7075;  // version 1, CRC-32 of the name, UTF-8 name
// The local header's Zip64 extra: id, size 16, uncompressed and compressed size.
inline constexpr std::uint16_t kZip64LocalExtraSize = 20;

// A 32-bit size or offset field that holds this value has its real value in
// the Zip64 extra field; 16-bit counts use 0xFFFF the same way.
inline constexpr std::uint32_t kZip64Marker32 = 0xFFFFFFFF;
inline constexpr std::uint16_t kZip64Marker16 = 0xFFFF;

inline constexpr std::uint16_t kZipMethodStored = 0;
inline constexpr std::uint16_t kZipMethodDeflate = 8;
inline constexpr std::uint16_t kZipMethodDeflate64 = 9;

inline constexpr std::uint16_t kZipVersion20 = 20;
inline constexpr std::uint16_t kZipVersionZip64 = 45;
// Version made by when names are not stored in the OEM code page.
inline constexpr std::uint16_t kZipVersionAnsiNames = 0x0B14;

inline constexpr std::uint16_t kZipFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kZipFlagDirectory = 0x0002;   // what this engine writes for directories
inline constexpr std::uint16_t kZipFlagDataDescriptor = 0x0008;
inline constexpr std::uint16_t kZipFlagUtf8 = 0x0800;

// --- Little-endian access --------------------------------------------------------
inline std::uint16_t GetLE16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetLE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t GetLE64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(GetLE32(p)) | (static_cast<std::uint64_t>(GetLE32(p + 4)) << 32);
}
inline void PutLE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutLE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutLE64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// --- Records ---------------------------------------------------------------------

// Central directory header, 46 bytes; also the head of every TDirItem.
struct TZEZipCentralDir {
  std::uint32_t signature = kZipCentralHeaderSignature;
  std::uint16_t versionMadeBy = 0;
  std::uint16_t extractVersion = 0;
  std::uint16_t genPurposeFlag = 0;
  std::uint16_t compMethod = 0;
  std::uint16_t lastModTime = 0;
  std::uint16_t lastModDate = 0;
  std::uint32_t crc32 = 0;
  std::uint32_t compSize = 0;
  std::uint32_t unCompSize = 0;
  std::uint16_t nameLength = 0;
  std::uint16_t extraLength = 0;
  std::uint16_t commentLength = 0;
  std::uint16_t diskNumberStart = 0;
  std::uint16_t internalAttr = 0;
  std::uint32_t externalAttr = 0;
  std::uint32_t relOffsetLH = 0;

  void Read(const std::uint8_t* p);        // p: kZipCentralHeaderSize bytes
  void Write(std::uint8_t* p) const;
};

// Local file header, 30 bytes, followed by name and extra field.
struct TZELocalFileHeader {
  std::uint32_t signature = kZipLocalHeaderSignature;
  std::uint16_t extractVersion = 0;
  std::uint16_t genPurposeFlag = 0;
  std::uint16_t compMethod = 0;
  std::uint16_t lastModTime = 0;
  std::uint16_t lastModDate = 0;
  std::uint32_t crc32 = 0;
  std::uint32_t compSize = 0;
  std::uint32_t unCompSize = 0;
  std::uint16_t nameLength = 0;
  std::uint16_t extraLength = 0;

  void Read(const std::uint8_t* p);        // p: kZipLocalHeaderSize bytes
  void Write(std::uint8_t* p) const;
};

// End of central directory record, 22 bytes, followed by the archive comment.
struct TZEZipCentralDirEnd {
  std::uint32_t signature = kZipEndRecordSignature;
  std::uint16_t diskNumber = 0;
  std::uint16_t startDiskNumber = 0;
  std::uint16_t entriesOnDisk = 0;
  std::uint16_t entriesCentralDir = 0;
  std::uint32_t centralDirSize = 0;
  std::uint32_t offsetStartDir = 0;
  std::uint16_t commentLength = 0;

  void Read(const std::uint8_t* p);        // p: kZipEndRecordSize bytes
  void Write(std::uint8_t* p) const;
};

// Zip64 end of central directory record, 56 bytes.
struct TZEZip64CentralDirEnd {
  std::uint32_t signature = kZip64EndRecordSignature;
  std::uint64_t centralDirEndSize = 44;
  std::uint16_t versionMadeBy = kZipVersionZip64;
  std::uint16_t versionNeededToExtract = kZipVersionZip64;
  std::uint32_t diskNumber = 0;
  std::uint32_t startDiskNumber = 0;
  std::uint64_t entriesOnDisk = 0;
  std::uint64_t entriesCentralDir = 0;
  std::uint64_t centralDirSize = 0;
  std::uint64_t offsetStartDir = 0;

  void Read(const std::uint8_t* p);        // p: kZip64EndRecordSize bytes
  void Write(std::uint8_t* p) const;
};

// Zip64 end of central directory locator, 20 bytes.
struct TZEZip64CentralDirEndLocator {
  std::uint32_t signature = kZip64EndLocatorSignature;
  std::uint32_t startDiskNumber = 0;
  std::uint64_t offsetStartDirEnd = 0;
  std::uint32_t totalNumberOfDisks = 1;

  void Read(const std::uint8_t* p);        // p: kZip64EndLocatorSize bytes
  void Write(std::uint8_t* p) const;
};

// --- CRC-32 and DOS stamps ----------------------------------------------------------

// CRC-32 of ISO 3309 (reflected, polynomial 0xEDB88320, pre and post XOR
// 0xFFFFFFFF); start with crc = 0 and feed the data piece by piece.
std::uint32_t UpdateCrc32(std::uint32_t crc, const void* data, std::size_t size);

// DOS stamps, the entries' times: date in the high 16 bits (years since 1980
// << 9 | month << 5 | day), time in the low 16 bits (hour << 11 | minute << 5
// | second / 2), local time. Times before 1980 become 1980-01-01 00:00:00,
// times after 2107 2107-12-31 23:59:58.
std::uint32_t LocalTimeToDos(const TLocalTime& time);
// A damaged stamp is brought into range rather than refused, so that a
// listing never fails over a time field and a file time can always be set:
// month and day at least 1, the day at most the month's last (31 February is
// the 28th or 29th), hour, minute and second at most 23, 59 and 59.
TLocalTime DosToLocalTime(std::uint32_t stamp);
// The same for date-time values.
std::uint32_t DateTimeToDosStamp(TDateTime value);
TDateTime DosStampToDateTime(std::uint32_t stamp);

}  // namespace zo
