// The one reading of language codes that the upgrade tool and the upgrade
// program share.
#include <gtest/gtest.h>

#include <fstream>

#include "core/Exception.h"
#include "data/LanguageCodes.h"
#include "platform/Utf.h"
#include "tests/MessageOf.h"
#include "tests/ScratchDir.h"

namespace zo {
namespace {

TEST(LanguageCodes, WrittenCodesReadAsNumberPairs) {
  struct Case {
    const char16_t* Text;
    TIDValue Value;
  };
  const Case cases[] = {
      {u"401,0", {401, 0}},     {u"401,00", {401, 0}},       {u" 401, 0", {401, 0}},
      {u"401 ,0\t", {401, 0}},  {u"+401,+0", {401, 0}},      {u"0401,0", {401, 0}},
      {u"-5,-1", {-5, -1}},     {u"9223372036854775807,2147483647", {9223372036854775807, 2147483647}},
  };
  for (const Case& c : cases) EXPECT_EQ(LanguageCodeFromText(c.Text), c.Value) << ToUtf8(c.Text);

  for (const char16_t* bad : {u"", u",", u"401", u"401,", u",0", u"a,0", u"401,0,1", u"4 01,0", u"401;0",
                              u"401,2147483648", u"401.0,0"}) {
    EXPECT_EQ(test::MessageOf([&] { LanguageCodeFromText(bad); }),
              u"Language code \"" + String(bad) + u"\" is not valid");
  }
}

class TargetLanguagesFile : public ::testing::Test {
 protected:
  void Write(const std::string& Bytes) const {
    std::ofstream(FScratch.Path("TargetLanguages.txt"), std::ios::binary) << Bytes;
  }
  String Dir() const { return FScratch.UDir(); }

  test::ScratchDir FScratch{"zo-langs"};
};

TEST_F(TargetLanguagesFile, EachLanguageOnceInFileOrder) {
  EXPECT_TRUE(ReadTargetLanguages(Dir()).empty());  // no file: no target set
  Write("\xEF\xBB\xBF" "413,0\r\n\r\n  \r\n401,00\r\n 413, 0\n401,0");
  EXPECT_EQ(ReadTargetLanguages(Dir()), (std::vector<TIDValue>{{413, 0}, {401, 0}}));
  Write("401,0\r\nCzech\r\n");
  EXPECT_EQ(test::MessageOf([&] { ReadTargetLanguages(Dir()); }),
            // The file as the tool names it: its folder and the tool's own
            // separator, which is '/' on Windows too.
            u"Language code \"Czech\" in " + Dir() + u"/TargetLanguages.txt is not valid");
}

TEST(LanguageCodes, ChangesCompareNumberPairs) {
  using List = std::vector<TIDValue>;
  struct Case {
    const char* Name;
    List Installed, Target;
    bool Insert, Delete;
    List Inserted, Deleted;
  };
  const Case cases[] = {
      {"delete, last first", {{401, 0}, {402, 0}, {405, 0}}, {{401, 0}}, true, true, {}, {{405, 0}, {402, 0}}},
      {"insert, last first", {{401, 0}}, {{402, 0}, {401, 0}, {410, 0}}, true, true, {{410, 0}, {402, 0}}, {}},
      {"only what is allowed", {{401, 0}, {402, 0}}, {{401, 0}, {413, 0}}, false, true, {}, {{402, 0}}},
      {"sub-identifiers count", {{401, 0}}, {{401, 1}}, true, true, {{401, 1}}, {{401, 0}}},
      {"a duplicated row goes once", {{405, 0}, {401, 0}, {405, 0}}, {{401, 0}}, true, true, {}, {{405, 0}}},
      {"database without languages", {}, {{401, 0}}, true, true, {}, {}},
      {"no target set", {{401, 0}}, {}, true, true, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const TLanguageChanges changes = CompareLanguages(c.Installed, c.Target, c.Insert, c.Delete);
    EXPECT_EQ(changes.Inserted, c.Inserted);
    EXPECT_EQ(changes.Deleted, c.Deleted);
    EXPECT_EQ(changes.Empty(), c.Inserted.empty() && c.Deleted.empty());
  }
}

}  // namespace
}  // namespace zo
