#include "core/IDList.h"

#include <algorithm>

#include "core/Exception.h"
#include "core/StringUtils.h"

namespace zo {

// ---- TIDValue ---------------------------------------------------------------

TIDValue::TIDValue(StringView AID) : TIDValue(FromString(AID)) {}

TIDValue TIDValue::FromString(StringView AID) {
  return TIDValue(StrToInt64(TextBeforeComma(AID)), StrToInt(TextAfterComma(AID)));
}

String TIDValue::ToString() const { return IntToStr(IC) + u',' + IntToStr(U); }

int TIDValue::Compare(std::int64_t IC1, std::int32_t U1, std::int64_t IC2, std::int32_t U2) {
  if (IC1 != IC2) return IC1 > IC2 ? 1 : -1;
  if (U1 != U2) return U1 > U2 ? 1 : -1;
  return 0;
}

const TIDValueComparer& TIDValueComparer::Shared() {
  static const TIDValueComparer comparer;
  return comparer;
}

// ---- TIDList ----------------------------------------------------------------

namespace {

bool Less(const TIDValue& a, const TIDValue& b) { return TIDValueComparer::Shared().Compare(a, b) < 0; }

constexpr size_t kCountSize = 4;
constexpr size_t kItemSize = 12;

void PutLE(Bytes& out, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t GetLE(const std::uint8_t* p, int size) {
  std::uint64_t value = 0;
  for (int i = 0; i < size; ++i) value |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  return value;
}

}  // namespace

void TIDList::CheckIndex(int Index, int Limit) const {
  if (Index < 0 || Index >= Limit) throw EListError(kSListIndexError, {Index});
}

const TIDValue& TIDList::Items(int Index) const {
  CheckIndex(Index, Count());
  return FItems[static_cast<size_t>(Index)];
}

void TIDList::KeepSortedInvariant(int Index) {
  if (!FSorted) return;
  const size_t i = static_cast<size_t>(Index);
  const bool afterPrevious = i == 0 || !Less(FItems[i], FItems[i - 1]);
  const bool beforeNext = i + 1 >= FItems.size() || !Less(FItems[i + 1], FItems[i]);
  if (!afterPrevious || !beforeNext) FSorted = false;
}

void TIDList::SetItem(int Index, const TIDValue& Value) {
  CheckIndex(Index, Count());
  FItems[static_cast<size_t>(Index)] = Value;
  KeepSortedInvariant(Index);
}

int TIDList::Add(const TIDValue& Value) {
  if (!FSorted) {
    FItems.push_back(Value);
    return Count() - 1;
  }
  int index = 0;
  Find(Value, index);
  FItems.insert(FItems.begin() + index, Value);
  return index;
}

void TIDList::Insert(int Index, const TIDValue& Value) {
  CheckIndex(Index, Count() + 1);
  FItems.insert(FItems.begin() + Index, Value);
  KeepSortedInvariant(Index);
}

void TIDList::Delete(int Index) {
  CheckIndex(Index, Count());
  FItems.erase(FItems.begin() + Index);
}

bool TIDList::Find(const TIDValue& aid, int& Index) const {
  if (!FSorted) {
    const auto it = std::find(FItems.begin(), FItems.end(), aid);
    Index = static_cast<int>(it - FItems.begin());
    return it != FItems.end();
  }
  // Leftmost position whose item is not less than aid: the first of equal
  // items when found, the insertion point otherwise.
  int lo = 0;
  int hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    const int c = TIDValueComparer::Shared().Compare(FItems[static_cast<size_t>(mid)], aid);
    if (c < 0) {
      lo = mid + 1;
    } else {
      if (c == 0) found = true;
      hi = mid - 1;
    }
  }
  Index = lo;
  return found;
}

int TIDList::IndexOf(const TIDValue& aid) const {
  int index = 0;
  return Find(aid, index) ? index : -1;
}

void TIDList::Sort() {
  if (FSorted) return;
  // Equal pairs are indistinguishable, so stability does not matter.
  if (FItems.size() >= 2) std::sort(FItems.begin(), FItems.end(), Less);
  FSorted = true;
}

void TIDList::SetSorted(bool Value) {
  if (Value) Sort();
  else FSorted = false;
}

void TIDList::SetCapacity(int Value) {
  if (Value > 0) FItems.reserve(static_cast<size_t>(Value));
}

Bytes TIDList::SaveToBinary() const {
  Bytes out;
  if (FItems.empty()) return out;
  out.reserve(kCountSize + kItemSize * FItems.size());
  PutLE(out, static_cast<std::uint32_t>(FItems.size()), 4);
  for (const TIDValue& v : FItems) {
    PutLE(out, static_cast<std::uint64_t>(v.IC), 8);
    PutLE(out, static_cast<std::uint32_t>(v.U), 4);
  }
  return out;
}

void TIDList::LoadFromBinary(const Bytes& Value) {
  // Checked before anything changes, so malformed data loses nothing and is
  // never read past its end.
  if (!Value.empty() && Value.size() < kCountSize) {
    throw EConvertError(u"Identifier list data is %d bytes long, too short to hold its item count",
                        {static_cast<unsigned long long>(Value.size())});
  }
  const std::int32_t count = Value.empty() ? 0 : static_cast<std::int32_t>(GetLE(Value.data(), 4));
  if (count < 0) throw EConvertError(u"Identifier list data holds a negative item count (%d)", {count});
  const size_t needed = kCountSize + kItemSize * static_cast<size_t>(count);
  if (!Value.empty() && Value.size() < needed) {
    throw EConvertError(u"Identifier list data is %d bytes long but its item count %d needs %d bytes",
                        {static_cast<unsigned long long>(Value.size()), count,
                         static_cast<unsigned long long>(needed)});
  }
  Clear();
  if (Value.empty()) return;
  SetCapacity(count);
  const std::uint8_t* p = Value.data() + kCountSize;
  for (std::int32_t i = 0; i < count; ++i, p += kItemSize) {
    Add(TIDValue(static_cast<std::int64_t>(GetLE(p, 8)), static_cast<std::int32_t>(GetLE(p + 8, 4))));
  }
}

String TIDList::SaveToString() const {
  std::vector<String> pieces;
  pieces.reserve(FItems.size());
  for (const TIDValue& v : FItems) pieces.push_back(v.ToString());
  return JoinList(pieces, u";");
}

void TIDList::LoadFromString(StringView Value) {
  Clear();
  if (Value.empty()) return;
  std::vector<String> pieces;
  SplitToList(Value, u';', pieces);
  for (const String& piece : pieces) AddItem(piece);
}

}  // namespace zo
