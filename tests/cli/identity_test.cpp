// Converts a fixed set of files with a fixed set of rule files and compares the SHA-256 of every
// output with the checked-in list: internal changes must leave every written byte as it was.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/rules/helpers.h"

namespace {

using varnel::rules::testing::readFile;
using varnel::rules::testing::TempDir;

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST(OutputIdentity, EveryOutputMatchesTheExpectedDigest) {
  const std::string root = VARNEL_SOURCE_DIR;
  TempDir scratch;
  const std::string listPath = scratch / "actual.sha256";
  const std::string cmd = "bash '" + root + "/tests/cli/identity/run.sh' '" + VARNEL_EXE + "' '" +
                          root + "' '" + scratch.path() + "/work' >'" + listPath + "' </dev/null";
  const int raw = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << cmd;

  const std::vector<std::string> actual = lines(readFile(listPath));
  const std::vector<std::string> expected =
      lines(readFile(root + "/tests/cli/identity/expected.sha256"));
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size() && i < expected.size(); ++i) {
    EXPECT_EQ(actual[i], expected[i]) << "output " << i;
  }
}

}  // namespace
