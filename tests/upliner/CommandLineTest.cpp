#include "ScriptedDialogs.h"
#include "core/ServerType.h"

namespace zo::testing {
namespace {

using CommandLineTest = AppDirFixture;

struct Accepted {
  std::vector<String> Args;
  TRReinstallAction Mode;
  std::uint8_t Lang, Archive, ExtDB;  // action sets as bytes (insert 1, delete 4)
  bool Innosetup;
  int Left, Top;
};

TEST_F(CommandLineTest, AcceptedArgumentsSetModeActionsAndPosition) {
  WriteVersions("5.0\r\n5.1\r\n");
  const Accepted cases[] = {
      {{}, rraReinstall, 0, 0, 0, false, kDesignLeft, kDesignTop},
      {{u"-li"}, rraAlterLangs, 1, 0, 0, false, kDesignLeft, kDesignTop},
      {{u"-ld"}, rraAlterLangs, 4, 0, 0, false, kDesignLeft, kDesignTop},
      {{u"-la"}, rraAlterLangs, 5, 0, 0, false, kDesignLeft, kDesignTop},
      {{u"-ai"}, rraAlterArchive, 0, 1, 0, false, kDesignLeft, kDesignTop},
      {{u"-ad"}, rraAlterArchive, 0, 4, 0, false, kDesignLeft, kDesignTop},
      {{u"-aa"}, rraAlterArchive, 0, 5, 0, false, kDesignLeft, kDesignTop},
      {{u"-ei"}, rraAlterExternalDB, 0, 0, 1, false, kDesignLeft, kDesignTop},
      {{u"-ed"}, rraAlterExternalDB, 0, 0, 4, false, kDesignLeft, kDesignTop},
      {{u"-ea"}, rraAlterExternalDB, 0, 0, 5, false, kDesignLeft, kDesignTop},
      {{u"-n120;80"}, rraReinstall, 0, 0, 0, true, 120, 80},
      {{u"-n100;200", u"-ea"}, rraAlterExternalDB, 0, 0, 5, true, 100, 200},
      {{u"-ai", u"-n-5;+7"}, rraAlterArchive, 0, 1, 0, true, -5, 7},
      // Pieces after the second are ignored; the last -n wins.
      {{u"-n1;2;x", u"-n30;40"}, rraReinstall, 0, 0, 0, true, 30, 40},
  };
  for (const Accepted& c : cases) {
    SCOPED_TRACE(ToUtf8(c.Args.empty() ? u"(none)" : c.Args[0]));
    dialogs = {};
    CurrentSQLServerType = stOracle;
    auto form = Open(c.Args);
    EXPECT_EQ(CurrentSQLServerType, stSQLServer);
    EXPECT_FALSE(form->Terminated());
    EXPECT_TRUE(dialogs.Messages.empty());
    EXPECT_EQ(form->FReinstallAction, c.Mode);
    EXPECT_EQ(form->FLangActions.Byte(), c.Lang);
    EXPECT_EQ(form->FArchiveActions.Byte(), c.Archive);
    EXPECT_EQ(form->FExtDBActions.Byte(), c.ExtDB);
    EXPECT_EQ(form->FInnosetupForm, c.Innosetup);
    EXPECT_EQ(form->Left, c.Left);
    EXPECT_EQ(form->Top, c.Top);
  }
}

struct Rejected {
  std::vector<String> Args;
  String Message;
};

TEST_F(CommandLineTest, FirstBadArgumentShowsOneMessageAndEndsBeforeTheWindow) {
  const Rejected cases[] = {
      {{u"li"}, u"Incorrect input parameter \"li\""},
      {{u""}, u"Incorrect input parameter \"\""},
      {{u"-LI"}, u"Incorrect input parameter \"-LI\""},
      {{u"-lx"}, u"Incorrect input parameter \"-lx\""},
      {{u"-xi"}, u"Incorrect input parameter \"-xi\""},
      {{u"-n5"}, u"Incorrect input parameter \"-n5\""},
      {{u"-lia"}, u"Incorrect input parameter \"-lia\""},
      {{u"-"}, u"Incorrect input parameter \"-\""},
      {{u"-x"}, u"Incorrect input parameter \"-x\""},
      // Letters are examined before compatibility.
      {{u"-li", u"-lx"}, u"Incorrect input parameter \"-lx\""},
      {{u"-li", u"-li"}, u"Alter langs parameter \"-li\" is incompatible with rest of input parameters"},
      {{u"-li", u"-ad"}, u"Alter archive parameter \"-ad\" is incompatible with rest of input parameters"},
      {{u"-ai", u"-ea"}, u"Alter external db parameter \"-ea\" is incompatible with rest of input parameters"},
      {{u"-n100"}, u"List index out of bounds (1)"},
      {{u"-n"}, u"List index out of bounds (0)"},
      {{u"-nx;5"}, u"'x' is not a valid integer value"},
      {{u"-n5;"}, u"'' is not a valid integer value"},
      // The first error stops the reading: the second argument is not looked at.
      {{u"-q", u"-li", u"-li"}, u"Incorrect input parameter \"-q\""},
  };
  for (const Rejected& c : cases) {
    SCOPED_TRACE(ToUtf8(c.Message));
    dialogs = {};
    CurrentSQLServerType = stOracle;
    TReinstallForm form(dialogs, AppDir());
    form.FormCreate(c.Args);
    EXPECT_EQ(CurrentSQLServerType, stSQLServer);
    EXPECT_TRUE(form.Terminated());
    EXPECT_EQ(dialogs.Messages, std::vector<String>{c.Message});
    EXPECT_TRUE(dialogs.Errors.empty());
  }
}

}  // namespace
}  // namespace zo::testing
