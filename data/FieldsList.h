// Field lists: the columns of a select or write, each with its name in SQL,
// its alias, its type and its value as text, plus the system columns every
// table of the application's schema carries.
#pragma once

#include <memory>
#include <vector>

#include "core/String.h"
#include "data/DataTypes.h"

namespace zo {

struct TDBFieldInfo {
  String FieldName;   // as written in SQL, "table.column" for system columns
  String FieldAlias;  // the column's name in the result
  ToDataType FieldType = odtUnknown;
  String FieldValue;  // the value's text form, for writes
};
using PDBFieldInfo = TDBFieldInfo*;

// Owns its items: they live until Clear or the list's destruction, and the
// references Get hands out stay valid until then (Sort only reorders them).
class TDBFieldsList {
 public:
  TDBFieldsList() = default;
  TDBFieldsList(const TDBFieldsList&) = delete;
  TDBFieldsList& operator=(const TDBFieldsList&) = delete;

  int Count() const { return static_cast<int>(FItems.size()); }
  // Raises the list-index error for an index outside the list.
  PDBFieldInfo Get(int Index) const;
  PDBFieldInfo Items(int Index) const { return Get(Index); }

  // Each appends at the end and returns the new item's index.
  int Add();
  int AddItem(const String& AFieldName, const String& AFieldAlias, ToDataType AFieldType,
              const String& AFieldValue);

  // Appends the system columns of TableName, in this order: ic, u, sstate
  // (SState), the link pairs ic_a, u_a, ic_b, u_b (Link) and sstate_a,
  // sstate_b (Link and SState), remotekey (RemoteKey), langstate (LangState).
  void AddSystemItems(const String& TableName, bool Link, bool LangState, bool SState, bool RemoteKey);

  // Puts the long fields (odtNClob, odtBlob) after the fixed ones, the long
  // ones by decreasing value size. Not stable. A odtBlob value that is not
  // binary text raises the binary format error.
  void Sort();

  void Clear() { FItems.clear(); }

 private:
  // -1, 0 or +1: fixed fields before long ones, larger long values first.
  static int Compare(const TDBFieldInfo* X, const TDBFieldInfo* Y);
  void QuickSort(int L, int R);

  std::vector<std::unique_ptr<TDBFieldInfo>> FItems;
};

}  // namespace zo
