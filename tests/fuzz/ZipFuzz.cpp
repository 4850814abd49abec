// Fuzz target: loads the directory of arbitrary bytes and extracts every
// entry it finds to a memory stream. Any crash, out-of-bounds access, leak
// or runaway allocation is a bug; engine errors are the expected answer to
// bad input.
#include <cstddef>
#include <cstdint>

#include "zip/ZipEngine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zo;
  TMemoryStream archive;
  archive.WriteBuffer(data, static_cast<std::int64_t>(size));
  archive.SetPosition(0);
  TZipEngine engine;
  try {
    engine.OpenArchive(archive, false);
  } catch (const Exception&) {
    return 0;
  }
  TZEArchiveItem item;
  try {
    for (bool ok = engine.FindFirst(u"*.*", item, u"", 0x1FF); ok; ok = engine.FindNext(item)) {
      TMemoryStream out;
      try {
        engine.ExtractToStream(item.StoredPath + item.FileName, out);
      } catch (const Exception&) {
      }
    }
  } catch (const Exception&) {
  }
  return 0;
}
