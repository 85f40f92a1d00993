#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/common/files.h"

namespace varnel::test {

/// Builds traditional-encoding bytes for tests. Tagged records get their LEN computed; CNT is
/// written from the records added.
class TxBuilder {
 public:
  /// A tagged field: number and its raw value text (may hold US/RS).
  using Fields = std::vector<std::pair<int, std::string>>;

  TxBuilder& type1(Fields extra = {});
  TxBuilder& tagged(int type, Fields fields);
  /// A binary record in the standard 18-byte layout (Type 8: 12-byte) around `data`.
  TxBuilder& binary(int type, int idc, std::string data, int hll = 0, int vll = 0);
  /// Raw record bytes with a CNT entry of `type` (for malformed records).
  TxBuilder& raw(int type, std::string bytes);
  /// The whole file.
  [[nodiscard]] std::string bytes() const;

  /// A tagged record's bytes with a correct LEN, for `type` and its fields (without LEN).
  static std::string taggedRecord(int type, const Fields& fields);

 private:
  Fields type1Extra_;
  bool haveType1_ = false;
  std::vector<std::pair<int, std::string>> records_;  // type, bytes
};

/// Writes bytes to a unique temporary file and returns its path.
std::string tempFile(const std::string& bytes, const std::string& suffix = ".an2");

}  // namespace varnel::test
