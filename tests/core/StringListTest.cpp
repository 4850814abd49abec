#include "core/StringList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/Exception.h"
#include "core/StringUtils.h"
#include "platform/Utf.h"
#include "tests/MessageOf.h"
#include "tests/ScratchDir.h"

namespace zo {
namespace {

using Pairs = std::vector<std::pair<String, String>>;

Pairs Items(const TVStringList& list) {
  Pairs items;
  for (int i = 0; i < list.Count(); ++i) items.emplace_back(list.GetName(i), list.GetValue(i));
  return items;
}

std::vector<String> Names(const TVStringList& list) {
  std::vector<String> names;
  for (int i = 0; i < list.Count(); ++i) names.push_back(list.GetName(i));
  return names;
}

// Runs Call, expects it to raise an error of type E with Message, and the list
// to be exactly as before (items, capacity, flags).
template <typename E = Exception>
void ExpectFailsUnchanged(TVStringList& list, const std::function<void()>& Call, const String& Message) {
  const Pairs before = Items(list);
  const int capacity = list.Capacity();
  const bool sorted = list.Sorted();
  EXPECT_EQ(test::MessageOf<E>([&] { Call(); }), Message);
  EXPECT_EQ(Items(list), before);
  EXPECT_EQ(list.Capacity(), capacity);
  EXPECT_EQ(list.Sorted(), sorted);
}

TEST(NameHash, MatchesTheThirtyOneFormulaAsSigned) {
  EXPECT_EQ(NameHash(u""), 0);
  EXPECT_EQ(NameHash(u"a"), 97);
  EXPECT_EQ(NameHash(u"hello"), 99162322);
  // Wraps modulo 2^32 and is read as signed.
  EXPECT_EQ(NameHash(u"polygenelubricants"), INT32_MIN);
  EXPECT_EQ(NameHash(u"Aa"), NameHash(u"BB"));
  EXPECT_EQ(NameHash(u"\U0001F600"), 0xD83D * 31 + 0xDE00);  // code units, not code points
}

TEST(TVStringList, DefaultsAndTheIndexMessage) {
  TVStringList list;
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 0);
  EXPECT_FALSE(list.Sorted());
  EXPECT_EQ(list.Duplicates(), vdupAccept);
  ExpectFailsUnchanged<EListError>(list, [&] { list.GetName(0); }, u"List index out of bounds (0)");
}

TEST(TVStringList, UnsortedAddAppendsAndAcceptsDuplicates) {
  TVStringList list;
  EXPECT_EQ(list.Add(u"x"), 0);
  EXPECT_EQ(list.Add(u"x"), 1);
  EXPECT_EQ(list.AddValue(u"C:\\dir", u"sub"), 2);
  EXPECT_EQ(list.GetName(2), u"C:\\dir");
  EXPECT_EQ(list.GetValue(2), u"sub");
  EXPECT_EQ(list.GetValue(0), u"");
  EXPECT_EQ(list.GetObject(0), nullptr);
  int index = -1;
  EXPECT_TRUE(list.Find(u"x", index));
  EXPECT_EQ(index, 0);
  EXPECT_FALSE(list.Find(u"X", index));  // case-sensitive
  EXPECT_EQ(index, 3);
}

TEST(TVStringList, CapacityGrowsByFourThenSixteenThenAQuarter) {
  TVStringList list;
  std::vector<int> capacities;
  for (int i = 0; i < 100; ++i) {
    list.Add(u"n");
    if (capacities.empty() || capacities.back() != list.Capacity()) capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int>{4, 8, 12, 28, 44, 60, 76, 95, 118}));
  list.Delete(list.Count() - 1);
  EXPECT_EQ(list.Capacity(), 118);
  list.SetCapacity(99);
  EXPECT_EQ(list.Capacity(), 99);
  ExpectFailsUnchanged<EListError>(list, [&] { list.SetCapacity(98); }, u"List capacity out of bounds (98)");
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 0);
}

TEST(TVStringList, IndexErrorsNameTheIndexAndChangeNothing) {
  TVStringList list;
  list.AddValue(u"a", u"1");
  list.AddValue(u"b", u"2");
  const std::vector<std::pair<std::function<void()>, String>> cases = {
      {[&] { list.GetValue(-1); }, u"List index out of bounds (-1)"},
      {[&] { list.SetValue(2, u"v"); }, u"List index out of bounds (2)"},
      {[&] { list.SetName(2, u"v"); }, u"List index out of bounds (2)"},
      {[&] { list.SetObject(2, nullptr); }, u"List index out of bounds (2)"},
      {[&] { list.GetVSL(2); }, u"List index out of bounds (2)"},
      {[&] { list.GetDSL(-1); }, u"List index out of bounds (-1)"},
      {[&] { list.Delete(2); }, u"List index out of bounds (2)"},
      {[&] { list.Exchange(0, 5); }, u"List index out of bounds (5)"},
      {[&] { list.Move(0, 2); }, u"List index out of bounds (2)"},
      {[&] { list.Move(-1, 0); }, u"List index out of bounds (-1)"},
      {[&] { list.Insert(3, u"c"); }, u"List index out of bounds (3)"},
      {[&] { list.InsertValue(-1, u"c", u"3"); }, u"List index out of bounds (-1)"},
  };
  for (const auto& [call, message] : cases) ExpectFailsUnchanged<EListError>(list, call, message);
}

TEST(TVStringList, PositionalChanges) {
  TVStringList list;
  list.LoadFromString(u"a,b,c,d", u',', false);
  list.Insert(0, u"first");
  list.InsertValue(5, u"last", u"v");
  EXPECT_EQ(Names(list), (std::vector<String>{u"first", u"a", u"b", u"c", u"d", u"last"}));
  list.Move(1, 4);
  EXPECT_EQ(Names(list), (std::vector<String>{u"first", u"b", u"c", u"d", u"a", u"last"}));
  list.Move(5, 0);
  EXPECT_EQ(Names(list), (std::vector<String>{u"last", u"first", u"b", u"c", u"d", u"a"}));
  EXPECT_EQ(list.GetValue(0), u"v");  // the value travels with the item
  list.Exchange(0, 5);
  list.Delete(1);
  list.Remove(u"c");
  list.Remove(u"absent");
  EXPECT_EQ(Names(list), (std::vector<String>{u"a", u"b", u"d", u"last"}));
  list.SetName(0, u"A");
  EXPECT_EQ(list.IndexOf(u"A"), 0);  // renaming recomputes the hash
  EXPECT_EQ(list.IndexOf(u"a"), -1);
}

TEST(TVStringList, SortPutsItemsInHashOrderNotAlphabetical) {
  TVStringList list;
  list.Add(u"b");
  list.Add(u"aa");  // hash 3104
  list.Add(u"a");   // hash 97
  list.Add(u"BB");  // hash 2112, the same as "Aa"
  list.Add(u"Aa");
  list.Sort();
  EXPECT_TRUE(list.Sorted());
  EXPECT_EQ(Names(list), (std::vector<String>{u"a", u"b", u"Aa", u"BB", u"aa"}));
  // Adding keeps the order; lookups are binary searches.
  EXPECT_EQ(list.Add(u"c"), 2);
  EXPECT_EQ(list.Add(u""), 0);
  for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(list.IndexOf(list.GetName(i)), i);
  int index = -1;
  EXPECT_FALSE(list.Find(u"ab", index));  // hash 3105: after "aa"
  EXPECT_EQ(index, list.Count());
  list.SetSorted(false);
  EXPECT_FALSE(list.Sorted());
  EXPECT_EQ(list.GetName(0), u"");  // clearing the mark does not reorder
}

TEST(TVStringList, SortOfManyNamesAgreesWithAReferenceOrder) {
  std::mt19937 random(42);
  TVStringList list;
  std::vector<std::pair<std::int32_t, String>> expected;
  for (int i = 0; i < 2000; ++i) {
    String name;
    for (int n = random() % 6; n > 0; --n) name += static_cast<char16_t>(u'a' + random() % 4);
    list.Add(name);
    expected.emplace_back(NameHash(name), name);
  }
  list.Sort();
  std::sort(expected.begin(), expected.end());
  ASSERT_EQ(list.Count(), 2000);
  for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(list.GetName(i), expected[i].second) << i;
  // With duplicates accepted Find gives the first of the equal names.
  for (int i = 0; i < list.Count(); ++i) {
    int index = -1;
    ASSERT_TRUE(list.Find(list.GetName(i), index));
    EXPECT_LE(index, i);
    EXPECT_TRUE(index == 0 || list.GetName(index - 1) != list.GetName(i));
  }
}

TEST(TVStringList, SortedDuplicatesPolicy) {
  TVStringList list;
  list.SetSorted(true);
  list.AddValue(u"x", u"1");
  list.AddValue(u"y", u"1");

  list.SetDuplicates(vdupIgnore);
  EXPECT_EQ(list.AddValue(u"y", u"2"), 1);
  EXPECT_EQ(Items(list), (Pairs{{u"x", u"1"}, {u"y", u"1"}}));

  list.SetDuplicates(vdupError);
  ExpectFailsUnchanged(list, [&] { list.AddValue(u"x", u"2"); }, u"String list does not allow duplicates");

  list.SetDuplicates(vdupAccept);
  EXPECT_EQ(list.AddValue(u"y", u"2"), 1);  // before the equal item
  EXPECT_EQ(list.AddValue(u"y", u"3"), 1);
  EXPECT_EQ(Items(list), (Pairs{{u"x", u"1"}, {u"y", u"3"}, {u"y", u"2"}, {u"y", u"1"}}));
  int index = -1;
  EXPECT_TRUE(list.FindValue(u"y", u"1", index));
  EXPECT_EQ(index, 3);
  EXPECT_FALSE(list.FindValue(u"x", u"2", index));
  // Found from the middle of a run of equal names too.
  list.SetDuplicates(vdupIgnore);
  EXPECT_TRUE(list.FindValue(u"y", u"3", index));
  EXPECT_EQ(index, 1);
}

TEST(TVStringList, PositionalChangesAreRefusedOnASortedList) {
  TVStringList list;
  list.Add(u"b");
  list.Add(u"a");
  list.SetSorted(true);
  const std::vector<std::function<void()>> calls = {
      [&] { list.Insert(0, u"c"); },
      [&] { list.InsertValue(2, u"c", u"v"); },
      [&] { list.InsertSL(0, u"c", nullptr); },
      [&] { list.InsertValueSL(0, u"c", u"v", nullptr); },
      [&] { list.InsertValueObject(0, u"c", u"v", nullptr); },
      [&] { list.SetName(0, u"z"); },
      [&] { list.Exchange(0, 1); },
      [&] { list.Move(0, 1); },
  };
  for (const auto& call : calls) ExpectFailsUnchanged(list, call, u"Operation not allowed on sorted list");
  // Slots other than the name stay writable.
  list.SetValue(0, u"v");
  EXPECT_EQ(list.GetValue(0), u"v");
}

TEST(TVStringList, OtherSortsLeaveTheListUnmarked) {
  TVStringList list;
  int objects[3];
  list.AddObject(u"b", &objects[2]);
  list.AddObject(u"c", &objects[0]);
  list.AddObject(u"a", &objects[1]);
  list.SortByObject();
  EXPECT_EQ(Names(list), (std::vector<String>{u"c", u"a", u"b"}));
  list.SortByName();
  EXPECT_EQ(Names(list), (std::vector<String>{u"a", u"b", u"c"}));
  list.CustomSort([](const TVStringList& l, int i, int j) { return l.GetName(j).compare(l.GetName(i)); });
  EXPECT_EQ(Names(list), (std::vector<String>{u"c", u"b", u"a"}));
  EXPECT_FALSE(list.Sorted());

  // A comparison that fails halfway leaves the order as it was.
  int calls = 0;
  ExpectFailsUnchanged(
      list,
      [&] {
        list.CustomSort([&](const TVStringList&, int, int) -> int {
          if (++calls == 3) throw Exception(String(u"stop"));
          return -1;
        });
      },
      u"stop");

  list.Sort();
  const std::vector<String> sorted = Names(list);
  list.SortByName();
  list.CustomSort([](const TVStringList&, int, int) { return 1; });
  EXPECT_EQ(Names(list), sorted);  // nothing happens on a sorted list
}

TEST(TVStringList, ObjectSlotHoldsOneKindAndIsNeverFreed) {
  THStringList header;
  TDStringList row(header);
  TVStringList nested;
  int plain = 0;
  {
    auto list = std::make_unique<TVStringList>();
    list->AddSL(u"list", &nested);
    list->AddValueObject(u"row", u"v", &row);
    list->AddObject(u"plain", &plain);
    list->Add(u"empty");
    list->AddValueSL(u"again", u"w", &nested);

    EXPECT_EQ(list->GetVSL(0), &nested);
    EXPECT_EQ(list->GetDSL(0), nullptr);
    EXPECT_EQ(list->GetDSL(1), &row);
    EXPECT_EQ(list->GetVSL(1), nullptr);
    EXPECT_EQ(list->GetObject(1), &row);  // Objects reads any kind
    EXPECT_EQ(list->GetObject(2), &plain);
    EXPECT_EQ(list->GetVSL(2), nullptr);
    EXPECT_EQ(list->GetObject(3), nullptr);

    EXPECT_EQ(list->IndexOfObject(&nested), 4);  // the last holder
    EXPECT_EQ(list->IndexOfObject(&plain), 2);
    EXPECT_EQ(list->IndexOfObject(nullptr), -1);

    list->SetVSL(2, &nested);
    EXPECT_EQ(list->GetVSL(2), &nested);
    list->SetObject(0, nullptr);
    EXPECT_EQ(list->GetObject(0), nullptr);

    TVStringList copy;
    copy.Add(u"own");
    copy.AddStrings(*list);
    copy.AddStrings(copy);  // from itself: every item once more
    ASSERT_EQ(copy.Count(), 12);
    EXPECT_EQ(copy.GetDSL(2), &row);
    EXPECT_EQ(copy.GetValue(2), u"v");
    EXPECT_EQ(copy.GetDSL(8), &row);
    EXPECT_EQ(copy.GetName(6), u"own");
  }  // freeing the list leaves its objects alone (a sanitizer build would see a double free)
  nested.Add(u"still usable");
  EXPECT_EQ(nested.Count(), 1);
}

TEST(TVStringList, AddStringsIntoASortedListIsAllOrNothing) {
  TVStringList source;
  source.LoadFromString(u"n,m,n", u',', false);
  TVStringList list;
  list.SetSorted(true);
  list.SetDuplicates(vdupError);
  list.Add(u"a");
  ExpectFailsUnchanged(list, [&] { list.AddStrings(source); }, u"String list does not allow duplicates");
  list.SetDuplicates(vdupIgnore);
  list.AddStrings(source);
  EXPECT_EQ(Names(list), (std::vector<String>{u"a", u"m", u"n"}));
}

TEST(TVStringList, ValuesByName) {
  TVStringList list;
  list.AddValue(u"k", u"1");
  EXPECT_EQ(list.GetValueByName(u"k"), u"1");
  EXPECT_EQ(list.GetValueByName(u"none"), u"");
  list.SetValueByName(u"k", u"2");
  list.SetValueByName(u"b", u"3");  // appended on an unsorted list
  EXPECT_EQ(Items(list), (Pairs{{u"k", u"2"}, {u"b", u"3"}}));
  int index = -1;
  EXPECT_TRUE(list.FindValue(u"3", index));
  EXPECT_EQ(index, 1);

  TVStringList sorted;
  sorted.SetSorted(true);
  sorted.SetDuplicates(vdupError);
  sorted.AddValue(u"c", u"1");
  sorted.SetValueByName(u"a", u"2");  // placed in hash order
  sorted.SetValueByName(u"c", u"3");  // an existing name is no duplicate
  EXPECT_EQ(Items(sorted), (Pairs{{u"a", u"2"}, {u"c", u"3"}}));
}

TEST(TVStringList, TextForm) {
  TVStringList list;
  EXPECT_EQ(list.SaveToString(u';', true), u"");
  list.AddValue(u"a", u"1");
  list.AddValue(u"b", u"2");
  EXPECT_EQ(list.SaveToString(u';', true), u"a=1;b=2");
  EXPECT_EQ(list.SaveToString(u';', false), u"a;b");
  EXPECT_EQ(list.SaveToString(u"--", true), u"a=1--b=2");
  EXPECT_EQ(list.SaveToString(u"", false), u"ab");

  struct Case {
    String text;
    String sep;
    bool withValues;
    Pairs items;
  };
  const std::vector<Case> cases = {
      {u"a=1;;c", u";", true, {{u"a", u"1"}, {u"", u""}, {u"", u"c"}}},
      {u"a=1;;c", u";", false, {{u"a=1", u""}, {u"", u""}, {u"c", u""}}},
      {u"k=v=w", u";", true, {{u"k", u"v=w"}}},  // cut at the first "="
      {u";", u";", false, {{u"", u""}, {u"", u""}}},
      {u"a;", u";", false, {{u"a", u""}, {u"", u""}}},
      {u"", u";", true, {}},
      {u"x<>y<>", u"<>", false, {{u"x", u""}, {u"y", u""}, {u"", u""}}},
      {u"x;y", u"", false, {{u"x;y", u""}}},  // an empty separator never matches
  };
  for (const Case& c : cases) {
    list.LoadFromString(c.text, c.sep, c.withValues);
    EXPECT_EQ(Items(list), c.items) << ToUtf8(c.text);
  }
  list.LoadFromString(u"", u';', true);
  EXPECT_EQ(list.Capacity(), 0);  // loading clears first

  // A sorted list applies its duplicate rule while loading, all or nothing.
  TVStringList sorted;
  sorted.SetSorted(true);
  sorted.SetDuplicates(vdupError);
  sorted.Add(u"keep");
  ExpectFailsUnchanged(sorted, [&] { sorted.LoadFromString(u"a,b,a", u',', false); },
                       u"String list does not allow duplicates");
  sorted.SetDuplicates(vdupIgnore);
  sorted.LoadFromString(u"b,a,b", u',', false);
  EXPECT_EQ(Names(sorted), (std::vector<String>{u"a", u"b"}));
}

TEST(TVStringList, SplitAndJoinOverTheNames) {
  TVStringList list;
  list.Add(u"old");
  SplitToList(u"", u',', list);
  EXPECT_EQ(list.Count(), 0);
  SplitToList(u",", u',', list);
  EXPECT_EQ(Names(list), (std::vector<String>{u"", u""}));
  SplitToList(u"a,b", u',', list);
  EXPECT_EQ(Names(list), (std::vector<String>{u"a", u"b"}));
  EXPECT_EQ(JoinList(list, u"\r\n"), u"a\r\nb");
  list.Delete(1);
  EXPECT_EQ(JoinList(list, u", "), u"a");
}

TEST(TVStringList, LineForm) {
  TVStringList list;
  EXPECT_EQ(list.Text(), u"");
  list.Add(u"x");
  EXPECT_EQ(list.Text(), u"x\r\n");
  list.SetText(list.Text());
  EXPECT_EQ(Names(list), (std::vector<String>{u"x"}));

  struct Case {
    String text;
    bool withValues;
    Pairs items;
  };
  const std::vector<Case> cases = {
      {u"a=1\r\nb=2\r\n", true, {{u"a", u"1"}, {u"b", u"2"}}},
      {u"a=1\r\nb=2", true, {{u"a", u"1"}, {u"b", u"2"}}},
      {u"a\r\n\r\n", false, {{u"a", u""}, {u"", u""}}},
      {u"\r\n", false, {{u"", u""}}},
      {u"a\nb\r\n", false, {{u"a\nb", u""}}},  // only CR LF breaks lines
      {u"", false, {}},
  };
  for (const Case& c : cases) {
    list.SetTextStr(c.text, c.withValues);
    EXPECT_EQ(Items(list), c.items) << ToUtf8(c.text);
  }
  list.Clear();
  list.AddValue(u"a", u"1");
  list.AddValue(u"", u"");
  EXPECT_EQ(list.GetTextStr(true), u"a=1\r\n=\r\n");
  EXPECT_EQ(list.GetTextStr(false), u"a\r\n\r\n");

  // A list of one empty name still reads back as one item.
  list.Clear();
  list.Add(u"");
  list.SetText(list.Text());
  EXPECT_EQ(list.Count(), 1);

  // The final line break adds no item to a sorted list either, where the
  // empty name would sort first.
  TVStringList sorted;
  sorted.SetSorted(true);
  sorted.SetTextStr(u"b=1\r\na=2\r\n", true);
  EXPECT_EQ(Items(sorted), (Pairs{{u"a", u"2"}, {u"b", u"1"}}));
}

class TVStringListFile : public ::testing::Test {
 protected:
  String PathOf(const std::string& name) const { return FScratch.UFile(name); }
  static std::string ReadBytes(const String& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void WriteBytes(const String& path, const std::string& bytes) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
  }

  test::ScratchDir FScratch{"stringlist-test"};
};

TEST_F(TVStringListFile, SavesUtf16LittleEndianWithoutMarkAndReadsItBack) {
  TVStringList list;
  list.AddValue(u"C:\\dir", u"s\u00FCb");
  list.AddValue(u"\U0001F600", u"\u20AC");
  const String path = PathOf("list \u00E4.txt");  // a non-ASCII file name too
  list.SaveToFile(path, true);

  const Bytes expected = Utf16LEBytes(list.GetTextStr(true));
  EXPECT_EQ(ReadBytes(path), std::string(expected.begin(), expected.end()));
  EXPECT_EQ(ReadBytes(path).substr(0, 4), std::string("C\0:\0", 4));

  TVStringList loaded;
  loaded.Add(u"replaced");
  loaded.LoadFromFile(path, true);
  EXPECT_EQ(Items(loaded), Items(list));

  // Saving again replaces the file rather than appending.
  loaded.Delete(1);
  loaded.SaveToFile(path, false);
  EXPECT_EQ(ReadBytes(path), std::string("C\0:\0\\\0d\0i\0r\0\r\0\n\0", 16));

  TVStringList empty;
  empty.SaveToFile(path, true);
  EXPECT_EQ(ReadBytes(path), "");
  loaded.LoadFromFile(path, true);
  EXPECT_EQ(loaded.Count(), 0);
}

TEST_F(TVStringListFile, FileErrors) {
  TVStringList list;
  list.Add(u"keep");
  const String odd = PathOf("odd.txt");
  WriteBytes(odd, std::string("a\0\r\0\n\0b", 7));
  ExpectFailsUnchanged(list, [&] { list.LoadFromFile(odd, false); }, u"Unicode file " + odd + u" must have even size");

  const String missing = PathOf("missing.txt");
  ExpectFailsUnchanged<EFOpenError>(list, [&] { list.LoadFromFile(missing, false); },
                                    u"Cannot open file \"" + missing + u"\". No such file or directory");
  const String directory = FScratch.UDir();
  ExpectFailsUnchanged<EFOpenError>(list, [&] { list.LoadFromFile(directory, false); },
                                    u"Cannot open file \"" + directory + u"\". Is a directory");

  const String unwritable = PathOf("no/such/dir.txt");
  ExpectFailsUnchanged<EFCreateError>(list, [&] { list.SaveToFile(unwritable, false); },
                                      u"Cannot create file \"" + unwritable + u"\". No such file or directory");
}

TEST(TVStringListStream, WorksFromTheCurrentPositionAndDropsAnOddLastByte) {
  TVStringList list;
  list.AddValue(u"a", u"1");
  std::ostringstream out;
  out << "HEAD";
  list.SaveToStream(out, true);
  EXPECT_EQ(out.str(), std::string("HEADa\0=\0001\0\r\0\n\0", 14));

  std::istringstream in(out.str() + std::string("b\0\r\0\n\0Z\0!", 9));
  in.seekg(4);
  TVStringList loaded;
  loaded.LoadFromStream(in, true);
  // "a=1", then the text "b\0\r\0\n\0Z\0" read as "b", line break, "Z"... and
  // the lone "!" at the end dropped.
  EXPECT_EQ(Items(loaded), (Pairs{{u"a", u"1"}, {u"", u"b"}, {u"", u"Z"}}));
}

TEST(THStringList, BuiltThenSortedThenSearched) {
  THStringList header;
  EXPECT_EQ(header.Count(), 0);
  int tags[4];
  const String names[] = {u"name", u"ic", u"u", u"name.401,0"};
  header.SetCapacity(4);
  for (int i = 0; i < 4; ++i) header.Insert(i, names[i], &tags[i]);
  header.Sort();
  EXPECT_EQ(header.Count(), 4);
  // Hash order, signed: -1868273578, 117, 3354, 3373707.
  EXPECT_EQ(header.GetName(0), u"name.401,0");
  EXPECT_EQ(header.GetName(1), u"u");
  EXPECT_EQ(header.GetName(2), u"ic");
  EXPECT_EQ(header.GetName(3), u"name");
  for (int i = 0; i < 4; ++i) {
    const int at = header.IndexOf(names[i]);
    ASSERT_GE(at, 0) << ToUtf8(names[i]);
    EXPECT_EQ(header.GetPointer(at), &tags[i]);
  }
  int index = -1;
  EXPECT_FALSE(header.Find(u"absent", index));
  EXPECT_EQ(header.IndexOf(u"absent"), -1);
  EXPECT_TRUE(header.FindLang(u"name", TIDValue(401, 0), index));
  EXPECT_EQ(header.GetName(index), u"name.401,0");
  EXPECT_TRUE(header.FindLang(u"name", TIDValue(0, 0), index));
  EXPECT_EQ(header.GetName(index), u"name");
  EXPECT_FALSE(header.FindLang(u"name", TIDValue(402, 0), index));

  for (const int bad : {-1, 4}) {
    const String message = Format(u"List index out of bounds (%d)", {bad});
    EXPECT_THROW(header.GetName(bad), EListError);
    EXPECT_EQ(test::MessageOf<EListError>([&] { header.GetPointer(bad); }), message);
  }
  header.Clear();
  EXPECT_EQ(header.Count(), 0);
}

TEST(TDStringList, ValuesThroughTheHeaderAndTypedReaders) {
  THStringList header;
  const String names[] = {u"ic", u"u", u"ic_a", u"u_a", u"ic_b", u"u_b", u"title", u"title.5,1"};
  header.SetCapacity(8);
  for (int i = 0; i < 8; ++i) header.Insert(i, names[i], nullptr);
  header.Sort();

  TDStringList row(header);
  EXPECT_EQ(row.Count(), 8);
  EXPECT_EQ(&row.HeaderSL(), &header);
  row.SetValueByName(u"ic", u"9223372036854775807");
  row.SetValueByName(u"u", u"-2147483648");
  row.SetValueByName(u"ic_a", u"401");
  row.SetValueByName(u"u_a", u"0");
  row.SetValueByName(u"ic_b", u"-5");
  row.SetValueByName(u"u_b", u"7");
  row.SetValueByLangName(u"title", TIDValue(5, 1), u"Titel");
  row.SetValueByLangName(u"title", TIDValue(0, 0), u"Title");

  EXPECT_EQ(row.ic(), INT64_MAX);
  EXPECT_EQ(row.u(), INT32_MIN);
  EXPECT_EQ(row.ic_a(), 401);
  EXPECT_EQ(row.u_a(), 0);
  EXPECT_EQ(row.ic_b(), -5);
  EXPECT_EQ(row.u_b(), 7);
  EXPECT_EQ(row.RecID(), u"9223372036854775807,-2147483648");
  EXPECT_EQ(row.RecIDA(), u"401,0");
  EXPECT_EQ(row.RecIDB(), u"-5,7");
  EXPECT_EQ(row.GetValueByLangName(u"title", TIDValue(5, 1)), u"Titel");
  EXPECT_EQ(row.GetValueByName(u"title"), u"Title");
  EXPECT_EQ(row.GetValueByIndex(header.IndexOf(u"u_b")), u"7");
  EXPECT_EQ(row.GetValueByName(u"missing"), u"");
  EXPECT_EQ(row.GetValueByLangName(u"title", TIDValue(6, 1)), u"");

  const std::vector<std::pair<std::function<void()>, String>> failures = {
      {[&] { row.SetValueByName(u"missing", u"x"); }, u"List index out of bounds (missing)"},
      {[&] { row.SetValueByLangName(u"title", TIDValue(6, 1), u"x"); }, u"List index out of bounds (title)"},
      {[&] { row.SetValueByIndex(8, u"x"); }, u"List index out of bounds (8)"},
  };
  for (const auto& [call, message] : failures) {
    EXPECT_EQ(test::MessageOf<EListError>([&] { call(); }), message);
  }

  row.SetValueByName(u"u", u"2147483648");  // beyond 32 bits
  EXPECT_THROW(row.u(), EConvertError);
  row.SetValueByName(u"ic", u"12a");
  EXPECT_EQ(test::MessageOf<EConvertError>([&] { row.ic(); }), u"'12a' is not a valid integer value");

  row.Clear();
  EXPECT_EQ(row.Count(), 8);
  EXPECT_EQ(row.GetValueByName(u"title"), u"");
  row.SetValueByName(u"title", u"again");  // the slots survive Clear
  EXPECT_EQ(row.GetValueByName(u"title"), u"again");
}

}  // namespace
}  // namespace zo
