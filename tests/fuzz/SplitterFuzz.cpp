// Fuzz target: the splitter that turns one command line into arguments by the
// Windows rules. The input is the line as UTF-16 code units. Besides never
// crashing, the split must be stable: quoting the arguments it gave by those
// same rules and splitting again gives the same arguments.
#include <cstddef>
#include <cstdint>

#include "platform/Process.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

using zo::String;

// Quotes one argument so that the splitter gives it back: backslashes are
// doubled before a quote and at the end, a quote is escaped.
String QuoteArgument(const String& arg) {
  String out = u"\"";
  for (std::size_t i = 0;; ++i) {
    std::size_t slashes = 0;
    while (i < arg.size() && arg[i] == u'\\') ++slashes, ++i;
    if (i == arg.size()) {
      out.append(slashes * 2, u'\\');
      break;
    }
    if (arg[i] == u'"') {
      out.append(slashes * 2 + 1, u'\\');
    } else {
      out.append(slashes, u'\\');
    }
    out += arg[i];
  }
  return out + u"\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const String line = zo::fuzz::Utf16Text(data, size);
  const std::vector<String> args = zo::SplitCommandLine(line);
  if (args.empty()) return 0;
  zo::fuzz::Check(args[0].find(u'"') == String::npos, "program item holds no quote");

  // The program item only groups with quotes, so it is quoted plainly.
  String again = u"\"" + args[0] + u"\"";
  for (std::size_t i = 1; i < args.size(); ++i) again += u" " + QuoteArgument(args[i]);
  zo::fuzz::Check(zo::SplitCommandLine(again) == args, "split, quote and split again");
  return 0;
}
