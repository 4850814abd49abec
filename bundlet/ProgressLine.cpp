#include "bundlet/ProgressLine.h"

#include <algorithm>
#include <cstdio>

#include "platform/Console.h"

namespace zo {

namespace {

// Nothing is shown for work that ends sooner than this, and the line is not
// redrawn more often than every refresh.
constexpr std::chrono::milliseconds kQuietStart(300);
constexpr std::chrono::milliseconds kRefresh(100);

std::string Megabytes(std::int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / 1e6);
  return text;
}

// Time left may come out absurd (an archive that declares sizes it does not
// hold): shown up to 9,999 hours, never converted out of range.
std::string Duration(double seconds) {
  const long total = static_cast<long>(std::clamp(seconds, 0.0, 9999.0 * 3600) + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  }
  return text;
}

}  // namespace

TProgressLine::TProgressLine() : FEnabled(StandardErrorIsTerminal()), FStarted(Clock::now()), FDrawn(FStarted) {}

std::string TProgressLine::Format(const std::string& verb, const TZEWorkProgress& progress, double seconds,
                                  int columns) {
  const std::int64_t total = std::max<std::int64_t>(progress.BytesTotal, progress.BytesDone);
  // In floating point: the counts may come near their top.
  const int percent =
      total > 0 ? static_cast<int>(100.0 * static_cast<double>(progress.BytesDone) / static_cast<double>(total)) : 0;
  std::string line = verb + " " + std::to_string(percent) + "%  " + Megabytes(progress.BytesDone) + " of " +
                     Megabytes(total) + " MB  " + std::to_string(progress.FilesDone) + " of " +
                     std::to_string(std::max(progress.FilesTotal, progress.FilesDone)) + " files";
  if (seconds > 0 && progress.BytesDone > 0) {
    const double rate = static_cast<double>(progress.BytesDone) / seconds;
    line += "  " + Megabytes(static_cast<std::int64_t>(rate)) + " MB/s  " +
            Duration(static_cast<double>(total - progress.BytesDone) / rate) + " left";
  }
  // One column stays free: writing the last one makes some terminals wrap.
  const std::size_t room = static_cast<std::size_t>(std::max(columns - 1, 10));
  if (line.size() > room) line.resize(room);
  return line;
}

void TProgressLine::Update(const TZEWorkProgress& progress) {
  if (!FEnabled) return;
  const Clock::time_point now = Clock::now();
  if (now - FStarted < kQuietStart || (FShown && now - FDrawn < kRefresh)) return;
  const double seconds = std::chrono::duration<double>(now - FStarted).count();
  // \r to the start of the line, the line, then erase what a longer line
  // before it left behind.
  WriteStandardError("\r" + Format(FVerb, progress, seconds, StandardErrorColumns()) + "\x1b[K");
  FShown = true;
  FDrawn = now;
}

void TProgressLine::Clear() {
  if (!FShown) return;
  WriteStandardError("\r\x1b[K");
  FShown = false;
}

}  // namespace zo
