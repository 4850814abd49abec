#include "core/VersionType.h"

#include <gtest/gtest.h>

#include "tests/MessageOf.h"

namespace zo {
namespace {

TEST(VersionType, FromString) {
  const std::pair<String, int> cases[] = {
      {u"0", 0}, {u"1", 1}, {u"2", 2}, {u"255", 255}, {u"258", 2}, {u"-1", 255}, {u"+3", 3},
  };
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(static_cast<int>(TCDBVersionTypeHelper::FromString(text)), value);
  }
  EXPECT_EQ(TCDBVersionTypeHelper::FromString(u"2"), cdbvtCorrupt);
  const std::pair<String, String> failures[] = {
      {u"", u"Internal error - empty value not allowed in TCDBVersionTypeHelper.FromString function"},
      {u"beta", u"'beta' is not a valid integer value"},
      {u"1 ", u"'1 ' is not a valid integer value"},
      {u"4294967298", u"'4294967298' is not a valid integer value"},
  };
  for (const auto& [text, message] : failures) {
    EXPECT_EQ(test::MessageOf([&] { TCDBVersionTypeHelper::FromString(text); }), message);
  }
}

}  // namespace
}  // namespace zo
