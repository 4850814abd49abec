// The engine's hooks: plain callbacks, of which the engine (zip/ZipEngine.h)
// holds one each; an empty one means the default named with it. The console
// tool's archive wrapper (bundlet/ZipArchive.h) installs OnWorkProgress alone,
// and answers the defaults' questions through its own TZEUserPrompt.
//
// Every hook runs on the thread that called the engine, and in the order of
// the entries, also while worker threads compress or extract: a hook needs no
// lock of its own, and what it sees is what one thread would show.
#pragma once

#include <cstdint>
#include <functional>

#include "core/String.h"
#include "zip/ZipErrors.h"

namespace zo {

enum class TZEProgressPhase : std::uint8_t { ppStart, ppProcess, ppEnd };
using enum TZEProgressPhase;

// Action arrives preset to fxaIgnore. Default (no hook): by NativeError, see
// TZEBaseArchiver::ProcessFileFailure.
using TZEProcessFileFailureEvent = std::function<void(
    TZEBaseArchiver& Sender, const String& FileName, TZEProcessOperation Operation,
    int NativeError, int ErrorCode, const String& ErrorMessage, TZEAction& Action)>;
// Default: Confirm stays true (proceed with the entry).
using TZEConfirmProcessFileEvent = std::function<void(
    TZEBaseArchiver& Sender, const String& FileName, TZEProcessOperation Operation, bool& Confirm)>;
// Default: name, attributes and comment unchanged.
using TZEStoreFileEvent = std::function<void(TZEBaseArchiver& Sender, String& FileName,
                                             std::uint32_t& FileAttr, AnsiText& Comment,
                                             const String& OriginalFileName)>;
using TZEExtractFileEvent = std::function<void(TZEBaseArchiver& Sender, String& FileName,
                                               std::uint32_t& FileAttr, const AnsiText& Comment)>;
// Only consulted under omPrompt. Default: the question "Overwrite file "%s"
// with "%s"" with Yes, No, No to all, Yes to all.
using TZEConfirmOverwriteEvent = std::function<void(
    TZEBaseArchiver& Sender, const String& SourceFileName, String& DestFileName, bool& Confirm,
    bool& YesToAll, bool& NoToAll)>;
// Called when the archive stream took fewer bytes than given. Cancel false
// means "space was made, try again". Default: native 65.
using TZEDiskFullEvent = std::function<void(TZEBaseArchiver& Sender, int VolumeNumber,
                                            const String& VolumeFileName, bool& Cancel)>;
// Progress in percent; Cancel true stops the operation. Default: nothing.
using TZEFileProgressEvent = std::function<void(TZEBaseArchiver& Sender, const String& FileName,
                                                double Progress, TZEProcessOperation Operation,
                                                TZEProgressPhase ProgressPhase, bool& Cancel)>;
using TZEOverallProgressEvent = std::function<void(TZEBaseArchiver& Sender, double Progress,
                                                   TZEProcessOperation Operation,
                                                   TZEProgressPhase ProgressPhase, bool& Cancel)>;
// How far a commit or an extraction pass has come: the uncompressed bytes and
// the entries with data, done and in all. Called as each piece of data is
// written; a display decides itself how often to show it.
struct TZEWorkProgress {
  std::int64_t BytesDone = 0;
  std::int64_t BytesTotal = 0;
  int FilesDone = 0;
  int FilesTotal = 0;
};
using TZEWorkProgressEvent = std::function<void(TZEBaseArchiver& Sender, TZEProcessOperation Operation,
                                                const TZEWorkProgress& Progress)>;
using TZECopyTempFileProgressEvent = std::function<void(
    TZEBaseArchiver& Sender, double Progress, TZEProgressPhase ProgressPhase, bool& Cancel)>;

}  // namespace zo
