#include "lifter/LifterOptions.h"

#include <set>

#include "core/Exception.h"
#include "core/StringUtils.h"
#include "data/DataTypes.h"

namespace zo {

namespace {

[[noreturn]] void BadValue(const String& Arg) { throw Exception(u"Incorrect value in argument \"%s\"", {Arg}); }

int SmallNumber(const String& Arg, const String& Value, int Max) {
  std::int32_t number = 0;
  if (!TryStrToInt(Value, number) || number < 0 || number > Max) BadValue(Arg);
  return number;
}

TSupportAction SupportAction(const String& Arg, const String& Value) {
  return static_cast<TSupportAction>(SmallNumber(Arg, Value, 2));
}

}  // namespace

TLifterOptions ParseLifterOptions(const std::vector<String>& Args) {
  TLifterOptions o;
  std::set<char16_t> seen;
  for (const String& arg : Args) {
    if (arg.size() < 2 || arg[0] != u'-') throw Exception(u"Unknown argument \"%s\"", {arg});
    const char16_t letter = arg[1];
    const String value = arg.substr(2);
    if (!seen.insert(letter).second) throw Exception(u"Argument \"%s\" is given twice", {arg});
    switch (letter) {
      case u'T':
        if (!SameTextAscii(value, kSQLServerType)) throw Exception(u"Database type \"%s\" is not supported", {value});
        o.ServerType = value;
        break;
      case u'S': o.ServerName = value; break;
      case u'D': o.DatabaseName = value; break;
      case u'u': o.UserName = value; break;
      case u'p': o.Password = value; break;
      case u'm': o.TrustedConnection = SmallNumber(arg, value, 1) == 1; break;
      case u'e': o.ErrorsFile = value; break;
      case u'i': o.DataFolder = value; break;
      case u'r': o.ProgramFolder = value; break;
      case u'l': o.LangActions = IntegerToActionSet(SmallNumber(arg, value, 255)); break;
      case u'b': o.ArchiveAction = SupportAction(arg, value); break;
      case u'd': o.Directory = value; break;
      case u'x': o.ExtDBAction = SupportAction(arg, value); break;
      case u'N': o.ExtDBName = value; break;
      case u'c':
        if (value.empty()) BadValue(arg);
        o.ChangesFile = value;
        break;
      case u'h': o.CheckIntegrity = SmallNumber(arg, value, 1) == 1; break;
      case u'n': {
        std::vector<String> pieces;
        SplitToList(value, u';', pieces);
        std::int32_t left = 0, top = 0;
        if (pieces.size() != 2 || !TryStrToInt(pieces[0], left) || !TryStrToInt(pieces[1], top)) BadValue(arg);
        o.WindowPosition = std::make_pair(left, top);
        break;
      }
      default: throw Exception(u"Unknown argument \"%s\"", {arg});
    }
  }
  if (o.ServerName.empty()) throw Exception(String(u"The server name (-S) is missing"));
  if (o.DatabaseName.empty()) throw Exception(String(u"The database name (-D) is missing"));
  return o;
}

}  // namespace zo
