// Connect and the database readers against the test server.
#include "StampFixture.h"
#include "core/Exception.h"
#include "core/IDList.h"
#include "core/StringUtils.h"
#include "tests/MessageOf.h"

ZO_TEST_DATABASE_ENVIRONMENT(upliner_db);

namespace zo::testing {
namespace {

using InspectionTest = StampFixture;

String ConnectFailure(const String& Database, const String& Cause) {
  return u"Database \"" + Database + u"\" cannot be connected\r\n" + Cause;
}

TEST_F(InspectionTest, StampCasesInTheOrderOfTheChecks) {
  const String db = Db().Name();
  struct Case {
    const char* Name;
    std::optional<String> Plain;
    std::optional<String> Encrypted;
    String Expected;  // the version shown, or the message of the refusal
    bool Accepted;
  };
  const Case cases[] = {
      {"consistent release", u"5.2", u"5.2,0", u"5.2", true},
      {"consistent corrupt passes", u"5.2", u"5.2,2", u"5.2", true},
      {"type above the known ones passes", u"5.2", u"5.2,7", u"5.2", true},
      {"no encrypted copy", u"5.2", std::nullopt, u"5.2", true},
      {"empty encrypted copy", u"5.2", u"", u"5.2", true},
      {"other version, corrupt", u"5.2", u"5.3,2",
       u"Incorrect version. Probably corrupted by last reinstall.\r\nVersionType is Corrupt", false},
      {"other version, release", u"5.2", u"5.3,0",
       u"Incorrect version. Probably unqualified action on database.\r\nVersionType not equal to VersionID", false},
      {"other version, beta", u"5.2", u"5.3,1",
       u"Incorrect version. Probably unqualified action on database.\r\nVersionType not equal to VersionID", false},
      {"letter case differs", u"5.2a", u"5.2A,0",
       u"Incorrect version. Probably unqualified action on database.\r\nVersionType not equal to VersionID", false},
      {"beta", u"5.2", u"5.2,1", u"Beta version cannot be reinstalled or changed!!", false},
      {"no comma", u"5.2", u"5.2",
       ConnectFailure(db, u"Internal error - empty value not allowed in TCDBVersionTypeHelper.FromString function"),
       false},
      {"type not a number", u"5.2", u"5.2,1,7", ConnectFailure(db, u"'1,7' is not a valid integer value"), false},
      {"NULL plain version", std::nullopt, u"5.2,0", u"Version of your database cannot be found", false},
      {"empty plain version before a beta", u"", u",1", u"Version of your database cannot be found", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    dialogs = {};
    SetStamp(c.Plain, c.Encrypted);
    TReinstallForm& f = OpenForm();
    f.SetText(f.EActualVersion, u"4.9");

    f.UserClick(f.BConnect);

    EXPECT_TRUE(dialogs.Errors.empty());
    if (c.Accepted) {
      EXPECT_TRUE(dialogs.Messages.empty()) << ToUtf8(dialogs.Messages.empty() ? u"" : dialogs.Messages[0]);
      EXPECT_EQ(f.EActualVersion.Text, c.Expected);
      EXPECT_TRUE(f.FConnected);
      EXPECT_TRUE(f.BReinstall.Enabled);
      EXPECT_FALSE(f.BConnect.Enabled);
    } else {
      EXPECT_EQ(dialogs.Messages, std::vector<String>{c.Expected});
      EXPECT_EQ(f.EActualVersion.Text, u"4.9");
      EXPECT_FALSE(f.FConnected);
      EXPECT_FALSE(f.BReinstall.Enabled);
    }
  }
}

TEST_F(InspectionTest, EmptyStampTableIsNotFound) {
  TReinstallForm& f = OpenForm();
  f.UserClick(f.BConnect);
  EXPECT_EQ(dialogs.Messages, std::vector<String>{u"Version of your database cannot be found"});
  EXPECT_FALSE(f.FConnected);
}

// A copy that cannot be deciphered at all is reported with its reason on the
// second line, not with an empty one.
TEST_F(InspectionTest, BadCipherLengthShowsTheDecodingFailure) {
  SetStampBytes(u"5.2", Bytes(20, 0x41));
  TReinstallForm& f = OpenForm();
  f.UserClick(f.BConnect);
  ASSERT_EQ(dialogs.Messages.size(), 1u);
  EXPECT_EQ(dialogs.Messages[0],
            ConnectFailure(Db().Name(), u"  Main message :\r\nAES decryption failed.\r\n  Detail message :\r\n"
                                        u"Invalid ciphertext - block padding is corrupted.\r\n"));
  EXPECT_FALSE(f.FConnected);
}

TEST_F(InspectionTest, WrongPasswordCarriesTheServersRefusal) {
  SetVersion(u"5.2");
  TReinstallForm& f = OpenForm();
  f.SetText(f.EPassword, u"not the password");
  f.UserClick(f.BConnect);
  ASSERT_EQ(dialogs.Messages.size(), 1u);
  const std::vector<String> lines = SplitLines(dialogs.Messages[0]);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], u"Database \"" + Db().Name() + u"\" cannot be connected");
  EXPECT_NE(lines[1].find(u"password authentication failed"), String::npos) << ToUtf8(lines[1]);
  EXPECT_FALSE(f.FConnected);
}

// The readers open a connection per read and close it again, also when the
// read fails half-way (after the connection was opened).
TEST_F(InspectionTest, NoConnectionOutlivesARead) {
  const String countOthers = u"select count(*) from pg_stat_activity where datname = '" + Db().Name() +
                             u"' and pid <> pg_backend_pid()";
  TReinstallForm& f = OpenForm({u"-aa"});
  SetVersion(u"5.2");
  f.UserClick(f.BConnect);
  ASSERT_TRUE(f.FConnected);
  SetStampBytes(u"5.2", Bytes(20, 0x41));
  f.BConnectClick();
  ASSERT_EQ(dialogs.Messages.size(), 1u);
  // A closed session's server process may take a moment to go away.
  std::optional<String> others;
  for (int i = 0; i < 40 && (others = Query(countOthers)) != u"0"; ++i) ::usleep(50000);
  EXPECT_EQ(others, u"0");
}

TEST_F(InspectionTest, SupportFlagsAreReadOnlyInTheirMode) {
  struct Case {
    const char* Name;
    const char16_t* Switch;
    const char16_t* Archive;
    const char16_t* ExtDB;
    bool ArchiveSupport;
    bool ExtDBSupport;
  };
  const Case cases[] = {
      {"archive present", u"-aa", u"1", u"1", true, false},
      {"archive other value", u"-ai", u"2", u"1", false, false},
      {"archive NULL", u"-ad", u"NULL", u"1", false, false},
      {"external present", u"-ea", u"1", u"1", false, true},
      {"external other value", u"-ei", u"1", u"0", false, false},
      {"external NULL", u"-ed", u"1", u"NULL", false, false},
      {"language mode reads neither", u"-la", u"1", u"1", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    dialogs = {};
    SetStamp(u"5.2", u"5.2,0", c.Archive, c.ExtDB);
    TReinstallForm& f = OpenForm({c.Switch});
    f.UserClick(f.BConnect);
    EXPECT_TRUE(dialogs.Messages.empty());
    EXPECT_TRUE(f.FConnected);
    EXPECT_EQ(f.FArchiveSupport, c.ArchiveSupport);
    EXPECT_EQ(f.FExtDBSupport, c.ExtDBSupport);
  }
  // Captions follow the flags read.
  EXPECT_EQ(form->BAlterArchive.Text, u"Add Archive");
  SetStamp(u"5.2", u"5.2,0", u"1", u"1");
  TReinstallForm& f = OpenForm({u"-ea"});
  f.UserClick(f.BConnect);
  EXPECT_EQ(f.BAlterExtDB.Text, u"Del ExtDB");
  EXPECT_TRUE(f.BAlterExtDB.Enabled);
}

TEST_F(InspectionTest, SupportColumnsAreNeededOnlyWhereTheyAreRead) {
  Sql(u"alter table dbo.a15830u10 drop column a2439u0; alter table dbo.a15830u10 drop column a2583u0;");
  Sql(u"insert into dbo.a15830u10 values ('5.2', " + ByteaLiteral(EncryptedStamp(u"5.2,0")) + u")");

  TReinstallForm& f = OpenForm();
  f.UserClick(f.BConnect);
  EXPECT_TRUE(dialogs.Messages.empty());
  EXPECT_TRUE(f.FConnected);

  TReinstallForm& a = OpenForm({u"-aa"});
  a.SetText(a.EActualVersion, u"4.9");
  a.UserClick(a.BConnect);
  EXPECT_EQ(dialogs.Messages,
            std::vector<String>{u"Archive state from database \"" + Db().Name() + u"\" cannot be returned"});
  EXPECT_FALSE(a.FConnected);
  EXPECT_EQ(a.EActualVersion.Text, u"4.9");  // a refusal changes nothing

  dialogs = {};
  TReinstallForm& e = OpenForm({u"-ei"});
  e.UserClick(e.BConnect);
  EXPECT_EQ(dialogs.Messages,
            std::vector<String>{u"External DB state from database \"" + Db().Name() + u"\" cannot be returned"});
}

TEST_F(InspectionTest, LanguagesInRowOrderAcrossRowsets) {
  String sql = u"insert into dbo.a194u0 values (401,0),(9000000000,-3),(402,1)";
  for (int i = 0; i < 40; ++i) sql += u",(" + FromUtf8(std::to_string(1000 + i)) + u",NULL)";
  Sql(sql);
  TReinstallForm& f = OpenForm({u"-la"});
  TIDList languages;
  languages.Add(TIDValue(1, 1));  // replaced, not added to
  f.ReadDatabaseLanguages(f.ConnectionValues(), languages);
  ASSERT_EQ(languages.Count(), 43);
  EXPECT_EQ(languages[0].ToString(), u"401,0");
  EXPECT_EQ(languages[1].ToString(), u"9000000000,-3");
  EXPECT_EQ(languages[2].ToString(), u"402,1");
  EXPECT_EQ(languages[42].ToString(), u"1039,0");  // NULL sub-identifier reads 0

  Sql(u"drop table dbo.a194u0");
  EXPECT_EQ(test::MessageOf([&] { f.ReadDatabaseLanguages(f.ConnectionValues(), languages); }),
            u"Languages from database \"" + Db().Name() + u"\" cannot be returned");
}

}  // namespace
}  // namespace zo::testing
