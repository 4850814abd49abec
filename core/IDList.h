// Identifier pairs (a 64-bit record number and a 32-bit secondary number) and
// a growable list of them that can be kept sorted, searched, and saved to and
// loaded from a compact binary form and a text form.
#pragma once

#include <cstdint>
#include <vector>

#include "core/String.h"

namespace zo {

struct TIDValue {
  std::int64_t IC = 0;
  std::int32_t U = 0;

  constexpr TIDValue() = default;
  constexpr TIDValue(std::int64_t AIC, std::int32_t AU) : IC(AIC), U(AU) {}
  // Parses the text form (FromString).
  explicit TIDValue(StringView AID);

  static TIDValue Create(std::int64_t AIC, std::int32_t AU) { return TIDValue(AIC, AU); }
  static TIDValue Create(StringView AID) { return TIDValue(AID); }
  static TIDValue FromValues(std::int64_t AIC, std::int32_t AU) { return TIDValue(AIC, AU); }
  // IC from the text before the first comma, U from the text after it; each
  // part must be a decimal integer, else EConvertError "'%s' is not a valid
  // integer value" naming that part ('1,2,3' fails on '2,3').
  static TIDValue FromString(StringView AID);

  // "IC,U", for example '401,0' or '-5,-1'.
  String ToString() const;

  // 1, 0 or -1: by IC, then by U, both signed.
  int Compare(std::int64_t AIC, std::int32_t AU) const { return Compare(IC, U, AIC, AU); }
  bool Equal(std::int64_t AIC, std::int32_t AU) const { return IC == AIC && U == AU; }
  static int Compare(std::int64_t IC1, std::int32_t U1, std::int64_t IC2, std::int32_t U2);
  static int Compare(const TIDValue& ID1, const TIDValue& ID2) { return Compare(ID1.IC, ID1.U, ID2.IC, ID2.U); }

  friend bool operator==(const TIDValue&, const TIDValue&) = default;
};

// The order every TIDList uses.
class TIDValueComparer {
 public:
  int Compare(const TIDValue& Left, const TIDValue& Right) const { return TIDValue::Compare(Left, Right); }
  static const TIDValueComparer& Shared();
};

class TIDList {
 public:
  TIDList() = default;

  int Count() const { return static_cast<int>(FItems.size()); }
  // Index errors raise EListError "List index out of bounds (%d)".
  const TIDValue& Items(int Index) const;
  const TIDValue& operator[](int Index) const { return Items(Index); }
  // Replacing an item of a sorted list clears the sorted mark when the new
  // value breaks the order.
  void SetItem(int Index, const TIDValue& Value);

  // Appends, or in a sorted list inserts before any equal items; returns the
  // index of the new item.
  int Add(const TIDValue& Value);
  int AddItem(std::int64_t aic, std::int32_t au) { return Add(TIDValue(aic, au)); }
  int AddItem(StringView aid) { return Add(TIDValue::FromString(aid)); }
  // Index 0..Count; like SetItem, clears the sorted mark if the order breaks.
  void Insert(int Index, const TIDValue& Value);
  void Delete(int Index);
  void Clear() { FItems.clear(); }

  // Unsorted: linear scan, Index = Count when absent. Sorted: binary search
  // giving the first of equal items, or the insertion point when absent.
  bool Find(const TIDValue& aid, int& Index) const;
  int IndexOf(const TIDValue& aid) const;

  // Sorts (unless already marked sorted) and sets the mark.
  void Sort();
  bool Sorted() const { return FSorted; }
  // True sorts; false only clears the mark.
  void SetSorted(bool Value);

  int Capacity() const { return static_cast<int>(FItems.capacity()); }
  // Reserves room; never drops items.
  void SetCapacity(int Value);

  // Little-endian: a 32-bit count N, then N times a 64-bit IC and a 32-bit U.
  // An empty list is the empty byte string.
  Bytes SaveToBinary() const;
  // Data shorter than its count says is rejected (EConvertError) and the list
  // is left as it was.
  void LoadFromBinary(const Bytes& Value);

  // The items' text forms joined with ';' ('401,0;402,1'); empty when empty.
  String SaveToString() const;
  // Clears, then adds every ';'-separated piece; an empty piece fails. Items
  // added before a failing piece stay.
  void LoadFromString(StringView Value);

  std::vector<TIDValue>::const_iterator begin() const { return FItems.begin(); }
  std::vector<TIDValue>::const_iterator end() const { return FItems.end(); }

 private:
  void CheckIndex(int Index, int Limit) const;
  // Clears the sorted mark when the item at Index is out of order.
  void KeepSortedInvariant(int Index);

  std::vector<TIDValue> FItems;
  bool FSorted = false;
};

}  // namespace zo
