// The system's own string lists.
//
// TVStringList: an ordered list of name/value items, each with an object slot,
//   optionally kept in hash order so that lookups are binary searches.
// THStringList: a fixed-size header of column names, sorted once when built.
// TDStringList: one row of texts addressed by the column names of a header.
//
// Every operation that fails raises and leaves its list as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <vector>

#include "core/IDList.h"
#include "core/String.h"

namespace zo {

class TVStringList;
class TDStringList;

// h = h * 31 + unit over the UTF-16 code units of Name, modulo 2^32, read as
// a signed number. The empty name hashes to 0.
std::int32_t NameHash(StringView Name);

// Hash order: by hash (signed), then by name (ordinal, case-sensitive).
// Negative, zero or positive as (Hash1, Name1) comes before, equals or
// follows (Hash2, Name2). Not alphabetical: it only makes lookups fast.
int CompareHashOrder(std::int32_t Hash1, StringView Name1, std::int32_t Hash2, StringView Name2);

// What a sorted TVStringList does with a name it already holds.
enum class TVDuplicates : std::uint8_t { vdupIgnore = 0, vdupAccept = 1, vdupError = 2 };
using enum TVDuplicates;

// The object slot of an item: empty, or one reference of one of three kinds
// (any object, a nested list, a row). The list never owns or frees it.
// Reading a slot as a kind it does not hold gives nullptr rather than a
// pointer of the wrong type.
class TVObject {
 public:
  TVObject() = default;
  TVObject(std::nullptr_t) {}
  TVObject(void* AObject) : FPointer(AObject), FKind(AObject ? TSlotKind::skObject : TSlotKind::skNone) {}
  TVObject(TVStringList* AList) : FPointer(AList), FKind(AList ? TSlotKind::skList : TSlotKind::skNone) {}
  TVObject(TDStringList* ARow) : FPointer(ARow), FKind(ARow ? TSlotKind::skRow : TSlotKind::skNone) {}

  // The address held, whatever its kind; nullptr when empty.
  void* Address() const { return FPointer; }
  TVStringList* AsVSL() const { return FKind == TSlotKind::skList ? static_cast<TVStringList*>(FPointer) : nullptr; }
  TDStringList* AsDSL() const { return FKind == TSlotKind::skRow ? static_cast<TDStringList*>(FPointer) : nullptr; }
  bool IsEmpty() const { return FPointer == nullptr; }

  friend bool operator==(const TVObject&, const TVObject&) = default;

 private:
  enum class TSlotKind : std::uint8_t { skNone, skObject, skList, skRow };
  void* FPointer = nullptr;
  TSlotKind FKind = TSlotKind::skNone;
};

struct TVStringItem {
  String FName;
  String FValue;
  std::int32_t FHash = 0;  // always NameHash(FName)
  TVObject FObject;
};

class TVStringList {
 public:
  // Compares the items at Index1 and Index2 of List: negative, zero or positive.
  using TVStringListSortCompare = std::function<int(const TVStringList& List, int Index1, int Index2)>;

  // Empty, capacity 0, not sorted, duplicates accepted.
  TVStringList();
  virtual ~TVStringList();
  TVStringList(const TVStringList&) = delete;
  TVStringList& operator=(const TVStringList&) = delete;

  // --- Adding. On an unsorted list the item is appended; on a sorted one it
  // goes to its place in hash order, and a name already present is handled by
  // Duplicates(). Returns the index of the new item, or of the existing one
  // with vdupIgnore.
  int Add(StringView Name);
  int AddValue(StringView Name, StringView Value);
  int AddObject(StringView Name, TVObject AObject);
  int AddSL(StringView Name, TVStringList* ASL);
  int AddValueSL(StringView Name, StringView Value, TVStringList* ASL);
  int AddValueObject(StringView Name, StringView Value, TVObject AObject);
  // Adds every item of Strings in order with its name, value and object slot.
  void AddStrings(const TVStringList& Strings);

  // --- Inserting at Index (0 to Count); later items move up. Not allowed on a
  // sorted list.
  void Insert(int Index, StringView Name);
  void InsertValue(int Index, StringView Name, StringView Value);
  void InsertSL(int Index, StringView Name, TVStringList* ASL);
  void InsertValueSL(int Index, StringView Name, StringView Value, TVStringList* ASL);
  void InsertValueObject(int Index, StringView Name, StringView Value, TVObject AObject);

  // --- Slots by position.
  const String& GetName(int Index) const;
  const String& GetValue(int Index) const;
  void* GetObject(int Index) const;         // any object the slot holds
  TVStringList* GetVSL(int Index) const;    // nullptr unless the slot holds a list
  TDStringList* GetDSL(int Index) const;    // nullptr unless the slot holds a row
  TVObject GetObjectSlot(int Index) const;  // the slot itself, kind included
  void SetName(int Index, StringView Name);  // not allowed on a sorted list
  void SetValue(int Index, StringView Value);
  void SetObject(int Index, TVObject AObject);
  void SetVSL(int Index, TVStringList* ASL);

  // --- Slots by name (through Find). GetValueByName gives the empty text for
  // a name that is not there; SetValueByName then inserts it where Find
  // reported, without consulting the duplicate rule.
  String GetValueByName(StringView Name) const;
  void SetValueByName(StringView Name, StringView Value);

  // --- Removing and reordering.
  void Delete(int Index);  // keeps the capacity
  void Remove(StringView Name);
  void Exchange(int Index1, int Index2);
  void Move(int CurIndex, int NewIndex);
  void Clear();  // releases the array: capacity 0

  // --- Searching. Find: on a sorted list a binary search in hash order (the
  // first of several equal names with vdupAccept), Index = the insertion
  // point when not found; on an unsorted list a scan from the front, Index =
  // Count when not found.
  virtual bool Find(StringView Name, int& Index) const;
  bool FindValue(StringView Name, StringView Value, int& Index) const;
  bool FindValue(StringView Value, int& Index) const;  // first item with that value
  int IndexOf(StringView Name) const;                   // -1 when absent
  int IndexOfObject(TVObject AObject) const;            // last holder, -1 when absent or empty

  // --- Sorting (a quicksort: equal items may change their relative order).
  // Sort puts the list in hash order and marks it sorted; the others reorder
  // an unsorted list without marking it and do nothing on a sorted one.
  virtual void Sort();
  void SortByName();
  void SortByObject();
  virtual void CustomSort(const TVStringListSortCompare& Compare);

  // --- Text form: "name=value" (or "name" without values) joined with Sep.
  // Nothing is escaped. LoadFromString replaces the items with the pieces of
  // MainString split at every Sep (n separators, n + 1 pieces); with values a
  // piece is cut at its first "=", a piece without "=" is a value alone.
  String SaveToString(char16_t Sep, bool WithValues) const;
  String SaveToString(StringView Sep, bool WithValues) const;
  void LoadFromString(StringView MainString, char16_t Sep, bool WithValues);
  void LoadFromString(StringView MainString, StringView Sep, bool WithValues);

  // --- Line form: one item per line, every line ending with CR LF. Setting it
  // ignores the empty line after a final line break.
  String GetTextStr(bool WithValues) const;
  void SetTextStr(StringView Value, bool WithValues);
  // The Text property: the line form of the names alone.
  String Text() const { return GetTextStr(false); }
  void SetText(StringView Value) { SetTextStr(Value, false); }

  // --- File form: the line form as UTF-16 little-endian code units, no
  // byte-order mark. LoadFromFile rejects a file of odd size; LoadFromStream
  // reads from the current position to the end and drops an odd last byte.
  void SaveToStream(std::ostream& Stream, bool WithValues) const;
  void LoadFromStream(std::istream& Stream, bool WithValues);
  void SaveToFile(const String& FileName, bool WithValues) const;
  void LoadFromFile(const String& FileName, bool WithValues);

  // --- Properties.
  int Count() const { return FCount; }
  int Capacity() const { return FCapacity; }
  void SetCapacity(int NewCapacity);  // not below Count
  bool Sorted() const { return FSorted; }
  void SetSorted(bool Value);  // true sorts; false only clears the mark
  TVDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TVDuplicates Value) { FDuplicates = Value; }

 private:
  int AddItem(StringView Name, StringView Value, TVObject AObject);
  void InsertChecked(int Index, StringView Name, StringView Value, TVObject AObject);
  void InsertItem(int Index, TVStringItem&& Item);
  void CheckIndex(int Index) const;
  void CheckNotSorted() const;
  void Grow();
  void Reallocate(int NewCapacity);
  // Reorders the items by Less-style comparison of their original indexes.
  void SortWith(const std::function<int(int, int)>& Compare);
  // Takes over the items and capacity of Source (used to commit a load).
  void TakeItems(TVStringList& Source);
  void ParseInto(StringView MainString, StringView Sep, bool WithValues, bool DropEmptyLastLine);

  std::vector<TVStringItem> FList;  // FList.size() == FCount
  int FCount = 0;
  int FCapacity = 0;
  bool FSorted = false;
  TVDuplicates FDuplicates = vdupAccept;
};

// The delimited-text helpers over a string list's names: SplitToList clears
// List and adds one name per piece of Text split at Delimiter (an empty Text
// gives no items); JoinList joins the names with Separator.
void SplitToList(StringView Text, char16_t Delimiter, TVStringList& List);
String JoinList(const TVStringList& List, StringView Separator);

struct THStringItem {
  String FName;
  std::int32_t FHash = 0;
  void* FPointer = nullptr;
};

// A header of column names. Its builder sets the capacity, fills every slot
// with Insert and then calls Sort; lookups are binary searches in hash order
// and are only meaningful after that.
class THStringList {
 public:
  THStringList();
  virtual ~THStringList();
  THStringList(const THStringList&) = delete;
  THStringList& operator=(const THStringList&) = delete;

  // Fills slot Index (no shifting).
  void Insert(int Index, StringView AName, void* APointer);
  virtual void Sort();
  bool Find(StringView Name, int& Index) const;
  // Looks up "Name.<Lang's text form>", or Name itself for the empty
  // identifier 0,0.
  bool FindLang(StringView Name, const TIDValue& Lang, int& Index) const;
  int IndexOf(StringView Name) const;  // -1 when absent
  const String& GetName(int Index) const;
  void* GetPointer(int Index) const;
  void SetCapacity(int NewCapacity);  // new slots are empty; slots beyond it are dropped
  void Clear();

  int Count() const { return FCapacity; }
  int Capacity() const { return FCapacity; }

 private:
  void CheckIndex(int Index) const;

  std::vector<THStringItem> FList;  // FList.size() == FCapacity
  int FCapacity = 0;
};

// One row of texts, one per column of its header (which it does not own and
// which must outlive it).
class TDStringList {
 public:
  explicit TDStringList(const THStringList& AHeaderSL);
  virtual ~TDStringList();
  TDStringList(const TDStringList&) = delete;
  TDStringList& operator=(const TDStringList&) = delete;

  const THStringList& HeaderSL() const { return *FHeaderSL; }
  int Count() const { return static_cast<int>(FList.size()); }

  const String& GetValueByIndex(int Index) const;
  void SetValueByIndex(int Index, StringView Value);
  // The empty text for a column the header lacks.
  String GetValueByName(StringView Name) const;
  // Fails with "List index out of bounds (<Name>)" for a column the header lacks.
  void SetValueByName(StringView Name, StringView Value);
  String GetValueByLangName(StringView Name, const TIDValue& Lang) const;
  void SetValueByLangName(StringView Name, const TIDValue& Lang, StringView Value);

  // The identifier columns read as numbers; a text that is not a decimal
  // integer of the right size fails with the platform's integer message.
  std::int64_t ic() const;
  std::int32_t u() const;
  std::int64_t ic_a() const;
  std::int32_t u_a() const;
  std::int64_t ic_b() const;
  std::int32_t u_b() const;
  // The identifier text forms "ic,u", "ic_a,u_a" and "ic_b,u_b".
  String RecID() const;
  String RecIDA() const;
  String RecIDB() const;

  // Empties every value; the row keeps one slot per column.
  void Clear();

 private:
  int SlotOf(StringView Name, const TIDValue* Lang) const;  // -1 when absent
  void SetSlot(int Slot, StringView Name, StringView Value);

  std::vector<String> FList;
  const THStringList* FHeaderSL;
};

}  // namespace zo
