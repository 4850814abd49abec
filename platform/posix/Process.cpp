#include "platform/Process.h"

#include <errno.h>
#include <malloc.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "platform/Utf.h"

extern char** environ;

namespace zo {

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::u16string QuoteCommandLineItem(std::u16string_view item) {
  std::u16string text = u"\"";
  size_t backslashes = 0;
  for (char16_t c : item) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled and the quote escaped; before
    // anything else they are plain.
    text.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
    backslashes = 0;
    text += c;
  }
  text.append(backslashes * 2, u'\\');
  text += u'"';
  return text;
}

ChildProcess::~ChildProcess() = default;

int ChildProcess::Wait() {
  if (FPid <= 0) return -1;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(static_cast<pid_t>(FPid), &status, 0);
  } while (r < 0 && errno == EINTR);
  FPid = -1;
  if (r < 0) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

std::optional<ChildProcess> StartProcess(std::u16string_view commandLine, int* errorCode) {
  std::vector<std::u16string> args = SplitCommandLine(commandLine);
  auto fail = [&](int error) -> std::optional<ChildProcess> {
    if (errorCode) *errorCode = error;
    return std::nullopt;
  };
  if (args.empty() || args[0].empty()) return fail(ENOENT);

  // An unquoted program path with blanks: take following items into the path
  // until it names an executable file.
  size_t skip = 1;
  std::string program = ToUtf8(args[0]);
  const bool firstQuoted = !commandLine.empty() && commandLine.find_first_not_of(u" \t") != std::u16string_view::npos &&
                           commandLine[commandLine.find_first_not_of(u" \t")] == u'"';
  if (!firstQuoted) {
    std::string candidate = program;
    for (size_t k = 1; !IsExecutableFile(candidate) && k < args.size(); ++k) {
      candidate += " " + ToUtf8(args[k]);
      if (IsExecutableFile(candidate)) {
        program = candidate;
        skip = k + 1;
        break;
      }
    }
  }
  if (!IsExecutableFile(program)) return fail(access(program.c_str(), F_OK) == 0 ? EACCES : ENOENT);

  std::vector<std::string> utf8Args;
  utf8Args.push_back(program);
  for (size_t k = skip; k < args.size(); ++k) utf8Args.push_back(ToUtf8(args[k]));
  std::vector<char*> argv;
  for (std::string& a : utf8Args) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (rc != 0) return fail(rc);
  return ChildProcess(pid);
}

void ReturnLargeBuffersAtOnce() {
#ifdef M_MMAP_THRESHOLD
  // A fixed threshold also ends the allocator's habit of raising it each
  // time a large block is freed.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

long PeakResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;   // KiB on Linux
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace zo
