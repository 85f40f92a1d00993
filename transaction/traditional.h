#pragma once

#include <memory>
#include <string>

#include "transaction/tree.h"

namespace varnel::transaction {

/// Reads a traditional-encoding file. Returns 0 and a new Transaction in `out`; -4 when the file
/// cannot be opened; -308 when its first byte is "<"; -309 when the first tag does not name record
/// type 1; -5 for any other failure. `out` is left empty on failure.
[[nodiscard]] int readTraditional(const std::string& path,
                                  std::unique_ptr<Transaction>& out) noexcept;

/// Reads a traditional transaction from memory, with the same statuses (-4 never occurs).
[[nodiscard]] int readTraditionalBytes(std::string_view bytes,
                                       std::unique_ptr<Transaction>& out) noexcept;

/// Detailed status of the last read on this thread, before it collapsed into -5 (for diagnostics).
[[nodiscard]] int lastReadDetail() noexcept;

/// Writes the Transaction to `path` in the traditional encoding. Returns 0; -2 cannot create the
/// file, a record type that is neither tagged nor binary, a tagged field without a tag, or a
/// failed write; -3/-4 close failures; -41/-31/-21 a binary value of width 1/2/4 that is not a
/// number. A failed write leaves the partial file; the Transaction is never changed.
[[nodiscard]] int writeTraditional(const std::string& path, const Transaction& tx) noexcept;

/// Serialises the Transaction to memory, with the statuses of writeTraditional.
[[nodiscard]] int writeTraditionalBytes(const Transaction& tx, std::string& out) noexcept;

}  // namespace varnel::transaction
