// Errors of the ZIP engine and the decision taken when one entry fails.
//
// Every failure the engine detects itself is an EZEException. It carries the
// engine's internal number (NativeError, 0..67) and the index of its message
// (ErrorCode, 0..40); the text is the message template, formatted with the
// arguments, followed by " - Native error: " and the native number padded with
// zeros to five digits ("File "a.zip" not found - Native error: 00012").
//
// A failure met while one entry is stored or extracted is first offered to a
// decision (TZEAction): retry the entry, ignore it and go on, or abort the
// whole operation. The hook that may take the decision, and the engine's
// other hooks, are in zip/ZipHooks.h; the default asks the user through
// TZEUserPrompt, below.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/Exception.h"
#include "core/Format.h"
#include "core/String.h"

namespace zo {

class TZEBaseArchiver;

// 8-bit text exactly as stored in an archive (entry and archive comments).
using AnsiText = std::string;

// --- Native numbers the engine raises -----------------------------------------
inline constexpr int kZENativeUnknown = 0;
inline constexpr int kZENativeInvalidMode = 5;          // compression mode above 9
inline constexpr int kZENativeBadData = 8;              // size/CRC check failed, unknown method
inline constexpr int kZENativeBlankFileName = 10;       // opening with an empty file name
inline constexpr int kZENativeArchiveNotFound = 12;     // %s: archive file name
inline constexpr int kZENativeNotActive = 13;           // no archive open
inline constexpr int kZENativeEntryNotFound = 15;       // %s: entry name
inline constexpr int kZENativeIndexOutOfBounds = 16;    // entry index outside the directory
inline constexpr int kZENativeCannotCreateFile = 19;    // %s: target path
inline constexpr int kZENativeCannotCreateDir = 20;     // %s: directory path
inline constexpr int kZENativeUpdateNotEnded = 26;      // extraction inside a transaction
inline constexpr int kZENativeReadOnly = 32;            // update on a read-only archive
inline constexpr int kZENativeCannotOpenSource = 33;    // %s: source path
inline constexpr int kZENativeBadSourceSize = 34;       // %d, %d: source size, bytes read
inline constexpr int kZENativeInvalidArchive = 35;      // no end record and no local header
inline constexpr int kZENativeNoZip64EndRecord = 40;
inline constexpr int kZENativeZip64CompSize = 41;       // %s: source name
inline constexpr int kZENativeZip64Needed = 43;         // %s: source name
inline constexpr int kZENativeOpenAborted = 45;         // decided Abort without asking
inline constexpr int kZENativeWriteError = 46;          // a file being extracted took fewer bytes
inline constexpr int kZENativeDamaged = 48;             // a directory or entry that cannot be read as it stands
inline constexpr int kZENativeDeflate64 = 55;
inline constexpr int kZENativeNameIndexClash = 59;
inline constexpr int kZENativeNameTooLong = 61;         // %s: source path
inline constexpr int kZENativeDiskFull = 65;
inline constexpr int kZENativeEncrypted = 67;           // an encrypted entry: never extracted

// The message index (0..40) for a native number; 0 when it has no pair.
int ZEErrorCodeOf(int nativeError);
// The message template of an index ("Unknown error" for one outside 0..40).
StringView ZEMessageTemplate(int errorCode);

class EZEException : public Exception {
 public:
  // engine: when given and its Name is not empty, the text is prefixed with
  // "<name>: ". The engines of this system have no name.
  explicit EZEException(int nativeError, const TZEBaseArchiver* engine = nullptr);
  EZEException(int nativeError, std::initializer_list<FormatArg> args,
               const TZEBaseArchiver* engine = nullptr);

  std::int32_t NativeError = 0;
  std::int32_t ErrorCode = 0;
};

// An engine error whose text is our own rather than one of the numbered
// templates, for refusals the templates have no words for. It still carries
// a native number, so the failure decision treats it like any other. Names
// taken from the archive go into Text through PrintableName.
class EZERefused : public EZEException {
 public:
  EZERefused(int nativeError, const String& text);
};

// The decision for an entry that failed.
enum class TZEAction : std::uint8_t { fxaRetry = 0, fxaIgnore = 1, fxaAbort = 2 };
using enum TZEAction;

// What is being done to an entry; carried by each directory entry and by the
// failure decision.
enum class TZEProcessOperation : std::uint8_t {
  poAdd, poMove, poDelete, poUpdate, poExtract, poTest, poRename, poChangeAttr,
  poChangeComment, poMakeSFX, poMerge
};
using enum TZEProcessOperation;

// --- The interactive question of the default decisions ---------------------------
// The engine asks the user through this interface when no hook is installed.
// The console program answers on the controlling terminal (and Abort when
// there is none); tests install a scripted one.

enum class TZEQuestionKind : std::uint8_t {
  qkAbortRetryIgnore,        // a failed entry
  qkAbortIgnore,             // a source path that is too long
  qkYesNoAll                 // overwrite: Yes, No, No to all, Yes to all
};
using enum TZEQuestionKind;

enum class TZEAnswer : std::uint8_t { zaAbort, zaRetry, zaIgnore, zaYes, zaNo, zaNoToAll, zaYesToAll };
using enum TZEAnswer;

class TZEUserPrompt {
 public:
  virtual ~TZEUserPrompt() = default;
  // Closing the question without an answer counts as zaAbort (or zaNo for
  // qkYesNoAll).
  virtual TZEAnswer Ask(const String& Message, TZEQuestionKind Kind) = 0;
};

// The question on the controlling terminal, with the choices of its kind.
// Without a terminal nobody can answer and the safe answer is taken: Abort
// (No for an overwrite). An aborted operation returns without an error, so a
// prompt that reports this prints the unanswered failure question on standard
// output; a caller that reports the aborted failure itself stays silent.
class TZETerminalPrompt : public TZEUserPrompt {
 public:
  explicit TZETerminalPrompt(bool ReportUnanswered) : FReportUnanswered(ReportUnanswered) {}
  TZEAnswer Ask(const String& Message, TZEQuestionKind Kind) override;
  // The answer to a failed entry's question when nobody can be asked:
  // zaAbort (the default), or zaIgnore where going on with the next entry is
  // the safe course, as when unpacking (every whole entry is still restored).
  void SetUnansweredFailure(TZEAnswer Answer) { FUnansweredFailure = Answer; }

 private:
  bool FReportUnanswered;
  TZEAnswer FUnansweredFailure = zaAbort;
};

// The process-wide prompt used by engines that have none of their own: a
// terminal prompt that reports an unanswered failure question.
TZEUserPrompt& DefaultUserPrompt();

// A name taken from an archive, fit to be shown in a message: control
// characters (C0, DEL, C1), the characters that reorder or hide text (bidi
// and line separators) and lone surrogates are written as \xHH or \uHHHH,
// so a name can never drive the terminal that shows the message. Everything
// else is kept as it is. A name of more than 803 characters is shortened to
// its first 600 and last 200, joined by "...".
String PrintableName(StringView Name);

}  // namespace zo
