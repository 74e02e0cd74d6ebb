// Convert.h: the command-line converter, callable in-process (tests) and from main.
#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "cli/ProgressLine.h"

// args without the program name. Converted files are reported on out, everything else on err,
// in the order of the inputs whatever the number of jobs. When err is a terminal, a counter of
// the work done is redrawn there while a batch (or a file that takes long) is converted.
int RunConvert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const ErrorConsole& console = ErrorConsole());
