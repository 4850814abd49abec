// The console zip tool's driver: one run from the arguments to the text it
// prints.
//
// The tool asks nothing, prints nothing when it succeeds and prints one
// composed error text when it fails; its exit code is always 0, so callers
// read standard output to know how a run went.
#pragma once

#include <vector>

#include "core/String.h"

namespace zo {

// Runs one command line (the arguments without the program's name). Returns
// the text to print: empty on success, otherwise the error that ended the run
// composed by ComposeExceptionMessage. A failure that the engine's failure
// decision answered with Abort (as it does when nobody can be asked while
// packing) ends the run with that failure's text too, and an unpack that
// could not restore every entry (nobody asked, it goes on past a damaged one)
// ends with a text that names the first and counts the others, so no failure
// goes unreported.
String RunBundlet(const std::vector<String>& Arguments);

// The composed text as the console shows it: its CR LF line ends become
// this platform's line end, and one more line end follows.
std::string BundletConsoleText(const String& Text);

}  // namespace zo
