#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "transaction/status.h"
#include "transaction/tree.h"

namespace varnel::transaction {

/// What stopped a read, beyond its status, for reports and diagnostics.
struct ReadDetail {
  /// kOk after a successful read; the status for kCannotOpen, kIsXml and kNotType1; for
  /// kReadFailed one of the kRead... causes of status.h (kReadTagBadType, kReadBinaryBadLength,
  /// ...).
  int code = kOk;
  /// The cause in a few words for an operator ("the file ends inside a field"); empty after
  /// success. Static text, valid for the life of the program.
  std::string_view reason;
};

/// Reads a traditional-encoding file. Returns kOk and a new Transaction in `out`; kCannotOpen
/// when the file cannot be opened; kIsXml when its first byte is "<"; kNotType1 when the first tag
/// does not name record type 1; kReadFailed for any other failure. `out` is left empty on failure.
/// When `detail` is given it receives the precise cause (also after success).
[[nodiscard]] int readTraditional(const std::string& path, std::unique_ptr<Transaction>& out,
                                  ReadDetail* detail = nullptr) noexcept;

/// Reads a traditional transaction from memory, with the same statuses (kCannotOpen never occurs).
[[nodiscard]] int readTraditionalBytes(std::string_view bytes, std::unique_ptr<Transaction>& out,
                                       ReadDetail* detail = nullptr) noexcept;

/// Writes the Transaction to `path` in the traditional encoding. Returns kOk; kWriteFailed when
/// the file cannot be created, a record type is neither tagged nor binary, a tagged field has no
/// tag, or a write fails; kDataWriteFailed for binary image data; kCloseAfterFailure and
/// kCloseFailed when closing fails; kBadByteValue, kBadShortValue, kBadLongValue for a binary value
/// of width 1, 2, 4 that is not a number fitting it. A failed write leaves the partial file; the
/// Transaction is never changed.
[[nodiscard]] int writeTraditional(const std::string& path, const Transaction& tx) noexcept;

/// Writes the Transaction in the traditional encoding to the open descriptor `fd` (left open) from
/// its position, with the statuses of writeTraditional other than the closing ones. `err`
/// receives the system's error number when a write failed, else 0. A failed write leaves what
/// was written before it.
[[nodiscard]] int writeTraditional(int fd, const Transaction& tx, int& err) noexcept;

/// Serialises the Transaction to memory, with the statuses of writeTraditional.
[[nodiscard]] int writeTraditionalBytes(const Transaction& tx, std::string& out) noexcept;

}  // namespace varnel::transaction
