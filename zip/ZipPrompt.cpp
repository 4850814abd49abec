// The default answerer of the engine's questions: the controlling terminal.
#include <cstdio>
#include <vector>

#include "platform/Console.h"
#include "platform/Utf.h"
#include "zip/ZipErrors.h"

namespace zo {

namespace {

class TTerminalPrompt : public TZEUserPrompt {
 public:
  TZEAnswer Ask(const String& Message, TZEQuestionKind Kind) override {
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
    // Nobody to ask: take the safe answer, but say what happened, because an
    // aborted operation returns without an error and would otherwise pass
    // unnoticed.
    if (Kind != qkYesNoAll) {
      std::fputs((ToUtf8(Message) + "\n").c_str(), stdout);
      std::fflush(stdout);
    }
    return Kind == qkYesNoAll ? zaNo : zaAbort;
  }
};

}  // namespace

TZEUserPrompt& DefaultUserPrompt() {
  static TTerminalPrompt prompt;
  return prompt;
}

}  // namespace zo
