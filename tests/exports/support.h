#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rules/action_context.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/tx_builder.h"
#include "transaction/nist_file.h"

namespace varnel::test {

/// Bytes of a binary Type-4 record (standard 18-byte header) with finger position, impression
/// type and compression code (0 raw, 1 WSQ).
std::string type4Record(int idc, int fgp, int imp, int hll, int vll, int gca,
                        const std::string& data);

/// Fields of a tagged image record (Types 10, 13, 14): IDC, impression, size, resolution,
/// compression, finger position or pose, data.
TxBuilder::Fields imageFields(int idc, int imp, int width, int height, const std::string& cga,
                              const std::string& data, int fgp, int ppi = 500);

/// Loads traditional bytes into `file`; the test fails when they do not read.
void loadBytes(transaction::NistFile& file, const std::string& bytes);

/// A white 8-bit picture with dark squares (side `side`) centred on the given points.
struct Point {
  int x;
  int y;
};
std::string picture(int width, int height, const std::vector<Point>& marks, int side = 7);

/// A fresh empty folder under the temporary directory, ending in "/".
std::string freshFolder(const std::string& tag);

/// Bytes of a file in tests/data.
std::string testData(const std::string& relative);

/// Runs a rule through the engine against `file`.
struct RuleRunner {
  rules::FileState state;
  rules::RunInputs run;
  rules::FileOutcome outcome;

  void apply(transaction::NistFile& file, const std::string& action,
             std::vector<std::string> params, std::vector<rules::RuleCondition> conditions = {});
};

}  // namespace varnel::test
