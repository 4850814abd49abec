#include "zip/ZipFormat.h"

#include <algorithm>

#include "zip/WholeBufferCodec.h"

namespace zo {

void TZEZipCentralDir::Read(const std::uint8_t* p) {
  signature = GetLE32(p);
  versionMadeBy = GetLE16(p + 4);
  extractVersion = GetLE16(p + 6);
  genPurposeFlag = GetLE16(p + 8);
  compMethod = GetLE16(p + 10);
  lastModTime = GetLE16(p + 12);
  lastModDate = GetLE16(p + 14);
  crc32 = GetLE32(p + 16);
  compSize = GetLE32(p + 20);
  unCompSize = GetLE32(p + 24);
  nameLength = GetLE16(p + 28);
  extraLength = GetLE16(p + 30);
  commentLength = GetLE16(p + 32);
  diskNumberStart = GetLE16(p + 34);
  internalAttr = GetLE16(p + 36);
  externalAttr = GetLE32(p + 38);
  relOffsetLH = GetLE32(p + 42);
}

void TZEZipCentralDir::Write(std::uint8_t* p) const {
  PutLE32(p, signature);
  PutLE16(p + 4, versionMadeBy);
  PutLE16(p + 6, extractVersion);
  PutLE16(p + 8, genPurposeFlag);
  PutLE16(p + 10, compMethod);
  PutLE16(p + 12, lastModTime);
  PutLE16(p + 14, lastModDate);
  PutLE32(p + 16, crc32);
  PutLE32(p + 20, compSize);
  PutLE32(p + 24, unCompSize);
  PutLE16(p + 28, nameLength);
  PutLE16(p + 30, extraLength);
  PutLE16(p + 32, commentLength);
  PutLE16(p + 34, diskNumberStart);
  PutLE16(p + 36, internalAttr);
  PutLE32(p + 38, externalAttr);
  PutLE32(p + 42, relOffsetLH);
}

void TZELocalFileHeader::Read(const std::uint8_t* p) {
  signature = GetLE32(p);
  extractVersion = GetLE16(p + 4);
  genPurposeFlag = GetLE16(p + 6);
  compMethod = GetLE16(p + 8);
  lastModTime = GetLE16(p + 10);
  lastModDate = GetLE16(p + 12);
  crc32 = GetLE32(p + 14);
  compSize = GetLE32(p + 18);
  unCompSize = GetLE32(p + 22);
  nameLength = GetLE16(p + 26);
  extraLength = GetLE16(p + 28);
}

void TZELocalFileHeader::Write(std::uint8_t* p) const {
  PutLE32(p, signature);
  PutLE16(p + 4, extractVersion);
  PutLE16(p + 6, genPurposeFlag);
  PutLE16(p + 8, compMethod);
  PutLE16(p + 10, lastModTime);
  PutLE16(p + 12, lastModDate);
  PutLE32(p + 14, crc32);
  PutLE32(p + 18, compSize);
  PutLE32(p + 22, unCompSize);
  PutLE16(p + 26, nameLength);
  PutLE16(p + 28, extraLength);
}

void TZEZipCentralDirEnd::Read(const std::uint8_t* p) {
  signature = GetLE32(p);
  diskNumber = GetLE16(p + 4);
  startDiskNumber = GetLE16(p + 6);
  entriesOnDisk = GetLE16(p + 8);
  entriesCentralDir = GetLE16(p + 10);
  centralDirSize = GetLE32(p + 12);
  offsetStartDir = GetLE32(p + 16);
  commentLength = GetLE16(p + 20);
}

void TZEZipCentralDirEnd::Write(std::uint8_t* p) const {
  PutLE32(p, signature);
  PutLE16(p + 4, diskNumber);
  PutLE16(p + 6, startDiskNumber);
  PutLE16(p + 8, entriesOnDisk);
  PutLE16(p + 10, entriesCentralDir);
  PutLE32(p + 12, centralDirSize);
  PutLE32(p + 16, offsetStartDir);
  PutLE16(p + 20, commentLength);
}

void TZEZip64CentralDirEnd::Read(const std::uint8_t* p) {
  signature = GetLE32(p);
  centralDirEndSize = GetLE64(p + 4);
  versionMadeBy = GetLE16(p + 12);
  versionNeededToExtract = GetLE16(p + 14);
  diskNumber = GetLE32(p + 16);
  startDiskNumber = GetLE32(p + 20);
  entriesOnDisk = GetLE64(p + 24);
  entriesCentralDir = GetLE64(p + 32);
  centralDirSize = GetLE64(p + 40);
  offsetStartDir = GetLE64(p + 48);
}

void TZEZip64CentralDirEnd::Write(std::uint8_t* p) const {
  PutLE32(p, signature);
  PutLE64(p + 4, centralDirEndSize);
  PutLE16(p + 12, versionMadeBy);
  PutLE16(p + 14, versionNeededToExtract);
  PutLE32(p + 16, diskNumber);
  PutLE32(p + 20, startDiskNumber);
  PutLE64(p + 24, entriesOnDisk);
  PutLE64(p + 32, entriesCentralDir);
  PutLE64(p + 40, centralDirSize);
  PutLE64(p + 48, offsetStartDir);
}

void TZEZip64CentralDirEndLocator::Read(const std::uint8_t* p) {
  signature = GetLE32(p);
  startDiskNumber = GetLE32(p + 4);
  offsetStartDirEnd = GetLE64(p + 8);
  totalNumberOfDisks = GetLE32(p + 16);
}

void TZEZip64CentralDirEndLocator::Write(std::uint8_t* p) const {
  PutLE32(p, signature);
  PutLE32(p + 4, startDiskNumber);
  PutLE64(p + 8, offsetStartDirEnd);
  PutLE32(p + 16, totalNumberOfDisks);
}

std::uint32_t UpdateCrc32(std::uint32_t crc, const void* data, std::size_t size) {
  return WholeBufferCrc32(crc, data, size);
}

std::uint32_t LocalTimeToDos(const TLocalTime& time) {
  TLocalTime t = time;
  if (t.Year < 1980) t = TLocalTime{1980, 1, 1, 0, 0, 0, 0};
  if (t.Year > 2107) t = TLocalTime{2107, 12, 31, 23, 59, 58, 0};
  const auto date = static_cast<std::uint32_t>((t.Year - 1980) << 9 | t.Month << 5 | t.Day);
  const auto clock = static_cast<std::uint32_t>(t.Hour << 11 | t.Minute << 5 | t.Second / 2);
  return date << 16 | (clock & 0xFFFF);
}

TLocalTime DosToLocalTime(std::uint32_t stamp) {
  const std::uint32_t date = stamp >> 16;
  const std::uint32_t clock = stamp & 0xFFFF;
  TLocalTime t;
  t.Year = static_cast<int>(date >> 9) + 1980;
  t.Month = std::clamp(static_cast<int>((date >> 5) & 0x0F), 1, 12);
  t.Day = std::clamp(static_cast<int>(date & 0x1F), 1, 31);
  while (!IsValidDate(t.Year, t.Month, t.Day)) --t.Day;
  t.Hour = std::min(static_cast<int>(clock >> 11), 23);
  t.Minute = std::min(static_cast<int>((clock >> 5) & 0x3F), 59);
  t.Second = std::min(static_cast<int>(clock & 0x1F) * 2, 59);
  return t;
}

std::uint32_t DateTimeToDosStamp(TDateTime value) {
  TLocalTime t;
  DecodeDateTime(value, t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second, t.Millisecond);
  return LocalTimeToDos(t);
}

TDateTime DosStampToDateTime(std::uint32_t stamp) {
  const TLocalTime t = DosToLocalTime(stamp);
  return EncodeDateTime(t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second, 0);
}

}  // namespace zo
