#pragma once

// The transaction builder in the tests' namespace, and a temporary file to load its bytes from.

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>

#include "samples/tx_builder.h"
#include "tests/common/files.h"

namespace varnel::test {

using samples::TxBuilder;

/// Writes bytes to a unique temporary file and returns its path.
inline std::string tempFile(const std::string& bytes, const std::string& suffix = ".an2") {
  static std::atomic<int> counter{0};
  std::string path =
      "/tmp/varnel_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + suffix;
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

}  // namespace varnel::test
