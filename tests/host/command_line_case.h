// One command line of tavhost's with what it must answer: a row of the tables that one runner
// (tavhost_test.cpp) runs, its own and those of messages_test.cpp.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace tav::testing {

struct CommandLineCase {
  const char* name;
  std::vector<std::string> args;
  int exitCode;
  std::vector<std::string> out = {};     // fragments of standard output
  std::vector<std::string> err = {};     // fragments of standard error
  const char* folder = "";               // working folder: "", "{tmp}" or "{library}"
  const char* interruptAfter = "";       // Ctrl-C once standard output holds this
  const char* environment = "";          // NAME=VALUE for tavhost
  std::vector<std::string> absent = {};  // fragments neither output may hold
  int errorLines = 1;  // lines of standard error when the exit code is neither 0 nor 1
};

// Failure messages show a row by its name.
inline void PrintTo(const CommandLineCase& c, std::ostream* os) {
  *os << c.name;
}

// tavhost in words (messages_test.cpp): status words, messages that name the real fault, the
// command line's checks, the serial channel's bounds and the value views.
std::span<const CommandLineCase> WordCases();

}  // namespace tav::testing
