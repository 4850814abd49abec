// The data layer's statements. TExQuery ties a TODBCStatement to a
// TConnectionInfo: it fills parameters from field types, chooses cursor
// settings by server kind and notices when an error has cost the open
// transaction. TExReadQuery opens cursors and reads values as text by field
// type; TExWriteQuery executes statements that change data. Both move the
// connection's state while they work.
//
// Calling order: FillConnectionProps, SetSQLText (it needs the server kind),
// the parameters, then Open/OpenSP ... Close, or ExecSQL.
#pragma once

#include <cstdint>

#include "core/String.h"
#include "data/ConnectionInfo.h"
#include "data/DataTypes.h"
#include "data/FieldsList.h"
#include "odbc/ODBCStatement.h"

namespace zo {

// The parameter data type of a field type; odtUnknown raises
// "Not supported ParamType (%s) was found." with its display name.
SQLSMALLINT FieldTypeToParamType(ToDataType DataType);

class TExQuery : public TODBCStatement {
 public:
  explicit TExQuery(TComponent* AOwner = nullptr);

  // Makes ConnectionInfo the statement's database (closes and unprepares first).
  void FillConnectionProps(TConnectionInfo* ConnectionInfo);
  TConnectionInfo* ConnectionInfo() const;

  static String GetParamName() { return u"?"; }

  // Sets parameter Index (from 0) from text or from memory. An Index at or
  // beyond the parameter count appends a new parameter at the end, whatever
  // Index was: callers fill parameters in marker order.
  void FillParam(int Index, ToDataType DataType, const String& Value);
  void FillParam(int Index, ToDataType DataType, const void* Value, std::int32_t ValueSize);

 protected:
  // Cursor type and rowset size by server kind; long values read from a
  // rowset of several rows need a static cursor.
  void SetCursorProps(bool WithBlobs, bool ASmallBuffer);
  // The connection, or raises the statement's "no database" message.
  TConnectionInfo* RequireConnectionInfo() const;
  // Marks the connection's internal rollback when an ODBC error inside a
  // transaction has (or may have) cost the transaction.
  void DoError() override;
};

class TExReadQuery : public TExQuery {
 public:
  explicit TExReadQuery(TComponent* AOwner = nullptr);
  // A query freed while its cursor is open still gives the connection its
  // state back.
  ~TExReadQuery() override;

  // Closes an open cursor first (putting the state back), then as TExQuery.
  void FillConnectionProps(TConnectionInfo* ConnectionInfo);

  // Closes an open cursor (putting the state back), then sets the text, the
  // field list it was built from (not owned, may be null) and the cursor settings. Raises "Not supported function
  // TExReadQuery.SetCursorProps for SQLServerType (%d)" for a kind without them.
  void SetSQLText(const String& SQLText, TDBFieldsList* ADBFieldsList, bool WithBlobs, bool ASmallBuffer);
  TDBFieldsList* DBFieldsList() const { return FDBFieldsList; }

  // Opens the cursor with the connection in the reading state (OpenSP: the
  // writing state, for stored procedures that may write). A failed open puts
  // the state back.
  void Open();
  void OpenSP();
  // Closes an open cursor and puts back the state found by Open; nothing
  // without an open cursor.
  void Close();

  using TODBCStatement::StringValue;
  // The value as text by field type; the empty text for NULL.
  String StringValue(int Index, ToDataType DataType) const;
  // With Check: by the field list's type (a list is required); without: the
  // statement's own text form.
  String StringValue(int Index, bool Check) const;
  String StringValue(const String& Name, bool Check) const;

  // The text laid out in lines (select, insert, update and delete keywords
  // start new lines, joined by CR LF) with the parameter values in place of
  // the markers: "null" for NULL, text and timestamps in single quotes.
  String GetSQLText() const;

 private:
  void OpenInState(TConnectionState State);

  TConnectionState FTempState = csInactive;
  TDBFieldsList* FDBFieldsList = nullptr;
};

class TExWriteQuery : public TExQuery {
 public:
  explicit TExWriteQuery(TComponent* AOwner = nullptr);

  void SetSQLText(const String& SQLText) { SetCommandText(SQLText); }
  // Executes with the connection in the writing state. Refused while the
  // connection's internal rollback is set, unless a rollback is running.
  void ExecSQL(bool Batch);
};

}  // namespace zo
