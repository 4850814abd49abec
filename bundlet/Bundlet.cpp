#include "bundlet/Bundlet.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <exception>

#include "bundlet/CommandLine.h"
#include "bundlet/ProgressLine.h"
#include "bundlet/ZipArchive.h"
#include "core/EException.h"
#include "core/Exception.h"
#include "platform/Environment.h"
#include "platform/FileSystem.h"
#include "platform/Utf.h"
#include "zip/WorkerPool.h"
#include "zip/ZipErrors.h"

namespace zo {

namespace {

// Why Path cannot be opened as a file: the system's reason from looking it up.
int MissingFileReason(const String& Path) {
  if (DirectoryExists(Path)) return EISDIR;
  const int error = FileLookupError(Path);
  return error != 0 ? error : ENOENT;
}

// After an operation of the wrapper: a failure that the engine's decision
// answered with Abort ended it without an exception; it ends the run here.
void RaiseAbortedFailure(const TZipArchive& Archive) {
  if (const EZEException* failure = Archive.AbortedFailure()) throw EZEException(*failure);
}

// After a pack that completed: a file that changed size while it was read
// is stored as it was read, which is not the file as it stands. The archive
// is whole and in place; the run ends with one text that names the file,
// so that a caller knows to pack it again.
void RaiseChangedSources(const TZipArchive& Archive) {
  const TZEBaseArchiver::TZEChangedSources& changed = Archive.ChangedSources();
  if (changed.Count == 0) return;
  const String name = PrintableName(changed.FirstPath);
  throw Exception(changed.Count == 1
                      ? Format(u"File \"%s\" changed while it was packed: it is stored as it was read", {name})
                      : Format(u"%d files changed while they were packed, the first \"%s\": each is stored as it was read",
                               {changed.Count, name}));
}

// One -Azp part: the file or directory PartPath below BaseDir. A part with a
// '.' names a file; one without names a directory when there is one, and is
// taken for a file otherwise, so that a file without an extension is stored
// and a missing part is reported rather than leaving nothing behind.
struct TPackPart {
  String BaseDir;
  String PartPath;
  bool IsDirectory = false;
};

TPackPart ResolvePart(const String& BaseDir, const String& PartPath) {
  TPackPart part{BaseDir, PartPath, false};
  const String path = IncludeTrailingPathDelimiter(SlashedPath(BaseDir)) + SlashedPath(PartPath);
  const TEntryKind kind = FileKind(path);
  part.IsDirectory = PartPath.find(u'.') == String::npos && kind == ekDirectory;
  if (part.IsDirectory) return part;
  switch (kind) {
    case ekFile: break;
    // A symbolic link that leads nowhere is a file that cannot be opened: it
    // fails where every such file fails, when the archive is written.
    case ekLink: break;
    // A named pipe, socket or device is no file to store (and a pipe would
    // block the run until someone writes into it).
    case ekOther: RaiseOpenError(path, EINVAL);
    case ekDirectory:
    case ekNone: RaiseOpenError(path, MissingFileReason(path));
  }
  return part;
}

void PackAll(TZipArchive& Archive, const TBundletCommand& Command) {
  const String directory = Command.Directories.GetName(0);
  // Checked before the archive is opened: opening empties an existing one.
  if (!DirectoryExists(SlashedPath(directory))) {
    RaiseOpenError(directory, FileExists(SlashedPath(directory)) ? ENOTDIR : ENOENT);
  }
  Archive.Open(Command.ArchivePath, omZip);
  Archive.Pack(directory, true, true, zmDeflate, zlBest);
  RaiseAbortedFailure(Archive);
  Archive.Close();
  RaiseChangedSources(Archive);
}

void PackParts(TZipArchive& Archive, const TBundletCommand& Command) {
  // Every part is looked up before the archive is opened, so a mistyped part
  // leaves an existing archive as it was.
  std::vector<TPackPart> parts;
  for (int i = 0; i < Command.Directories.Count(); ++i) {
    parts.push_back(ResolvePart(Command.Directories.GetName(i), Command.Directories.GetValue(i)));
  }
  Archive.Open(Command.ArchivePath, omZip);
  // All parts in one transaction: the archive is written once, whatever the
  // number of files, and appears whole or not at all.
  Archive.BeginUpdate();
  for (const TPackPart& part : parts) {
    if (part.IsDirectory) {
      Archive.PackDirectory(part.BaseDir, part.PartPath);
    } else {
      Archive.PackFile(part.BaseDir, part.PartPath);
    }
    RaiseAbortedFailure(Archive);
  }
  Archive.EndUpdate();
  RaiseAbortedFailure(Archive);
  Archive.Close();
  RaiseChangedSources(Archive);
}

// The archive to unpack must be a file (or a link to one). A directory, a
// named pipe, a socket or a device is refused at once: opening a pipe would
// wait for a writer forever. A missing archive is the engine's to report.
void CheckArchiveIsAFile(const String& Path) {
  switch (FileKind(SlashedPath(Path))) {
    case ekNone:
    case ekLink:
    case ekFile: return;
    case ekDirectory: RaiseOpenError(Path, EISDIR);
    case ekOther: throw EFOpenError(kSFOpenError, {Path, String(u"Not a regular file")});
  }
}

// After an unpack, every entry is in the destination, or the run ends with
// one message that says what is not: how many entries could not be
// restored, the first of them by name with its reason, and whether entries
// may be lost without a trace because the archive's central directory could
// not be read. A lone failure is named like the rest: the engine's text alone
// does not always say which entry it was.
void RaiseUnrestored(const TZipArchive& Archive) {
  const auto& unrestored = Archive.Unrestored();
  String text;
  if (Archive.EntriesMayBeMissing()) {
    text = u"The archive is damaged: its central directory could not be read, so entries it held may be missing";
  }
  if (unrestored.Count > 0) {
    const String name = PrintableName(unrestored.FirstName);
    const String reason = unrestored.FirstFailure ? unrestored.FirstFailure->Message() : String();
    const String failed =
        unrestored.Count == 1
            ? Format(u"Entry \"%s\" could not be restored: %s", {name, reason})
            : Format(u"%d entries could not be restored, the first \"%s\": %s", {unrestored.Count, name, reason});
    text = text.empty() ? failed : text + u". " + failed;
  }
  if (!text.empty()) throw Exception(text);
}

void Unpack(TZipArchive& Archive, const TBundletCommand& Command) {
  const String directory = Command.Directories.GetName(0);
  CheckArchiveIsAFile(Command.ArchivePath);
  // A failure here shows in the extraction, with the engine's own text.
  ForceDirectories(SlashedPath(directory));
  Archive.Open(Command.ArchivePath, omUnzip);
  Archive.Unpack(directory, umOverwrite, true);
  RaiseUnrestored(Archive);
  Archive.Close();
}

// The engine's workers: one per core, at most BUNDLET_THREADS when that is
// set to a positive number; 1 means none.
int WorkerThreads() {
  int limit = 0;
  if (const std::optional<String> value = GetEnvironmentVariable(u"BUNDLET_THREADS")) {
    try {
      limit = std::max(0, std::stoi(ToUtf8(*value)));
    } catch (const std::exception&) {
      limit = 0;   // not a number: as if it were not set
    }
  }
  return WorkerThreadsFor(limit);
}

// The terminal's questions, with the progress line erased before each, so
// that the question stands on a line of its own.
class TPromptBelowProgress : public TZEUserPrompt {
 public:
  TPromptBelowProgress(TZEUserPrompt& prompt, TProgressLine& progress) : FPrompt(prompt), FProgress(progress) {}
  TZEAnswer Ask(const String& Message, TZEQuestionKind Kind) override {
    FProgress.Clear();
    return FPrompt.Ask(Message, Kind);
  }

 private:
  TZEUserPrompt& FPrompt;
  TProgressLine& FProgress;
};

}  // namespace

String RunBundlet(const std::vector<String>& Arguments) {
  TBundletCommand Command;
  // Outlives the archive, whose closing may still ask. Silent without a
  // terminal: the failure that was aborted is then printed as the run's one
  // error text.
  TZETerminalPrompt Prompt(false);
  // Shown on a terminal only; erased before anything else is written.
  TProgressLine Progress;
  TPromptBelowProgress PromptBelowProgress(Prompt, Progress);
  // Destroyed on every way out. A run that fails before it closes the
  // archive leaves the archive path as it was: a pack is all or nothing.
  TZipArchive Archive;
  Archive.SetUserPrompt(&PromptBelowProgress);
  Archive.SetThreadCount(WorkerThreads());
  // Counting the work costs a look at every file first: only for a line
  // that is shown.
  if (Progress.Enabled()) {
    Archive.SetWorkProgress([&Progress](TZEBaseArchiver&, TZEProcessOperation, const TZEWorkProgress& work) {
      Progress.Update(work);
    });
  }
  try {
    ParseBundletArguments(Arguments, Command);
    CheckBundletCommand(Command);
    Progress.SetVerb(Command.Action == kBundletPackAll || Command.Action == kBundletPackParts ? "Packing" : "Unpacking");
    // Unpacking with nobody to ask goes on past a damaged entry: every whole
    // entry is still restored, and the failures are reported at the end.
    if (Command.Action == kBundletUnpack) Prompt.SetUnansweredFailure(zaIgnore);
    if (Command.Action == kBundletPackAll) {
      PackAll(Archive, Command);
    } else if (Command.Action == kBundletPackParts) {
      PackParts(Archive, Command);
    } else {
      Unpack(Archive, Command);
    }
    return String();
  } catch (const std::exception& E) {
    return ComposeExceptionMessage(E);
  } catch (...) {
    return ComposeExceptionMessage(Exception(String(u"Unknown error")));
  }
}

std::string BundletConsoleText(const String& Text) {
  String lines;
  lines.reserve(Text.size() + 1);
  for (size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] == u'\r' && i + 1 < Text.size() && Text[i + 1] == u'\n') continue;
    lines += Text[i];
  }
  lines += u'\n';
  return ToUtf8(lines);
}

}  // namespace zo
