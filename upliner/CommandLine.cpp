#include "upliner/CommandLine.h"

#include "core/Exception.h"
#include "core/StringUtils.h"

namespace zo {

namespace {

[[noreturn]] void RaiseIncorrect(const String& Arg) {
  throw Exception(u"Incorrect input parameter \"%s\"", {Arg});
}

// The actions a switch's third letter allows: 'i' add, 'd' remove, 'a' both.
TMTSActionType ActionsOf(const String& Arg) {
  switch (Arg[2]) {
    case u'i': return {mtaInsert};
    case u'd': return {mtaDelete};
    case u'a': return {mtaInsert, mtaDelete};
    default: RaiseIncorrect(Arg);
  }
}

void ReadActionSwitch(const String& Arg, TStartParameters& Params) {
  TRReinstallAction action;
  const char16_t* incompatible;
  switch (Arg[1]) {
    case u'a':
      action = rraAlterArchive;
      incompatible = u"Alter archive parameter \"%s\" is incompatible with rest of input parameters";
      break;
    case u'e':
      action = rraAlterExternalDB;
      incompatible = u"Alter external db parameter \"%s\" is incompatible with rest of input parameters";
      break;
    case u'l':
      action = rraAlterLangs;
      incompatible = u"Alter langs parameter \"%s\" is incompatible with rest of input parameters";
      break;
    default: RaiseIncorrect(Arg);
  }
  // The letters are checked before compatibility: "-li -lx" names "-lx" as
  // incorrect, not as incompatible.
  const TMTSActionType actions = ActionsOf(Arg);
  if (Params.ReinstallAction != rraReinstall) throw Exception(incompatible, {Arg});

  Params.ReinstallAction = action;
  switch (action) {
    case rraAlterArchive: Params.ArchiveActions = Params.ArchiveActions + actions; break;
    case rraAlterExternalDB: Params.ExtDBActions = Params.ExtDBActions + actions; break;
    default: Params.LangActions = Params.LangActions + actions; break;
  }
}

// "-n<left>;<top>": pieces after the second are ignored; a missing piece is a
// list-index error and a piece that is no integer a conversion error.
void ReadPositionSwitch(const String& Arg, TStartParameters& Params) {
  if (Arg.size() < 2 || Arg[1] != u'n') RaiseIncorrect(Arg);
  Params.InnosetupForm = true;
  std::vector<String> pieces;
  SplitToList(StringView(Arg).substr(2), u';', pieces);
  for (std::size_t i = 0; i < 2; ++i) {
    if (i >= pieces.size()) throw EListError(kSListIndexError, {static_cast<int>(i)});
    (i == 0 ? Params.Left : Params.Top) = StrToInt(pieces[i]);
  }
}

}  // namespace

void ReadCommandLine(const std::vector<String>& Args, TStartParameters& Params) {
  for (const String& arg : Args) {
    if (arg.empty() || arg[0] != u'-') RaiseIncorrect(arg);
    if (arg.size() == 3)
      ReadActionSwitch(arg, Params);
    else
      ReadPositionSwitch(arg, Params);
  }
}

}  // namespace zo
