// Inspection of the database's version stamp: Connect and the readers.
//
// Every reader opens a connection of its own, runs one query and frees both
// before it returns, so no connection outlives a user action. An ordinary
// error inside a reader is replaced by the reader's own message; the stamp
// reader keeps the cause on a second line, because that is where the user
// learns why the database could not be reached.
#include <memory>

#include "core/Exception.h"
#include "core/Format.h"
#include "core/IDList.h"
#include "core/ServerType.h"
#include "core/StartupValues.h"
#include "core/VersionType.h"
#include "data/ConnectionInfo.h"
#include "data/LifterContract.h"
#include "data/Queries.h"
#include "upliner/ReinstallForm.h"

namespace zo {

namespace {

// The shared steps of every reader: a connection filled from the window's
// values, one query on it, and both freed on every way out (the query
// first, as it refers to the connection).
template <class ReadRows>
void ReadFromDatabase(const String& DriverName, const TConnectionValues& C, const String& SQLText,
                      bool ASmallBuffer, ReadRows&& Read) {
  auto connection = std::make_unique<TConnectionInfo>();
  auto query = std::make_unique<TExReadQuery>();
  connection->FillConnectionInfo(CurrentSQLServerType, DriverName, String(), C.ServerName, C.DatabaseName,
                                 C.UserName, C.Password, Format(u"%s-%s SysConnect", {ProductPrefix, C.DatabaseName}),
                                 ComputerName(), C.TrustedConnection);
  connection->Open();
  query->FillConnectionProps(connection.get());
  query->SetSQLText(SQLText, nullptr, false, ASmallBuffer);
  query->Open();
  Read(*query);
  query->Close();
  connection->Close();
}

// A support switch of the stamp row: on when its column holds 1. Failure:
// the database's name in the reader's own message.
bool ReadSupportSwitch(const String& DriverName, const TConnectionValues& C, StringView Column,
                       StringView Failure) {
  bool support = false;
  try {
    ReadFromDatabase(DriverName, C, Format(u"select %s from %s", {Column, kStampTable}), true,
                     [&](TExReadQuery& Q) { support = !Q.IsEmpty() && Q.IntegerValue(0, 0) == 1; });
  } catch (const Exception&) {
    throw Exception(Failure, {C.DatabaseName});
  }
  return support;
}

}  // namespace

TConnectionValues TReinstallForm::ConnectionValues() const {
  return {CServerName.Text, CDatabaseName.Text, EUserName.Text, EPassword.Text, CBTrustedConnection.Checked};
}

bool TReinstallForm::ReadDatabaseVersion(const TConnectionValues& C, String& Version,
                                         TCDBVersionType& VersionType) {
  bool consistent = true;
  VersionType = cdbvtRelease;
  try {
    const String statement = Format(u"select %s,%s from %s", {kStampVersionColumn, kStampCipherColumn, kStampTable});
    ReadFromDatabase(FDriverName, C, statement, true, [&](TExReadQuery& Q) {
      if (Q.IsEmpty()) return;
      Version = Q.StringValue(0);
      const Bytes encrypted = Q.BinaryValue(1);
      if (encrypted.empty()) return;
      const TStampText stamp = ParseStampText(DecipherStamp(encrypted));
      VersionType = stamp.VersionType;
      // The two copies agree exactly, letter case included (SameVersion is
      // for finding a version in Versions.sl, not for this check).
      if (stamp.Version != Version) consistent = false;
    });
  } catch (const Exception& E) {
    // The cause's full text: a structured error (such as a failed
    // decryption) answers with its composed form, so the reason is never
    // lost behind an empty line.
    throw Exception(Format(u"Database \"%s\" cannot be connected\r\n%s", {C.DatabaseName, E.Message()}));
  }
  return consistent;
}

void TReinstallForm::ReadDatabaseLanguages(const TConnectionValues& C, TIDList& Languages) {
  Languages.Clear();
  try {
    ReadFromDatabase(FDriverName, C, Format(u"Select ic,u from %s", {kLanguageTable}), false, [&](TExReadQuery& Q) {
      for (; !Q.Eof(); Q.Next()) Languages.Add(TIDValue(Q.BigintValue(0, 0), Q.IntegerValue(1, 0)));
    });
  } catch (const Exception&) {
    throw Exception(u"Languages from database \"%s\" cannot be returned", {C.DatabaseName});
  }
}

bool TReinstallForm::ReadArchiveSupport(const TConnectionValues& C) {
  return ReadSupportSwitch(FDriverName, C, kArchiveSupportColumn,
                           u"Archive state from database \"%s\" cannot be returned");
}

bool TReinstallForm::ReadExtDBSupport(const TConnectionValues& C) {
  return ReadSupportSwitch(FDriverName, C, kExtDBSupportColumn,
                           u"External DB state from database \"%s\" cannot be returned");
}

void TReinstallForm::InspectDatabase() {
  const TConnectionValues values = ConnectionValues();
  String version;
  TCDBVersionType versionType = cdbvtRelease;
  const bool consistent = ReadDatabaseVersion(values, version, versionType);

  // The order of the checks decides which refusal the user sees first.
  if (version.empty()) throw Exception(String(u"Version of your database cannot be found"));
  if (!consistent) {
    if (versionType == cdbvtCorrupt)
      throw Exception(
          String(u"Incorrect version. Probably corrupted by last reinstall.\r\nVersionType is Corrupt"));
    throw Exception(
        String(u"Incorrect version. Probably unqualified action on database.\r\nVersionType not equal to VersionID"));
  }
  if (versionType == cdbvtBeta) throw Exception(String(u"Beta version cannot be reinstalled or changed!!"));

  // The support flags are read before anything is shown, so that a failed
  // read leaves the window as it was.
  const bool archiveSupport = FArchiveActions.Empty() ? FArchiveSupport : ReadArchiveSupport(values);
  const bool extDBSupport = FExtDBActions.Empty() ? FExtDBSupport : ReadExtDBSupport(values);
  SetText(EActualVersion, version);
  FArchiveSupport = archiveSupport;
  FExtDBSupport = extDBSupport;
  FConnected = true;
  UpdateControls();
}

void TReinstallForm::InspectAfresh() {
  FConnected = false;
  UpdateControls();
  InspectDatabase();
}

void TReinstallForm::BConnectClick() {
  try {
    InspectDatabase();
  } catch (const Exception& E) {
    FDialogs.ShowMessage(E.Message());
  }
}

}  // namespace zo
