// Engine errors: the native-number table, message composition, and the
// failure decision with and without a hook.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <vector>

#include "tests/zip/ZipTestSystem.h"
#include "zip/ZipEngine.h"
#include "zip/ZipErrors.h"

namespace zo {
namespace {

TEST(ZipErrors, EveryNativeNumberFindsItsMessage) {
  // Message index -> the native numbers that share it.
  const std::map<int, std::vector<int>> table = {
      {0, {0}}, {1, {1, 2, 3, 4, 7, 16, 21, 24}}, {2, {5}}, {3, {6}}, {4, {8}}, {5, {9, 10, 29}},
      {6, {11, 12, 15, 18, 30, 31, 38, 42, 53, 54}}, {7, {13, 14}}, {8, {17}}, {9, {19, 23}},
      {10, {20}}, {11, {22, 25}}, {12, {33}}, {13, {26}}, {14, {27}}, {15, {28}}, {16, {32}},
      {17, {34}}, {18, {35}}, {19, {36}}, {20, {37}}, {21, {39}}, {22, {40}}, {23, {41, 43}},
      {24, {44, 45}}, {25, {46}}, {26, {47}}, {27, {48, 57}}, {28, {49}}, {29, {50}}, {30, {51}},
      {31, {52}}, {32, {55}}, {33, {56}}, {34, {58, 59}}, {35, {60}}, {36, {61}}, {37, {62}},
      {38, {63, 64}}, {39, {65, 66}}, {40, {67}}};
  int natives = 0;
  for (const auto& [index, numbers] : table) {
    for (int native : numbers) {
      EXPECT_EQ(ZEErrorCodeOf(native), index) << "native " << native;
      ++natives;
    }
  }
  EXPECT_EQ(natives, 68);
  EXPECT_EQ(ZEErrorCodeOf(68), 0);
  EXPECT_EQ(ZEErrorCodeOf(-1), 0);
}

TEST(ZipErrors, MessagesAreComposedWithArgumentsAndPaddedNative) {
  struct Case {
    EZEException error;
    const char16_t* text;
  };
  const Case cases[] = {
      {EZEException(12, {u"C:\\a.zip"}), u"File \"C:\\a.zip\" not found - Native error: 00012"},
      {EZEException(13), u"Archive is not open - Native error: 00013"},
      {EZEException(34, {5000000000LL, 12LL}),
       u"Invalid compressed size, rfs.size = 5000000000, count = 12 - Native error: 00034"},
      {EZEException(61, {u"/x"}), u"File name is too long: \r\n\"/x\" - Native error: 00061"},
      {EZEException(0), u"Unknown error - Native error: 00000"},
      {EZEException(99), u"Unknown error - Native error: 00099"},
      {EZEException(123456), u"Unknown error - Native error: 123456"},
      {EZEException(5), u"Invalid compression mode. Mode must be in [0-9] range - Native error: 00005"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.error.Message(), c.text);
  EXPECT_EQ(EZEException(43, {u"a"}).ErrorCode, 23);
  EXPECT_EQ(EZEException(43, {u"a"}).NativeError, 43);
  EXPECT_STREQ(EZEException(13).what(), "Archive is not open - Native error: 00013");
}

TEST(ZipErrors, EngineNamePrefixesTheMessage) {
  TZipEngine engine;
  EXPECT_EQ(EZEException(13, &engine).Message(), u"Archive is not open - Native error: 00013");
  engine.Name = u"Zip1";
  EXPECT_EQ(EZEException(13, &engine).Message(), u"Zip1: Archive is not open - Native error: 00013");
}

// Answers questions from a script and records them.
class ScriptedPrompt : public TZEUserPrompt {
 public:
  explicit ScriptedPrompt(std::vector<TZEAnswer> answers) : FAnswers(std::move(answers)) {}
  TZEAnswer Ask(const String& Message, TZEQuestionKind Kind) override {
    questions.push_back(Message);
    kinds.push_back(Kind);
    if (FNext >= FAnswers.size()) return zaAbort;
    return FAnswers[FNext++];
  }
  std::vector<String> questions;
  std::vector<TZEQuestionKind> kinds;

 private:
  std::vector<TZEAnswer> FAnswers;
  std::size_t FNext = 0;
};

TEST(ZipErrors, DefaultDecisionAsksByNativeNumber) {
  TZipEngine engine;
  ScriptedPrompt prompt({zaRetry, zaIgnore, zaAbort, zaIgnore, zaRetry});
  engine.SetUserPrompt(&prompt);

  const EZEException diskFull(65);
  EXPECT_EQ(engine.ProcessFileFailure(u"a", poAdd, diskFull), fxaRetry);
  EXPECT_EQ(engine.ProcessFileFailure(u"a", poAdd, diskFull), fxaIgnore);
  EXPECT_EQ(engine.ProcessFileFailure(u"a", poAdd, diskFull), fxaAbort);
  ASSERT_EQ(prompt.questions.size(), 3u);
  EXPECT_EQ(prompt.questions[0],
            u"Disk is full. There is not enough free space on disk. - Native error: 00065. File "
            u"processing error, possibly disk is full");
  EXPECT_EQ(prompt.kinds[0], qkAbortRetryIgnore);

  // A too long name offers only Abort and Ignore, with the bare message.
  EXPECT_EQ(engine.ProcessFileFailure(u"a", poAdd, EZEException(61, {u"p"})), fxaIgnore);
  EXPECT_EQ(prompt.kinds.back(), qkAbortIgnore);
  EXPECT_EQ(prompt.questions.back(), EZEException(61, {u"p"}).Message());
  // Retry is not among its answers; anything but Ignore aborts.
  EXPECT_EQ(engine.ProcessFileFailure(u"a", poAdd, EZEException(61, {u"p"})), fxaAbort);

  // 45 aborts without a question.
  const std::size_t asked = prompt.questions.size();
  EXPECT_EQ(engine.ProcessFileFailure(u"a", poAdd, EZEException(45)), fxaAbort);
  EXPECT_EQ(prompt.questions.size(), asked);
}

TEST(ZipErrors, HookDecidesAndSeesTheFailure) {
  TZipEngine engine;
  ScriptedPrompt prompt({});
  engine.SetUserPrompt(&prompt);
  TZEAction preset = fxaAbort;
  int native = -1, code = -1;
  String seenName, seenMessage;
  engine.OnProcessFileFailure = [&](TZEBaseArchiver&, const String& FileName, TZEProcessOperation,
                                    int NativeError, int ErrorCode, const String& ErrorMessage,
                                    TZEAction& Action) {
    preset = Action;
    native = NativeError;
    code = ErrorCode;
    seenName = FileName;
    seenMessage = ErrorMessage;
    Action = fxaRetry;
  };
  EXPECT_EQ(engine.ProcessFileFailure(u"f.txt", poAdd, EZEException(33, {u"/f.txt"})), fxaRetry);
  EXPECT_EQ(preset, fxaIgnore);
  EXPECT_EQ(native, 33);
  EXPECT_EQ(code, 12);
  EXPECT_EQ(seenName, u"f.txt");
  EXPECT_EQ(seenMessage, u"Cannot open file \"/f.txt\" - Native error: 00033");
  EXPECT_TRUE(prompt.questions.empty());
}

TEST(ZipErrors, WithoutTerminalTheDefaultQuestionAnswersAbort) {
  // Run in a child without a controlling terminal, so the answer cannot come
  // from whoever runs the tests.
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoDetachedChild());
  EXPECT_EQ(test::RunDetached([] {
              const TZEAnswer answer = DefaultUserPrompt().Ask(u"question", qkAbortRetryIgnore);
              const TZEAnswer overwrite = DefaultUserPrompt().Ask(u"question", qkYesNoAll);
              return answer == zaAbort && overwrite == zaNo ? 0 : 1;
            }),
            0);
}

}  // namespace
}  // namespace zo
