// Replays a fuzz target's corpus once, without the fuzzing engine: every
// regular file under the directories (or the files) named on the command
// line goes through LLVMFuzzerTestOneInput. Used by the test suite so that
// every seed and every past finding is checked on each build with any
// compiler.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return false;
  }
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  // A copy of exactly the input's size, so an overread is seen by the
  // address checker as it is under the fuzzer.
  std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  int count = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg(argv[i]);
    std::error_code error;
    if (fs::is_directory(arg, error)) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::recursive_directory_iterator(arg))
        if (entry.is_regular_file()) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const auto& file : files) {
        ok = Replay(file) && ok;
        ++count;
      }
    } else {
      ok = Replay(arg) && ok;
      ++count;
    }
  }
  std::printf("replayed %d inputs\n", count);
  if (count == 0) {
    std::fprintf(stderr, "no inputs found\n");
    return 1;
  }
  return ok ? 0 : 1;
}
