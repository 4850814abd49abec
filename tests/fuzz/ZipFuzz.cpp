// Fuzz target: loads the directory of arbitrary bytes, extracts every entry
// it finds to a memory stream, then unpacks the whole archive into a scratch
// directory as the console tool does. Any crash, out-of-bounds access, leak
// or runaway allocation is a bug; engine errors are the expected answer to
// bad input. Checked besides: the unpacking writes nothing beside its
// destination, and an entry that fails leaves no file behind.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/Utf.h"
#include "tests/fuzz/FuzzInput.h"
#include "zip/ZipEngine.h"

namespace {

namespace fs = std::filesystem;

// One scratch directory per process: root/dest is the destination, and
// root must hold nothing else afterwards.
struct Scratch {
  fs::path root;
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "zo-zipfuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    root = pattern;
  }
  ~Scratch() {
    std::error_code error;
    fs::remove_all(root, error);
  }
};

const fs::path& ScratchRoot() {
  static const Scratch scratch;
  return scratch.root;
}

void EmptyScratch() {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(ScratchRoot(), error)) fs::remove_all(entry.path(), error);
}

void ExtractToStreams(zo::TZipEngine& engine) {
  using namespace zo;
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
}

void UnpackToDisk(zo::TZipEngine& engine) {
  using namespace zo;
  const fs::path dest = ScratchRoot() / "dest";
  engine.SetBaseDir(FromUtf8(dest.string()));
  int failed = 0;
  engine.OnProcessFileFailure = [&](TZEBaseArchiver&, const String&, TZEProcessOperation, int, int, const String&,
                                    TZEAction& action) {
    ++failed;
    action = fxaIgnore;
  };
  try {
    engine.ExtractFiles(u"*.*", 0x28BF, u"");
  } catch (const Exception&) {
    return;
  }
  fuzz::Check(engine.Unrestored().Count == failed, "every failed entry is counted as not restored");
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(ScratchRoot(), error)) {
    fuzz::Check(entry.path().filename() == "dest", "nothing is written beside the destination");
  }
  for (auto it = fs::recursive_directory_iterator(dest, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    fuzz::Check(!name.starts_with(".zo-") || !name.ends_with(".part"), "no partly written file is left");
    fuzz::Check(!it->is_symlink(), "extraction makes no links");
  }
}

}  // namespace

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
  ExtractToStreams(engine);
  UnpackToDisk(engine);
  EmptyScratch();
  return 0;
}
