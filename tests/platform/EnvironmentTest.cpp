#include "tests/ScopedEnv.h"
#include "platform/Environment.h"
#include "platform/FileSystem.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace zo {
namespace {

TEST(Environment, Variables) {
  zo::test::SetEnv("ZO_ENV_TEST", "w\xC3\xA4rt");
  EXPECT_EQ(GetEnvironmentVariable(u"ZO_ENV_TEST"), std::u16string(u"w\u00E4rt"));
  zo::test::UnsetEnv("ZO_ENV_TEST");
  EXPECT_FALSE(GetEnvironmentVariable(u"ZO_ENV_TEST").has_value());
}

TEST(Environment, HostAndExecutable) {
  EXPECT_FALSE(GetHostName().empty());
  const std::u16string dir = ExecutableDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(ExpandFileName(dir), dir) << "absolute";
  EXPECT_NE(dir.back(), u'/');
  EXPECT_NE(dir.find(u"tests/platform"), std::u16string::npos);
}

}  // namespace
}  // namespace zo
