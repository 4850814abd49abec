// Peak memory of packing and of unpacking with a given number of worker
// threads, whatever the machine's cores: the engine is asked for that many
// directly (bundlet itself never runs more workers than cores).
//
//   memory_bench pack <directory> <archive> <threads>
//   memory_bench unpack <archive> <directory> <threads>
//
// Packs every file below the directory at the best mode, or unpacks every
// entry into the directory, and prints the peak resident set of the process.
// Run each in a process of its own: the peak only ever grows.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/Process.h"
#include "platform/Utf.h"
#include "zip/ZipEngine.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s pack|unpack <from> <to> <threads>\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  const int threads = std::atoi(argv[4]);
  zo::TZipEngine engine;
  engine.Options.FlushBuffers = false;
  engine.SetThreadCount(threads);
  if (mode == "pack") {
    engine.SetFileName(zo::FromUtf8(argv[3]));
    engine.OpenArchive(zo::fmCreate);
    engine.SetCompressionMode(9);
    engine.SetBaseDir(zo::FromUtf8(argv[2]));
    engine.AddFiles(u"*.*", zo::faAnyFile, zo::String());
    engine.CloseArchive();
  } else {
    engine.SetFileName(zo::FromUtf8(argv[2]));
    engine.OpenArchive(zo::fmOpenRead);
    engine.SetBaseDir(zo::FromUtf8(argv[3]));
    engine.ExtractFiles(u"*.*", zo::faAnyFile, zo::String());
    engine.CloseArchive();
  }
  std::printf("%-6s %2d workers: peak resident set %ld KiB\n", mode.c_str(), threads, zo::PeakResidentKiB());
  return 0;
}
