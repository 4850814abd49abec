// The terminal a question is put to (AskOnTerminal in platform/Console.h),
// owned for the length of one question: the controlling terminal /dev/tty on
// POSIX, the console's CONIN$ and CONOUT$ on Windows. Standard input and
// output may be redirected; the terminal is the person. Each system's
// Console.cpp implements it.
#pragma once

#include <string>

#include "platform/Descriptor.h"

namespace zo {

class TTerminal {
 public:
  TTerminal();

  bool IsOpen() const;
  // Gives up quietly on an error: what is written here is only shown.
  void Write(const std::string& text);
  // One line without its end; false at end of input or on an error.
  bool ReadLine(std::string& line);

 private:
  TDescriptor FInput;
  TDescriptor FOutput;   // where output has a handle of its own (Windows)
};

}  // namespace zo
