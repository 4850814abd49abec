// The engine's questions on the controlling terminal.
#include <cstdio>
#include <vector>

#include "platform/Console.h"
#include "platform/Utf.h"
#include "zip/ZipErrors.h"

namespace zo {

TZEAnswer TZETerminalPrompt::Ask(const String& Message, TZEQuestionKind Kind) {
  std::vector<TConsoleChoice> choices;
  std::vector<TZEAnswer> answers;
  switch (Kind) {
    case qkAbortRetryIgnore:
      choices = {{"a", "Abort"}, {"r", "Retry"}, {"i", "Ignore"}};
      answers = {zaAbort, zaRetry, zaIgnore};
      break;
    case qkAbortIgnore:
      choices = {{"a", "Abort"}, {"i", "Ignore"}};
      answers = {zaAbort, zaIgnore};
      break;
    case qkYesNoAll:
      choices = {{"y", "Yes"}, {"n", "No"}, {"x", "No to all"}, {"a", "Yes to all"}};
      answers = {zaYes, zaNo, zaNoToAll, zaYesToAll};
      break;
  }
  const int chosen = AskOnTerminal(ToUtf8(Message), choices);
  if (chosen >= 0) return answers[static_cast<std::size_t>(chosen)];
  if (Kind == qkYesNoAll) return zaNo;
  if (FReportUnanswered) {
    std::fputs((ToUtf8(Message) + "\n").c_str(), stdout);
    std::fflush(stdout);
  }
  return Kind == qkAbortRetryIgnore ? FUnansweredFailure : zaAbort;
}

TZEUserPrompt& DefaultUserPrompt() {
  static TZETerminalPrompt prompt(true);
  return prompt;
}

}  // namespace zo
