#pragma once

#include <string>

namespace varnel::test {

/// Runs a shell command and returns what it printed; `status` receives pclose's status (-1 when
/// the command could not be started).
std::string runCommand(const std::string& command, int& status);

/// True when `name` is a command on the PATH. A test that needs an outside tool asserts this, so
/// a missing tool fails it (scripts/install-deps installs every one).
bool haveTool(const std::string& name);

}  // namespace varnel::test
