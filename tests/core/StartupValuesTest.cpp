#include "tests/ScopedEnv.h"
#include "core/StartupValues.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace zo {
namespace {

TEST(StartupValues, ProductPrefixNumberFormatAndComputerName) {
  EXPECT_EQ(String(ProductPrefix), u"zo");
  EXPECT_EQ(DotFormatSettings.DecimalSeparator, u'.');
  // The computer name is read once, on first use: nothing else in this
  // program asks for it, so the variable set here is the one it sees.
  const String longName(60, u'N');
  zo::test::SetEnv("ComputerName", "NNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNN");
  EXPECT_EQ(ComputerName(), longName.substr(0, 49));
  EXPECT_EQ(&ComputerName(), &ComputerName());
}

}  // namespace
}  // namespace zo
