// Convert.h: the command-line converter, callable in-process (tests) and from main.
#pragma once
#include <ostream>
#include <string>
#include <vector>

namespace ExitCode {
constexpr int AllConverted = 0;
constexpr int SomeFailed = 1;
constexpr int Usage = 2;
}  // namespace ExitCode

// args without the program name. Converted files are reported on out, everything else on err,
// in the order of the inputs whatever the number of jobs.
int RunConvert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
