#include "core/IDList.h"

#include <gtest/gtest.h>

#include "core/Exception.h"
#include "platform/Utf.h"
#include "tests/MessageOf.h"

namespace zo {
namespace {

using test::MessageOf;

String Items(const TIDList& list) { return list.SaveToString(); }

TEST(TIDValue, TextForm) {
  struct Case {
    String text;
    std::int64_t ic;
    std::int32_t u;
  };
  const Case cases[] = {
      {u"401,0", 401, 0},
      {u"-5,-1", -5, -1},
      {u"9223372036854775807,2147483647", 9223372036854775807LL, 2147483647},
      {u"-9223372036854775808,-2147483648", -9223372036854775807LL - 1, -2147483647 - 1},
  };
  for (const Case& c : cases) {
    const TIDValue v = TIDValue::FromString(c.text);
    EXPECT_EQ(v, TIDValue(c.ic, c.u)) << ToUtf8(c.text);
    EXPECT_EQ(v.ToString(), c.text);
    EXPECT_EQ(TIDValue::Create(c.text), v);
  }
  const std::pair<String, String> failures[] = {
      {u"401", u"'' is not a valid integer value"},
      {u"1,2,3", u"'2,3' is not a valid integer value"},
      {u",1", u"'' is not a valid integer value"},
      {u"1,2147483648", u"'2147483648' is not a valid integer value"},
      {u"x,1", u"'x' is not a valid integer value"},
      {u"1, 2", u"' 2' is not a valid integer value"},
  };
  for (const auto& [text, message] : failures) {
    EXPECT_EQ(MessageOf([&] { TIDValue::FromString(text); }), message) << ToUtf8(text);
  }
}

TEST(TIDValue, Order) {
  struct Case {
    TIDValue left, right;
    int expected;
  };
  const Case cases[] = {
      {{1, 5}, {2, 0}, -1}, {{2, -1}, {2, 0}, -1}, {{2, 0}, {2, 0}, 0},
      {{3, -9}, {2, 9}, 1}, {{-1, 0}, {0, -5}, -1}, {{0, 2147483647}, {1, -2147483647 - 1}, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TIDValue::Compare(c.left, c.right), c.expected) << ToUtf8(c.left.ToString()) << " " << ToUtf8(c.right.ToString());
    EXPECT_EQ(TIDValue::Compare(c.right, c.left), -c.expected);
    EXPECT_EQ(c.left.Compare(c.right.IC, c.right.U), c.expected);
    EXPECT_EQ(TIDValueComparer::Shared().Compare(c.left, c.right), c.expected);
    EXPECT_EQ(c.left.Equal(c.right.IC, c.right.U), c.expected == 0);
    EXPECT_EQ(c.left != c.right, c.expected != 0);
  }
}

TEST(TIDList, UnsortedFindAndIndexOf) {
  TIDList list;
  EXPECT_FALSE(list.Sorted());
  for (const char16_t* id : {u"5,0", u"1,0", u"5,0", u"3,1"}) list.AddItem(id);
  EXPECT_EQ(list.IndexOf({5, 0}), 0);  // the first equal pair
  EXPECT_EQ(list.IndexOf({3, 1}), 3);
  EXPECT_EQ(list.IndexOf({3, 0}), -1);
  int index = -1;
  EXPECT_FALSE(list.Find({9, 9}, index));
  EXPECT_EQ(index, 4);  // Count when absent
  EXPECT_EQ(Items(list), u"5,0;1,0;5,0;3,1");
}

TEST(TIDList, SortedListKeepsOrderAndInsertsBeforeEquals) {
  TIDList list;
  list.SetSorted(true);
  for (std::int64_t ic : {3, 1, 2}) list.AddItem(ic, 0);
  EXPECT_EQ(Items(list), u"1,0;2,0;3,0");
  EXPECT_EQ(list.AddItem(2, 0), 1);
  EXPECT_EQ(Items(list), u"1,0;2,0;2,0;3,0");
  EXPECT_EQ(list.AddItem(0, 7), 0);
  EXPECT_EQ(list.AddItem(9, 0), 5);
  int index = -1;
  EXPECT_TRUE(list.Find({2, 0}, index));
  EXPECT_EQ(index, 2);  // the first of the equal items
  EXPECT_FALSE(list.Find({2, 5}, index));
  EXPECT_EQ(index, 4);  // insertion point
  EXPECT_EQ(list.IndexOf({2, 5}), -1);

  TIDList unsorted;
  for (const char16_t* id : {u"4,0", u"-1,3", u"4,-2", u"0,0", u"4,-2"}) unsorted.AddItem(id);
  unsorted.Sort();
  EXPECT_TRUE(unsorted.Sorted());
  EXPECT_EQ(Items(unsorted), u"-1,3;0,0;4,-2;4,-2;4,0");
  unsorted.SetSorted(false);  // only clears the mark
  EXPECT_EQ(Items(unsorted), u"-1,3;0,0;4,-2;4,-2;4,0");
  unsorted.AddItem(1, 0);
  EXPECT_EQ(Items(unsorted), u"-1,3;0,0;4,-2;4,-2;4,0;1,0");
}

TEST(TIDList, OutOfOrderEditsClearTheSortedMark) {
  TIDList list;
  list.SetSorted(true);
  for (std::int64_t ic : {1, 2, 3}) list.AddItem(ic, 0);
  list.Insert(1, {1, 5});  // still in order
  EXPECT_TRUE(list.Sorted());
  list.SetItem(0, {0, 0});
  EXPECT_TRUE(list.Sorted());
  list.Insert(0, {7, 0});
  EXPECT_FALSE(list.Sorted());
  EXPECT_EQ(list.IndexOf({3, 0}), 4);  // found by a scan now, not a wrong binary search
  list.Sort();
  EXPECT_EQ(Items(list), u"0,0;1,5;2,0;3,0;7,0");
  list.SetItem(4, {-1, 0});
  EXPECT_FALSE(list.Sorted());
}

TEST(TIDList, IndexErrors) {
  TIDList list;
  list.AddItem(1, 1);
  EXPECT_EQ(MessageOf([&] { list.Items(1); }), u"List index out of bounds (1)");
  EXPECT_EQ(MessageOf([&] { list.Delete(-1); }), u"List index out of bounds (-1)");
  EXPECT_EQ(MessageOf([&] { list.Insert(2, {}); }), u"List index out of bounds (2)");
  EXPECT_EQ(MessageOf([&] { list.SetItem(5, {}); }), u"List index out of bounds (5)");
  list.Insert(1, {2, 2});
  list.Delete(0);
  EXPECT_EQ(list[0], TIDValue(2, 2));
  list.SetCapacity(100);
  EXPECT_GE(list.Capacity(), 100);
  EXPECT_EQ(list.Count(), 1);
}

TEST(TIDList, BinaryForm) {
  TIDList list;
  EXPECT_EQ(list.SaveToBinary(), Bytes{});
  list.AddItem(1, 2);
  const Bytes one = {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0};
  EXPECT_EQ(list.SaveToBinary(), one);
  list.AddItem(-2, -1);
  const Bytes two = list.SaveToBinary();
  ASSERT_EQ(two.size(), 28u);
  EXPECT_EQ(Bytes(two.begin() + 16, two.end()),
            (Bytes{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

  TIDList loaded;
  loaded.LoadFromBinary(two);
  EXPECT_EQ(Items(loaded), u"1,2;-2,-1");
  TIDList sorted;
  sorted.SetSorted(true);
  sorted.LoadFromBinary(two);  // re-sorted on the way in
  EXPECT_EQ(Items(sorted), u"-2,-1;1,2");
  sorted.LoadFromBinary({});
  EXPECT_EQ(sorted.Count(), 0);
  sorted.LoadFromBinary({0, 0, 0, 0});
  EXPECT_EQ(sorted.Count(), 0);
}

TEST(TIDList, ShortBinaryDataIsRejectedAndNothingIsLost) {
  struct Case {
    Bytes data;
    String message;
  };
  const Case cases[] = {
      {{1, 0}, u"Identifier list data is 2 bytes long, too short to hold its item count"},
      {{1, 0, 0, 0}, u"Identifier list data is 4 bytes long but its item count 1 needs 16 bytes"},
      {{2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 9},
       u"Identifier list data is 17 bytes long but its item count 2 needs 28 bytes"},
      {{0xFF, 0xFF, 0xFF, 0x7F}, u"Identifier list data is 4 bytes long but its item count 2147483647 needs "
                                 u"25769803768 bytes"},
      {{0xFF, 0xFF, 0xFF, 0xFF}, u"Identifier list data holds a negative item count (-1)"},
  };
  for (const Case& c : cases) {
    TIDList list;
    list.AddItem(7, 7);
    EXPECT_EQ(MessageOf([&] { list.LoadFromBinary(c.data); }), c.message);
    EXPECT_EQ(Items(list), u"7,7");
  }
}

TEST(TIDList, TextForm) {
  TIDList list;
  EXPECT_EQ(list.SaveToString(), u"");
  list.LoadFromString(u"");
  EXPECT_EQ(list.Count(), 0);
  list.LoadFromString(u"401,0;402,1");
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.SaveToString(), u"401,0;402,1");

  const std::pair<String, String> failures[] = {
      {u"1,0;", u"'' is not a valid integer value"},
      {u"1,0;;2,0", u"'' is not a valid integer value"},
      {u"1,0;2", u"'' is not a valid integer value"},
      {u"1,0;2;0", u"'' is not a valid integer value"},
  };
  for (const auto& [text, message] : failures) {
    TIDList l;
    EXPECT_EQ(MessageOf([&] { l.LoadFromString(text); }), message) << ToUtf8(text);
    EXPECT_EQ(Items(l), u"1,0");  // the items before the failing piece stay
  }
}

}  // namespace
}  // namespace zo
