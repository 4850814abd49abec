#include "core/StringList.h"

#include <algorithm>
#include <climits>
#include <istream>
#include <ostream>
#include <utility>

#include "core/Exception.h"
#include "core/StringUtils.h"
#include "platform/TextFile.h"
#include "platform/Utf.h"

namespace zo {

namespace {

constexpr char16_t kSSortedListError[] = u"Operation not allowed on sorted list";
constexpr char16_t kSDuplicateString[] = u"String list does not allow duplicates";
constexpr char16_t kSListCapacityError[] = u"List capacity out of bounds (%d)";
constexpr char16_t kSOddUnicodeFile[] = u"Unicode file %s must have even size";
constexpr char16_t kLineBreak[] = u"\r\n";

// The quicksort of the list family: middle element as pivot, so equal items
// may change their relative order. It permutes A (indexes of the items as
// they stand) and never touches the items, so a comparison that throws leaves
// the list as it was. The scans are bounded, so an inconsistent comparison
// gives some order rather than running off the array; it recurses into the
// smaller part to keep the stack shallow.
void QuickSort(std::vector<int>& A, int L, int R, const std::function<int(int, int)>& Compare) {
  while (L < R) {
    int I = L;
    int J = R;
    int P = L + (R - L) / 2;
    do {
      while (I < R && Compare(A[I], A[P]) < 0) ++I;
      while (J > L && Compare(A[J], A[P]) > 0) --J;
      if (I <= J) {
        if (I != J) std::swap(A[I], A[J]);
        if (P == I) P = J;
        else if (P == J) P = I;
        ++I;
        --J;
      }
    } while (I <= J);
    // Now L..J and I..R remain to be sorted, independently of each other.
    if (J - L < R - I) {
      if (L < J) QuickSort(A, L, J, Compare);
      L = I;
    } else {
      if (I < R) QuickSort(A, I, R, Compare);
      R = J;
    }
  }
}

// Calls Piece(begin, end) for each piece of Text split at every Sep: n
// separators give n + 1 pieces. An empty Sep never matches.
template <typename F>
void SplitPieces(StringView Text, StringView Sep, F&& Piece) {
  size_t start = 0;
  if (!Sep.empty()) {
    for (size_t at = Text.find(Sep); at != StringView::npos; at = Text.find(Sep, start)) {
      Piece(Text.substr(start, at - start), false);
      start = at + Sep.size();
    }
  }
  Piece(Text.substr(start), true);
}

// A list's file and stream form: its text as UTF-16LE bytes.
std::string EncodeUtf16LE(StringView Text) {
  const Bytes bytes = Utf16LEBytes(Text);
  return std::string(bytes.begin(), bytes.end());
}

String DecodeUtf16LE(const std::string& Data) {
  return Utf16LEText({reinterpret_cast<const std::uint8_t*>(Data.data()), Data.size()});
}

// All bytes from the stream's current position to its end.
std::string ReadRemaining(std::istream& Stream) {
  std::string bytes;
  char buffer[64 * 1024];
  while (Stream) {
    Stream.read(buffer, sizeof buffer);
    bytes.append(buffer, static_cast<size_t>(Stream.gcount()));
  }
  if (Stream.bad()) throw EInOutError(kSReadError);
  return bytes;
}

}  // namespace

// ---------------------------------------------------------------------------
// Hash and hash order

std::int32_t NameHash(StringView Name) {
  std::uint32_t h = 0;
  for (char16_t c : Name) h = h * 31u + c;
  return static_cast<std::int32_t>(h);
}

int CompareHashOrder(std::int32_t Hash1, StringView Name1, std::int32_t Hash2, StringView Name2) {
  if (Hash1 != Hash2) return Hash1 < Hash2 ? -1 : 1;
  const int c = Name1.compare(Name2);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// ---------------------------------------------------------------------------
// TVStringList: construction, capacity

TVStringList::TVStringList() = default;
TVStringList::~TVStringList() = default;

void TVStringList::CheckIndex(int Index) const {
  if (Index < 0 || Index >= FCount) throw EListError(kSListIndexError, {Index});
}

void TVStringList::CheckNotSorted() const {
  if (FSorted) throw Exception(String(kSSortedListError));
}

// 4 at a time up to 8, 16 at a time up to 64, then a quarter of the capacity.
void TVStringList::Grow() {
  const int delta = FCapacity > 64 ? FCapacity / 4 : (FCapacity > 8 ? 16 : 4);
  if (FCapacity > INT_MAX - delta) throw EListError(kSListCapacityError, {FCapacity});
  Reallocate(FCapacity + delta);
}

// The items move into an array of exactly NewCapacity; moves cannot throw, so
// a failed allocation leaves everything as it was.
void TVStringList::Reallocate(int NewCapacity) {
  std::vector<TVStringItem> list;
  list.reserve(static_cast<size_t>(NewCapacity));
  for (TVStringItem& item : FList) list.push_back(std::move(item));
  FList.swap(list);
  FCapacity = NewCapacity;
}

void TVStringList::SetCapacity(int NewCapacity) {
  if (NewCapacity < FCount) throw EListError(kSListCapacityError, {NewCapacity});
  if (NewCapacity != FCapacity) Reallocate(NewCapacity);
}

void TVStringList::Clear() {
  std::vector<TVStringItem>().swap(FList);
  FCount = 0;
  FCapacity = 0;
}

void TVStringList::SetSorted(bool Value) {
  if (Value) Sort();
  else FSorted = false;
}

// ---------------------------------------------------------------------------
// Adding and inserting

void TVStringList::InsertItem(int Index, TVStringItem&& Item) {
  if (FCount == FCapacity) Grow();
  // With room in the array the insert only moves items, which cannot throw.
  FList.insert(FList.begin() + Index, std::move(Item));
  ++FCount;
}

int TVStringList::AddItem(StringView Name, StringView Value, TVObject AObject) {
  int index = FCount;
  if (FSorted && Find(Name, index)) {
    if (FDuplicates == vdupIgnore) return index;
    if (FDuplicates == vdupError) throw Exception(String(kSDuplicateString));
  }
  InsertItem(index, TVStringItem{String(Name), String(Value), NameHash(Name), AObject});
  return index;
}

int TVStringList::Add(StringView Name) { return AddItem(Name, {}, {}); }
int TVStringList::AddValue(StringView Name, StringView Value) { return AddItem(Name, Value, {}); }
int TVStringList::AddObject(StringView Name, TVObject AObject) { return AddItem(Name, {}, AObject); }
int TVStringList::AddSL(StringView Name, TVStringList* ASL) { return AddItem(Name, {}, ASL); }
int TVStringList::AddValueSL(StringView Name, StringView Value, TVStringList* ASL) {
  return AddItem(Name, Value, ASL);
}
int TVStringList::AddValueObject(StringView Name, StringView Value, TVObject AObject) {
  return AddItem(Name, Value, AObject);
}

void TVStringList::AddStrings(const TVStringList& Strings) {
  if (Strings.FCount == 0) return;
  // Work on a copy so that a duplicate refused halfway (or Strings being this
  // very list) cannot leave the list half-extended.
  TVStringList result;
  result.FSorted = FSorted;
  result.FDuplicates = FDuplicates;
  result.Reallocate(FCapacity);
  for (const TVStringItem& item : FList) result.FList.push_back(item);
  result.FCount = FCount;
  for (const TVStringItem& item : Strings.FList) result.AddItem(item.FName, item.FValue, item.FObject);
  TakeItems(result);
}

void TVStringList::InsertChecked(int Index, StringView Name, StringView Value, TVObject AObject) {
  CheckNotSorted();
  if (Index < 0 || Index > FCount) throw EListError(kSListIndexError, {Index});
  InsertItem(Index, TVStringItem{String(Name), String(Value), NameHash(Name), AObject});
}

void TVStringList::Insert(int Index, StringView Name) { InsertChecked(Index, Name, {}, {}); }
void TVStringList::InsertValue(int Index, StringView Name, StringView Value) {
  InsertChecked(Index, Name, Value, {});
}
void TVStringList::InsertSL(int Index, StringView Name, TVStringList* ASL) { InsertChecked(Index, Name, {}, ASL); }
void TVStringList::InsertValueSL(int Index, StringView Name, StringView Value, TVStringList* ASL) {
  InsertChecked(Index, Name, Value, ASL);
}
void TVStringList::InsertValueObject(int Index, StringView Name, StringView Value, TVObject AObject) {
  InsertChecked(Index, Name, Value, AObject);
}

// ---------------------------------------------------------------------------
// Slots

const String& TVStringList::GetName(int Index) const {
  CheckIndex(Index);
  return FList[Index].FName;
}

const String& TVStringList::GetValue(int Index) const {
  CheckIndex(Index);
  return FList[Index].FValue;
}

void* TVStringList::GetObject(int Index) const {
  CheckIndex(Index);
  return FList[Index].FObject.Address();
}

TVStringList* TVStringList::GetVSL(int Index) const {
  CheckIndex(Index);
  return FList[Index].FObject.AsVSL();
}

TDStringList* TVStringList::GetDSL(int Index) const {
  CheckIndex(Index);
  return FList[Index].FObject.AsDSL();
}

TVObject TVStringList::GetObjectSlot(int Index) const {
  CheckIndex(Index);
  return FList[Index].FObject;
}

// Renaming could move the item out of hash order, hence not on a sorted list.
void TVStringList::SetName(int Index, StringView Name) {
  CheckNotSorted();
  CheckIndex(Index);
  String name(Name);
  FList[Index].FHash = NameHash(name);
  FList[Index].FName.swap(name);
}

void TVStringList::SetValue(int Index, StringView Value) {
  CheckIndex(Index);
  FList[Index].FValue.assign(Value);
}

void TVStringList::SetObject(int Index, TVObject AObject) {
  CheckIndex(Index);
  FList[Index].FObject = AObject;
}

void TVStringList::SetVSL(int Index, TVStringList* ASL) { SetObject(Index, ASL); }

String TVStringList::GetValueByName(StringView Name) const {
  int index;
  return Find(Name, index) ? FList[index].FValue : String();
}

void TVStringList::SetValueByName(StringView Name, StringView Value) {
  int index;
  if (Find(Name, index)) FList[index].FValue.assign(Value);
  else InsertItem(index, TVStringItem{String(Name), String(Value), NameHash(Name), {}});
}

// ---------------------------------------------------------------------------
// Removing and reordering

void TVStringList::Delete(int Index) {
  CheckIndex(Index);
  FList.erase(FList.begin() + Index);
  --FCount;
}

void TVStringList::Remove(StringView Name) {
  int index;
  if (Find(Name, index)) Delete(index);
}

// Swapping two items of a sorted list would break the hash order that its
// lookups rely on, so it is refused like the other positional changes.
void TVStringList::Exchange(int Index1, int Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  CheckNotSorted();
  std::swap(FList[Index1], FList[Index2]);
}

// Equivalent to Delete(CurIndex) and inserting the item again at NewIndex,
// but every check comes first: the item is never lost halfway.
void TVStringList::Move(int CurIndex, int NewIndex) {
  CheckIndex(CurIndex);
  if (CurIndex == NewIndex) return;
  CheckNotSorted();
  if (NewIndex < 0 || NewIndex >= FCount) throw EListError(kSListIndexError, {NewIndex});
  const auto first = FList.begin();
  if (CurIndex < NewIndex) std::rotate(first + CurIndex, first + CurIndex + 1, first + NewIndex + 1);
  else std::rotate(first + NewIndex, first + CurIndex, first + CurIndex + 1);
}

// ---------------------------------------------------------------------------
// Searching

bool TVStringList::Find(StringView Name, int& Index) const {
  const std::int32_t hash = NameHash(Name);
  if (!FSorted) {
    for (int i = 0; i < FCount; ++i) {
      if (FList[i].FHash == hash && FList[i].FName == Name) {
        Index = i;
        return true;
      }
    }
    Index = FCount;
    return false;
  }
  bool found = false;
  int low = 0;
  int high = FCount - 1;
  while (low <= high) {
    const int mid = low + (high - low) / 2;
    const int c = CompareHashOrder(FList[mid].FHash, FList[mid].FName, hash, Name);
    if (c < 0) {
      low = mid + 1;
    } else {
      high = mid - 1;
      if (c == 0) {
        found = true;
        // With duplicates accepted keep going left to the first equal item.
        if (FDuplicates != vdupAccept) low = mid;
      }
    }
  }
  Index = low;
  return found;
}

bool TVStringList::FindValue(StringView Name, StringView Value, int& Index) const {
  const std::int32_t hash = NameHash(Name);
  if (FSorted) {
    int first;
    if (!Find(Name, first)) {
      Index = first;
      return false;
    }
    // Equal names sit together; Find may have landed inside the run.
    while (first > 0 && FList[first - 1].FHash == hash && FList[first - 1].FName == Name) --first;
    for (int i = first; i < FCount && FList[i].FHash == hash && FList[i].FName == Name; ++i) {
      if (FList[i].FValue == Value) {
        Index = i;
        return true;
      }
    }
    Index = first;
    return false;
  }
  for (int i = 0; i < FCount; ++i) {
    const TVStringItem& item = FList[i];
    if (item.FHash == hash && item.FName == Name && item.FValue == Value) {
      Index = i;
      return true;
    }
  }
  Index = FCount;
  return false;
}

bool TVStringList::FindValue(StringView Value, int& Index) const {
  for (int i = 0; i < FCount; ++i) {
    if (FList[i].FValue == Value) {
      Index = i;
      return true;
    }
  }
  Index = FCount;
  return false;
}

int TVStringList::IndexOf(StringView Name) const {
  int index;
  return Find(Name, index) ? index : -1;
}

int TVStringList::IndexOfObject(TVObject AObject) const {
  if (AObject.IsEmpty()) return -1;
  for (int i = FCount - 1; i >= 0; --i) {
    if (FList[i].FObject.Address() == AObject.Address()) return i;
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Sorting

void TVStringList::SortWith(const std::function<int(int, int)>& Compare) {
  if (FCount < 2) return;
  std::vector<int> order(static_cast<size_t>(FCount));
  for (int i = 0; i < FCount; ++i) order[i] = i;
  QuickSort(order, 0, FCount - 1, Compare);
  std::vector<TVStringItem> list;
  list.reserve(static_cast<size_t>(FCapacity));
  for (int i : order) list.push_back(std::move(FList[i]));
  FList.swap(list);
}

void TVStringList::Sort() {
  if (FSorted) return;
  SortWith([this](int a, int b) {
    return CompareHashOrder(FList[a].FHash, FList[a].FName, FList[b].FHash, FList[b].FName);
  });
  FSorted = true;
}

void TVStringList::SortByName() {
  if (FSorted) return;
  SortWith([this](int a, int b) {
    const int c = FList[a].FName.compare(FList[b].FName);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  });
}

void TVStringList::SortByObject() {
  if (FSorted) return;
  SortWith([this](int a, int b) {
    const auto x = reinterpret_cast<std::uintptr_t>(FList[a].FObject.Address());
    const auto y = reinterpret_cast<std::uintptr_t>(FList[b].FObject.Address());
    return x < y ? -1 : (x > y ? 1 : 0);
  });
}

void TVStringList::CustomSort(const TVStringListSortCompare& Compare) {
  if (FSorted) return;
  SortWith([this, &Compare](int a, int b) { return Compare(*this, a, b); });
}

// ---------------------------------------------------------------------------
// Text, line and file forms

String TVStringList::SaveToString(char16_t Sep, bool WithValues) const {
  return SaveToString(StringView(&Sep, 1), WithValues);
}

String TVStringList::SaveToString(StringView Sep, bool WithValues) const {
  if (FCount == 0) return String();
  // Size first, then fill one allocation.
  size_t length = Sep.size() * static_cast<size_t>(FCount - 1);
  for (const TVStringItem& item : FList) length += item.FName.size() + (WithValues ? 1 + item.FValue.size() : 0);
  String text;
  text.reserve(length);
  for (int i = 0; i < FCount; ++i) {
    if (i > 0) text += Sep;
    text += FList[i].FName;
    if (WithValues) {
      text += u'=';
      text += FList[i].FValue;
    }
  }
  return text;
}

// Adds the pieces of MainString to this (empty) list. DropEmptyLastLine skips
// a last piece that would give an item with empty name and value: the nothing
// after a final line break.
void TVStringList::ParseInto(StringView MainString, StringView Sep, bool WithValues, bool DropEmptyLastLine) {
  if (MainString.empty()) return;
  SplitPieces(MainString, Sep, [&](StringView piece, bool last) {
    StringView name = piece;
    StringView value;
    if (WithValues) {
      const size_t eq = piece.find(u'=');
      if (eq == StringView::npos) {
        name = {};
        value = piece;
      } else {
        name = piece.substr(0, eq);
        value = piece.substr(eq + 1);
      }
    }
    if (last && DropEmptyLastLine && name.empty() && value.empty()) return;
    AddItem(name, value, {});
  });
}

void TVStringList::TakeItems(TVStringList& Source) {
  FList.swap(Source.FList);
  FCount = Source.FCount;
  FCapacity = Source.FCapacity;
}

void TVStringList::LoadFromString(StringView MainString, char16_t Sep, bool WithValues) {
  LoadFromString(MainString, StringView(&Sep, 1), WithValues);
}

// The new items are gathered in a list of the same kind first and taken over
// only when all of them are in, so a refused duplicate changes nothing.
void TVStringList::LoadFromString(StringView MainString, StringView Sep, bool WithValues) {
  TVStringList result;
  result.FSorted = FSorted;
  result.FDuplicates = FDuplicates;
  result.ParseInto(MainString, Sep, WithValues, false);
  TakeItems(result);
}

// Every line ends with a line break; the condition is on the items rather
// than on the text, so that a list of one empty name reads back the same.
String TVStringList::GetTextStr(bool WithValues) const {
  if (FCount == 0) return String();
  return SaveToString(kLineBreak, WithValues) + kLineBreak;
}

void TVStringList::SetTextStr(StringView Value, bool WithValues) {
  TVStringList result;
  result.FSorted = FSorted;
  result.FDuplicates = FDuplicates;
  result.ParseInto(Value, kLineBreak, WithValues, true);
  TakeItems(result);
}

void TVStringList::SaveToStream(std::ostream& Stream, bool WithValues) const {
  const std::string bytes = EncodeUtf16LE(GetTextStr(WithValues));
  Stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!Stream) throw EInOutError(kSWriteError);
}

void TVStringList::LoadFromStream(std::istream& Stream, bool WithValues) {
  std::string bytes = ReadRemaining(Stream);
  bytes.resize(bytes.size() & ~size_t{1});
  SetTextStr(DecodeUtf16LE(bytes), WithValues);
}

// The file is written and read whole, by platform's text files: a failure
// to create or write it is the create error, one to open or read it the open
// error, each with the system's reason.
void TVStringList::SaveToFile(const String& FileName, bool WithValues) const {
  const std::string bytes = EncodeUtf16LE(GetTextStr(WithValues));
  if (const int error = WriteWholeFile(FileName, bytes)) RaiseCreateError(FileName, error);
}

// POSIX has no sharing modes, so others are not kept from writing meanwhile;
// the whole file is read in one pass before anything is parsed.
void TVStringList::LoadFromFile(const String& FileName, bool WithValues) {
  std::string bytes;
  if (const int error = ReadWholeFile(FileName, bytes)) RaiseOpenError(FileName, error);
  if (bytes.size() % 2 != 0) throw Exception(kSOddUnicodeFile, {FileName});
  SetTextStr(DecodeUtf16LE(bytes), WithValues);
}

// ---------------------------------------------------------------------------
// Delimited-text helpers

void SplitToList(StringView Text, char16_t Delimiter, TVStringList& List) {
  List.LoadFromString(Text, Delimiter, false);
}

String JoinList(const TVStringList& List, StringView Separator) { return List.SaveToString(Separator, false); }

// ---------------------------------------------------------------------------
// THStringList

THStringList::THStringList() = default;
THStringList::~THStringList() = default;

void THStringList::CheckIndex(int Index) const {
  if (Index < 0 || Index >= FCapacity) throw EListError(kSListIndexError, {Index});
}

void THStringList::SetCapacity(int NewCapacity) {
  if (NewCapacity < 0) throw EListError(kSListCapacityError, {NewCapacity});
  FList.resize(static_cast<size_t>(NewCapacity));
  FCapacity = NewCapacity;
}

void THStringList::Clear() {
  std::vector<THStringItem>().swap(FList);
  FCapacity = 0;
}

void THStringList::Insert(int Index, StringView AName, void* APointer) {
  CheckIndex(Index);
  THStringItem item{String(AName), NameHash(AName), APointer};
  FList[Index] = std::move(item);
}

const String& THStringList::GetName(int Index) const {
  CheckIndex(Index);
  return FList[Index].FName;
}

void* THStringList::GetPointer(int Index) const {
  CheckIndex(Index);
  return FList[Index].FPointer;
}

void THStringList::Sort() {
  if (FCapacity < 2) return;
  std::vector<int> order(static_cast<size_t>(FCapacity));
  for (int i = 0; i < FCapacity; ++i) order[i] = i;
  QuickSort(order, 0, FCapacity - 1, [this](int a, int b) {
    return CompareHashOrder(FList[a].FHash, FList[a].FName, FList[b].FHash, FList[b].FName);
  });
  std::vector<THStringItem> list;
  list.reserve(FList.size());
  for (int i : order) list.push_back(std::move(FList[i]));
  FList.swap(list);
}

bool THStringList::Find(StringView Name, int& Index) const {
  const std::int32_t hash = NameHash(Name);
  int low = 0;
  int high = FCapacity - 1;
  while (low <= high) {
    const int mid = low + (high - low) / 2;
    const int c = CompareHashOrder(FList[mid].FHash, FList[mid].FName, hash, Name);
    if (c < 0) {
      low = mid + 1;
    } else if (c > 0) {
      high = mid - 1;
    } else {
      Index = mid;
      return true;
    }
  }
  Index = low;
  return false;
}

bool THStringList::FindLang(StringView Name, const TIDValue& Lang, int& Index) const {
  if (Lang.IC == 0 && Lang.U == 0) return Find(Name, Index);
  String key(Name);
  key += u'.';
  key += Lang.ToString();
  return Find(key, Index);
}

int THStringList::IndexOf(StringView Name) const {
  int index;
  return Find(Name, index) ? index : -1;
}

// ---------------------------------------------------------------------------
// TDStringList

TDStringList::TDStringList(const THStringList& AHeaderSL)
    : FList(static_cast<size_t>(AHeaderSL.Count())), FHeaderSL(&AHeaderSL) {}

TDStringList::~TDStringList() = default;

const String& TDStringList::GetValueByIndex(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(kSListIndexError, {Index});
  return FList[Index];
}

void TDStringList::SetValueByIndex(int Index, StringView Value) {
  if (Index < 0 || Index >= Count()) throw EListError(kSListIndexError, {Index});
  FList[Index].assign(Value);
}

// A header grown after the row was made may name a slot the row lacks; such a
// column counts as absent.
int TDStringList::SlotOf(StringView Name, const TIDValue* Lang) const {
  int index;
  const bool found = Lang ? FHeaderSL->FindLang(Name, *Lang, index) : FHeaderSL->Find(Name, index);
  return found && index < Count() ? index : -1;
}

void TDStringList::SetSlot(int Slot, StringView Name, StringView Value) {
  if (Slot < 0) throw EListError(u"List index out of bounds (%s)", {String(Name)});
  FList[Slot].assign(Value);
}

String TDStringList::GetValueByName(StringView Name) const {
  const int slot = SlotOf(Name, nullptr);
  return slot < 0 ? String() : FList[slot];
}

void TDStringList::SetValueByName(StringView Name, StringView Value) { SetSlot(SlotOf(Name, nullptr), Name, Value); }

String TDStringList::GetValueByLangName(StringView Name, const TIDValue& Lang) const {
  const int slot = SlotOf(Name, &Lang);
  return slot < 0 ? String() : FList[slot];
}

void TDStringList::SetValueByLangName(StringView Name, const TIDValue& Lang, StringView Value) {
  SetSlot(SlotOf(Name, &Lang), Name, Value);
}

std::int64_t TDStringList::ic() const { return StrToInt64(GetValueByName(u"ic")); }
std::int32_t TDStringList::u() const { return StrToInt(GetValueByName(u"u")); }
std::int64_t TDStringList::ic_a() const { return StrToInt64(GetValueByName(u"ic_a")); }
std::int32_t TDStringList::u_a() const { return StrToInt(GetValueByName(u"u_a")); }
std::int64_t TDStringList::ic_b() const { return StrToInt64(GetValueByName(u"ic_b")); }
std::int32_t TDStringList::u_b() const { return StrToInt(GetValueByName(u"u_b")); }

String TDStringList::RecID() const { return GetValueByName(u"ic") + u"," + GetValueByName(u"u"); }
String TDStringList::RecIDA() const { return GetValueByName(u"ic_a") + u"," + GetValueByName(u"u_a"); }
String TDStringList::RecIDB() const { return GetValueByName(u"ic_b") + u"," + GetValueByName(u"u_b"); }

void TDStringList::Clear() {
  for (String& value : FList) value.clear();
}

}  // namespace zo
