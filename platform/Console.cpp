// The question's rules, the same on every system; the terminal it is put to
// is each system's own (platform/Terminal.h).
#include "platform/Console.h"

#include <cctype>

#include "platform/Terminal.h"

namespace zo {

namespace {

std::string Trimmed(const std::string& text) {
  std::size_t first = 0, last = text.size();
  while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
  while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
  return text.substr(first, last - first);
}

bool SameAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

int AskOnTerminal(const std::string& message, const std::vector<TConsoleChoice>& choices) {
  TTerminal terminal;
  if (!terminal.IsOpen() || choices.empty()) return -1;
  std::string offer;
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (i > 0) offer += ", ";
    offer += "[" + choices[i].Key + "] " + choices[i].Label;
  }
  terminal.Write(message + "\n");
  for (;;) {
    terminal.Write(offer + "? ");
    std::string line;
    if (!terminal.ReadLine(line)) return -1;
    const std::string answer = Trimmed(line);
    for (std::size_t i = 0; i < choices.size(); ++i) {
      if (SameAscii(answer, choices[i].Key) || SameAscii(answer, choices[i].Label))
        return static_cast<int>(i);
    }
  }
}

}  // namespace zo
