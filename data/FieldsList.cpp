#include "data/FieldsList.h"

#include "core/Exception.h"
#include "core/Format.h"
#include "core/StringUtils.h"

namespace zo {

PDBFieldInfo TDBFieldsList::Get(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(kSListIndexError, {Index});
  return FItems[static_cast<std::size_t>(Index)].get();
}

int TDBFieldsList::Add() {
  FItems.push_back(std::make_unique<TDBFieldInfo>());
  return Count() - 1;
}

int TDBFieldsList::AddItem(const String& AFieldName, const String& AFieldAlias, ToDataType AFieldType,
                           const String& AFieldValue) {
  FItems.push_back(std::make_unique<TDBFieldInfo>(TDBFieldInfo{AFieldName, AFieldAlias, AFieldType, AFieldValue}));
  return Count() - 1;
}

void TDBFieldsList::AddSystemItems(const String& TableName, bool Link, bool LangState, bool SState,
                                   bool RemoteKey) {
  auto add = [&](const char16_t* column, ToDataType type) {
    AddItem(TableName + u"." + column, column, type, String());
  };
  add(u"ic", odtBigint);
  add(u"u", odtInteger);
  if (SState) add(u"sstate", SystemFieldType(u"sstate"));
  if (Link) {
    add(u"ic_a", odtBigint);
    add(u"u_a", odtInteger);
    add(u"ic_b", odtBigint);
    add(u"u_b", odtInteger);
    if (SState) {
      add(u"sstate_a", odtInteger);
      add(u"sstate_b", odtInteger);
    }
  }
  if (RemoteKey) add(u"remotekey", odtNVarchar);
  if (LangState) add(u"langstate", odtInteger);
}

namespace {

// Bytes a long value will take: UTF-16 text counts two per character.
std::int64_t LongValueSize(const TDBFieldInfo& Item) {
  if (Item.FieldType == odtNClob) return 2 * static_cast<std::int64_t>(Item.FieldValue.size());
  return BinaryTextLength(Item.FieldValue);
}

}  // namespace

int TDBFieldsList::Compare(const TDBFieldInfo* X, const TDBFieldInfo* Y) {
  if (X == Y) return 0;
  const bool xLong = IsLongDataType(X->FieldType);
  const bool yLong = IsLongDataType(Y->FieldType);
  if (!xLong) return yLong ? -1 : 0;
  if (!yLong) return 1;
  const std::int64_t xSize = LongValueSize(*X);
  const std::int64_t ySize = LongValueSize(*Y);
  if (xSize > ySize) return -1;
  if (xSize < ySize) return 1;
  return 0;
}

void TDBFieldsList::Sort() {
  if (Count() < 2) return;
  QuickSort(0, Count() - 1);
}

// Hoare partitioning around the middle item, recursing on the left part and
// looping on the right one. Items are swapped only when strictly out of
// order, which still does not keep the order of equal items in every case.
void TDBFieldsList::QuickSort(int L, int R) {
  auto at = [this](int i) { return FItems[static_cast<std::size_t>(i)].get(); };
  int I = L;
  do {
    I = L;
    int J = R;
    const TDBFieldInfo* pivot = at(L + (R - L) / 2);
    do {
      while (Compare(at(I), pivot) < 0) ++I;
      while (Compare(at(J), pivot) > 0) --J;
      if (I <= J) {
        if (Compare(at(I), at(J)) > 0)
          std::swap(FItems[static_cast<std::size_t>(I)], FItems[static_cast<std::size_t>(J)]);
        ++I;
        --J;
      }
    } while (I <= J);
    if (L < J) QuickSort(L, J);
    L = I;
  } while (I < R);
}

}  // namespace zo
