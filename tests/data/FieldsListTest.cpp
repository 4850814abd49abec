// Field lists: system columns, item ownership and the long-fields-last sort.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "core/Exception.h"
#include "data/FieldsList.h"
#include "tests/MessageOf.h"

namespace zo {
namespace {

struct Expected {
  const char16_t* name;
  const char16_t* alias;
  ToDataType type;
};

void ExpectItems(const TDBFieldsList& list, std::initializer_list<Expected> expected) {
  ASSERT_EQ(list.Count(), static_cast<int>(expected.size()));
  int i = 0;
  for (const Expected& e : expected) {
    PDBFieldInfo item = list.Get(i++);
    EXPECT_EQ(item->FieldName, e.name);
    EXPECT_EQ(item->FieldAlias, e.alias);
    EXPECT_EQ(item->FieldType, e.type) << "item " << i - 1;
    EXPECT_EQ(item->FieldValue, u"");
  }
}

TEST(FieldsList, SystemItemsOfAPlainTable) {
  TDBFieldsList list;
  list.AddSystemItems(u"dbo.a1", false, false, false, false);
  ExpectItems(list, {{u"dbo.a1.ic", u"ic", odtBigint}, {u"dbo.a1.u", u"u", odtInteger}});
}

TEST(FieldsList, SystemItemsWithEveryFlagInOrder) {
  TDBFieldsList list;
  list.AddItem(u"x.name", u"name", odtNVarchar, u"kept");
  list.AddSystemItems(u"t", true, true, true, true);
  ASSERT_EQ(list.Count(), 12);
  EXPECT_EQ(list.Get(0)->FieldValue, u"kept");
  const std::pair<const char16_t*, ToDataType> columns[] = {
      {u"ic", odtBigint},   {u"u", odtInteger},          {u"sstate", odtInteger},   {u"ic_a", odtBigint},
      {u"u_a", odtInteger}, {u"ic_b", odtBigint},        {u"u_b", odtInteger},      {u"sstate_a", odtInteger},
      {u"sstate_b", odtInteger}, {u"remotekey", odtNVarchar}, {u"langstate", odtInteger}};
  for (int i = 0; i < 11; ++i) {
    PDBFieldInfo item = list.Get(i + 1);
    EXPECT_EQ(item->FieldName, String(u"t.") + columns[i].first);
    EXPECT_EQ(item->FieldAlias, columns[i].first);
    EXPECT_EQ(item->FieldType, columns[i].second);
  }
}

TEST(FieldsList, SystemItemsFlagCombinations) {
  struct Case {
    bool link, langState, sState, remoteKey;
    std::vector<String> aliases;
  };
  const Case cases[] = {
      {true, false, false, false, {u"ic", u"u", u"ic_a", u"u_a", u"ic_b", u"u_b"}},
      {false, false, true, false, {u"ic", u"u", u"sstate"}},
      {false, true, false, true, {u"ic", u"u", u"remotekey", u"langstate"}},
      {true, false, true, false, {u"ic", u"u", u"sstate", u"ic_a", u"u_a", u"ic_b", u"u_b", u"sstate_a", u"sstate_b"}},
  };
  for (const Case& c : cases) {
    TDBFieldsList list;
    list.AddSystemItems(u"t", c.link, c.langState, c.sState, c.remoteKey);
    std::vector<String> aliases;
    for (int i = 0; i < list.Count(); ++i) aliases.push_back(list.Get(i)->FieldAlias);
    EXPECT_EQ(aliases, c.aliases);
  }
}

TEST(FieldsList, AddReturnsIndexesAndGetChecksBounds) {
  TDBFieldsList list;
  EXPECT_EQ(list.Add(), 0);
  EXPECT_EQ(list.AddItem(u"a", u"a", odtInteger, u"1"), 1);
  EXPECT_EQ(list.Get(0)->FieldType, odtUnknown);
  EXPECT_EQ(list.Items(1)->FieldValue, u"1");
  for (int bad : {-1, 2}) {
    EXPECT_EQ(test::MessageOf<EListError>([&] { list.Get(bad); }), Format(kSListIndexError, {bad}));
  }
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_THROW(list.Get(0), EListError);
}

TEST(FieldsList, SortPutsLongFieldsLastLargestFirst) {
  TDBFieldsList list;
  list.AddItem(u"c1", u"c1", odtNClob, u"abc");     // 6 bytes
  list.AddItem(u"i", u"i", odtInteger, u"5");
  list.AddItem(u"b", u"b", odtBlob, u"0x0102");     // 2 bytes
  list.AddItem(u"c2", u"c2", odtNClob, u"a");       // 2 bytes
  PDBFieldInfo integer = list.Get(1);
  list.Sort();
  EXPECT_EQ(list.Get(0), integer);  // the same item, moved, not copied
  EXPECT_EQ(list.Get(1)->FieldAlias, u"c1");
  std::set<String> lastTwo = {list.Get(2)->FieldAlias, list.Get(3)->FieldAlias};
  EXPECT_EQ(lastTwo, (std::set<String>{u"b", u"c2"}));
}

TEST(FieldsList, SortOfRandomListsKeepsEveryItemAndOrdersLongFields) {
  std::mt19937 random(7);
  const ToDataType types[] = {odtInteger, odtNVarchar, odtDateTime, odtNClob, odtBlob};
  for (int round = 0; round < 300; ++round) {
    TDBFieldsList list;
    const int count = static_cast<int>(random() % 12);
    std::multiset<PDBFieldInfo> before;
    for (int i = 0; i < count; ++i) {
      const ToDataType type = types[random() % 5];
      const int size = static_cast<int>(random() % 4);
      String value;
      if (type == odtBlob) {
        if (size > 0) value = u"0x" + String(static_cast<std::size_t>(size) * 2, u'A');
      } else {
        value = String(static_cast<std::size_t>(size), u'x');
      }
      list.AddItem(u"f", u"f", type, value);
      before.insert(list.Get(i));
    }
    list.Sort();
    std::multiset<PDBFieldInfo> after;
    for (int i = 0; i < list.Count(); ++i) after.insert(list.Get(i));
    ASSERT_EQ(before, after);
    bool seenLong = false;
    std::int64_t lastSize = INT64_MAX;
    for (int i = 0; i < list.Count(); ++i) {
      PDBFieldInfo item = list.Get(i);
      const bool isLong = item->FieldType == odtNClob || item->FieldType == odtBlob;
      ASSERT_FALSE(seenLong && !isLong) << "fixed field after a long one, round " << round;
      if (isLong) {
        const std::int64_t size = item->FieldType == odtNClob
                                      ? 2 * static_cast<std::int64_t>(item->FieldValue.size())
                                      : (item->FieldValue.empty() ? 0 : (item->FieldValue.size() - 2) / 2);
        ASSERT_LE(size, lastSize) << "round " << round;
        lastSize = size;
      }
      seenLong = seenLong || isLong;
    }
  }
}

TEST(FieldsList, SortFailsOnABlobValueThatIsNotBinaryText) {
  TDBFieldsList list;
  list.AddItem(u"a", u"a", odtNClob, u"text");
  list.AddItem(u"b", u"b", odtBlob, u"zz01");
  EXPECT_EQ(test::MessageOf([&] { list.Sort(); }), u"Invalid binary format (begin with \"zz\")");
  EXPECT_EQ(list.Count(), 2);
}

TEST(FieldsList, SortOfShortListsDoesNothing) {
  TDBFieldsList list;
  list.Sort();
  list.AddItem(u"b", u"b", odtBlob, u"not binary");  // never compared
  list.Sort();
  EXPECT_EQ(list.Get(0)->FieldValue, u"not binary");
}

}  // namespace
}  // namespace zo
