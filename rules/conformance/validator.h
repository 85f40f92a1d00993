#pragma once

#include <vector>

#include "rules/conformance/finding.h"
#include "rules/conformance/profile.h"
#include "transaction/nist_file.h"

namespace varnel::rules::conformance {

/// At most this many findings are listed per field; the rest are summed up in one more.
inline constexpr int kMaxFindingsPerField = 5;

/// Checks the transaction held by `file` against `profile` and appends what it finds to `out`,
/// in record order: structure (LEN, CNT, IDC, record and field order, tags), every field's
/// presence, occurrences, length, characters and values, image consistency (declared
/// compression, size, bit depth and resolution against the image data) and minutiae counts.
/// The transaction is only read. Returns 0, -1 when no transaction is held, kOutOfMemory.
[[nodiscard]] int validateTransaction(const transaction::NistFile& file, const Profile& profile,
                                      std::vector<Finding>& out) noexcept;

/// Number of findings of a severity.
[[nodiscard]] int countFindings(const std::vector<Finding>& findings, Severity s) noexcept;

}  // namespace varnel::rules::conformance
