#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "transaction/nist_file.h"
#include "transaction/tree.h"

namespace varnel::imaging::detail {

/// True for the types whose image the layer classifies: 3-8, the tagged image types and 11.
[[nodiscard]] bool isClassifiableType(int type) noexcept;

/// Looks up a record for an image operation. Returns kOk with `out` set; kNoTransaction,
/// kNotImageType for a type not classifiable, kNegativeIndex, or kNotFound.
[[nodiscard]] int lookupImageRecord(const transaction::NistFile& file, int type, int index,
                                    const transaction::Record*& out) noexcept;

/// Number of the image data field (999 for Type 11), 0 when the type has none.
[[nodiscard]] int dataFieldNumber(const transaction::Record& record) noexcept;

/// Number of the compression field: 8 (Types 3-7), 9 (Type 7 with field 10), 4 (Type 8), 11
/// (tagged types); 0 otherwise.
[[nodiscard]] int compressionFieldNumber(const transaction::Record& record) noexcept;

/// Bytes of item 0 of subfield 0 of the field, or nullopt when the field (or item) is missing.
[[nodiscard]] std::optional<std::span<const std::uint8_t>> fieldBytes(
    const transaction::Record& record, int fieldNumber) noexcept;

/// Text of item 0 of subfield 0 of the field, or nullopt.
[[nodiscard]] std::optional<std::string_view> fieldText(const transaction::Record& record,
                                                        int fieldNumber) noexcept;

/// Strict decimal integer (optional sign, digits only, fits in int); nullopt otherwise.
[[nodiscard]] std::optional<int> parseInt(std::string_view text) noexcept;

/// Real number read like C's "%f" (leading spaces, then the longest valid prefix); nullopt when
/// nothing can be read.
[[nodiscard]] std::optional<double> parseReal(std::string_view text) noexcept;

/// Decimal value of a field (0 when missing or unreadable), as the raw size check reads 6 and 7.
[[nodiscard]] long long fieldNumberOr0(const transaction::Record& record, int fieldNumber) noexcept;

/// Occurrence (index among records of its type) of the record at `position`.
[[nodiscard]] int occurrenceAt(const transaction::Transaction& tx, std::size_t position) noexcept;

/// "%d" of `value`.
[[nodiscard]] std::string decimal(long long value);

}  // namespace varnel::imaging::detail
