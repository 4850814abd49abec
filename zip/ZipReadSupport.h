// Small pieces shared by the loading of a directory (zip/ZipLoad.cpp, with
// its recovery and overlap check), the search (zip/ZipSearch.cpp) and extraction
// (zip/ZipEntryData.cpp, zip/ZipExtract.cpp); implemented in
// zip/ZipReadSupport.cpp. Each one is careful with lengths that
// come from the archive: none reads past the bytes it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/String.h"
#include "zip/ZipDirectory.h"
#include "zip/ZipErrors.h"
#include "zip/ZipFormat.h"
#include "zip/ZipStreams.h"

namespace zo {

// Reads up to count bytes at position; returns how many were read (fewer
// at the end of the stream, 0 for a negative position).
std::int64_t ReadAt(TStream& stream, std::int64_t position, void* buffer, std::int64_t count);

// Cuts an extra field into (ID, size, data) blocks; a block whose size runs
// past the field is cut to what remains.
std::vector<TZEExtraFieldDataBlock> ParseExtraFields(const std::uint8_t* data, std::size_t size);

// Takes the real values from a Zip64 extra block for the fields of item that
// hold the marker, in the order uncompressed size, compressed size, local
// header offset, disk number, as long as bytes remain; marks item bHugeFile.
// False when the block ends before a marked size or offset.
bool ApplyZip64Extra(TDirItem& item, const TZEExtraFieldDataBlock& block);

// The name carried by a UTF-16 name block ("NUCX", a 32-bit count, that many
// UTF-16 units); nothing when the block is not one or is too short.
std::optional<String> UnicodeNameOf(const TZEExtraFieldDataBlock& block);

// The local header at position, or nothing when the stream holds no local
// header signature and 30 bytes there.
std::optional<TZELocalFileHeader> ReadLocalHeader(TStream& stream, std::int64_t position);

// Whether an entry name could reach outside the directory it is extracted
// into: after turning '\' into '/', it is absolute, carries a drive letter,
// opens with "//", or has a ".." element. Such entries are never extracted.
bool IsUnsafeEntryName(StringView name);

// Whether a search mask holds a wildcard ('*' or '?').
bool HasWildcards(StringView mask);

}  // namespace zo
