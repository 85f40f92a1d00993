#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/common/files.h"

namespace varnel::test {

/// What a program run by runProgram printed, and how it ended.
struct ProgramResult {
  int status = -1;  ///< exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

/// Runs `program` with `args` (already quoted for the shell) as a user would, without a terminal:
/// stdin from /dev/null, stdout and stderr caught in files "stdout.txt" and "stderr.txt" of the
/// folder `scratch`.
inline ProgramResult runProgram(const std::string& program, const std::string& args,
                                const std::string& scratch) {
  const std::string outPath = scratch + "/stdout.txt";
  const std::string errPath = scratch + "/stderr.txt";
  const std::string cmd =
      "'" + program + "' " + args + " </dev/null >'" + outPath + "' 2>'" + errPath + "'";
  const int raw = std::system(cmd.c_str());
  ProgramResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = readFile(outPath);
  r.err = readFile(errPath);
  return r;
}

}  // namespace varnel::test
