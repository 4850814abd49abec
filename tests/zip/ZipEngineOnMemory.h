// The engine over an archive held in memory: what the reading tests load,
// list and extract, with the engine's errors escaping to the caller.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Utf.h"
#include "zip/ZipEngine.h"

namespace zo::test {

class ZipEngineOnMemory : public ::testing::Test {
 protected:
  // Opens bytes as the archive.
  void Open(const std::string& bytes) {
    FStream.Clear();
    FStream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    FStream.SetPosition(0);
    FEngine.OpenArchive(FStream, false);
  }

  // The entries' names, in the directory's order.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (int i = 0; i < FEngine.Dir().CDir.Count(); ++i) names.push_back(ToUtf8(FEngine.Dir().CDir[i].Name));
    return names;
  }

  // The entry's content.
  std::string Extract(const String& name) {
    TMemoryStream out;
    FEngine.ExtractToStream(name, out);
    return std::string(out.Memory().begin(), out.Memory().end());
  }

  TMemoryStream FStream;
  TZipEngine FEngine;
};

}  // namespace zo::test
