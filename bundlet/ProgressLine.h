// One line on a terminal that tells how far a long pack or unpack has come:
// bytes and files done out of the total, the rate and the time left.
//
// It is shown only when standard error is a terminal, only once the work has
// taken a moment (short runs stay silent), redrawn a few times a second, and
// erased when the work ends or a question is put, so it never mixes with the
// one error text on standard output or with a question on the terminal. On
// anything else (installers, pipes, CI) it writes nothing at all.
#pragma once

#include <chrono>
#include <string>

#include "zip/ZipHooks.h"

namespace zo {

class TProgressLine {
 public:
  TProgressLine();
  ~TProgressLine() { Clear(); }
  TProgressLine(const TProgressLine&) = delete;
  TProgressLine& operator=(const TProgressLine&) = delete;

  // What is being done ("Packing", "Unpacking"), at the start of the line.
  void SetVerb(std::string verb) { FVerb = std::move(verb); }
  // Shows progress (when enough time has passed since the last drawing).
  void Update(const TZEWorkProgress& progress);
  // Erases the line when one is shown.
  void Clear();
  // Whether a line is ever shown (standard error is a terminal).
  bool Enabled() const { return FEnabled; }

  // The line itself, fitted to columns; public for its tests.
  static std::string Format(const std::string& verb, const TZEWorkProgress& progress, double seconds, int columns);

 private:
  using Clock = std::chrono::steady_clock;
  std::string FVerb;
  bool FEnabled;
  bool FShown = false;
  Clock::time_point FStarted;
  Clock::time_point FDrawn;
};

}  // namespace zo
