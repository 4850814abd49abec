// The language names the upgrade window shows when it asks before altering
// the database's languages.
#pragma once

#include "core/String.h"

namespace zo {

// The name of a language code in its canonical text form ("401,0" is
// "Czech", TIDValue::ToString). A code without a name raises Exception
// "Language "%s" has no name" with the code.
String LanguageName(StringView Code);

}  // namespace zo
