// A question put to the person at the controlling terminal, and the console
// program's standard streams.
//
// Used where the system would show a modal question box: the console program
// has no window, so it asks on the terminal itself (not on standard input or
// output, which may be redirected). Without a terminal nobody can answer,
// and the question reports that, so the caller falls back to its safe answer.
// Each body says at its top what the terminal is there.
#pragma once

#include <string>
#include <vector>

namespace zo {

struct TConsoleChoice {
  std::string Key;     // what the person types ("a"), compared without case
  std::string Label;   // shown in the offer ("Abort")
};

// Writes message and the offer ("[a] Abort, [r] Retry, [i] Ignore? ") and
// reads lines until one matches a choice's key or label (ASCII case
// ignored). Returns the index of the choice, or -1 when there is no
// controlling terminal or it reached end of input.
int AskOnTerminal(const std::string& message, const std::vector<TConsoleChoice>& choices);

// Standard error as a terminal a person watches (not a file or a pipe), and
// its width in columns (80 when the terminal does not tell).
bool StandardErrorIsTerminal();
int StandardErrorColumns();
// Writing into a pipe whose reader has gone fails with an error instead of
// ending the process: a console program's work is done (or reported) either
// way.
void IgnoreClosedPipes();

// Writes UTF-8 text to standard output: as it is into a file or a pipe, as
// characters onto a console that takes text in another form. Errors are
// ignored, as the program's exit code does not depend on its output.
void WriteStandardOutput(const std::string& text);

// Writes text to standard error as it is, all of it (a signal or a full
// pipe may take it in pieces); errors are ignored: nothing depends on it.
void WriteStandardError(const std::string& text);

}  // namespace zo
