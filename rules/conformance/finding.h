#pragma once

#include <string>
#include <string_view>

namespace varnel::rules::conformance {

/// How serious a finding is: an error is what a receiving system would reject; a warning is
/// worth a look but conforms.
enum class Severity { kError, kWarning };

/// "error" or "warning".
[[nodiscard]] std::string_view severityName(Severity s) noexcept;

/// What a check found about one transaction. Record and field members are 0 (position -1, IDC
/// empty) when the finding is about the transaction as a whole or a whole record.
struct Finding {
  Severity severity = Severity::kError;
  /// Kind of check: "structure", "presence", "occurrence", "length", "charset", "value",
  /// "image" or "minutiae".
  std::string check;
  int recordType = 0;
  /// Position of the record in the transaction (0 = the Type-1 record), -1 for none.
  int recordPosition = -1;
  /// The record's IDC as written (x.002), empty when the record has none.
  std::string idc;
  int field = 0;
  std::string mnemonic;
  std::string expected;
  std::string found;
  /// The whole finding as one line: "1.011 NSR: expected 5 characters, found '19.7'".
  std::string message;
};

}  // namespace varnel::rules::conformance
