#pragma once

namespace varnel::xml {

/// Status values of the XML encoding. 0 is success; failures are negative.
inline constexpr int kOk = 0;
/// No Transaction is held by the handle given to the writer.
inline constexpr int kNoTransaction = -1;
/// The output file cannot be created.
inline constexpr int kCannotCreate = -6;
/// Writing or closing the output file failed after it was created (disk full, I/O error).
inline constexpr int kWriteFailed = -7;

}  // namespace varnel::xml
