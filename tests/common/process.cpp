#include "tests/common/process.h"

#include <cstdio>

namespace varnel::test {

std::string runCommand(const std::string& command, int& status) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) {
    status = -1;
    return out;
  }
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  status = ::pclose(p);
  return out;
}

bool haveTool(const std::string& name) {
  int status = 0;
  runCommand("command -v " + name + " >/dev/null 2>&1", status);
  return status == 0;
}

}  // namespace varnel::test
