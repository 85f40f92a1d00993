#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "transaction/nist_file.h"

namespace varnel::xml {

/// Largest XML file the reader accepts (bytes). A larger file reads as a document without
/// elements, so a runaway file cannot exhaust memory.
inline constexpr std::size_t kMaxXmlFileBytes = std::size_t{1} << 30;

/// Reads the XML-encoded transaction at `path` into the Transaction held by `file`, which should
/// hold the prepared default Type-1 record. Type-1 fields are overwritten from the document, the
/// Type-2 record is created by its first field, and every further record is appended in document
/// order through the handle's setters. Record lengths are left for the caller to bring up to date.
/// Never fails: a file that cannot be opened, is too large or does not parse reads as a document
/// without elements; a record element or field the handle refuses is skipped. Always returns 0.
/// No file or network resource other than `path` is ever opened (DOCTYPE declarations and
/// entities other than the five predefined ones and character references are not expanded).
[[nodiscard]] int readXml(const std::string& path, transaction::NistFile& file) noexcept;

/// Same as readXml, from a document held in memory.
[[nodiscard]] int readXmlBytes(std::string_view document, transaction::NistFile& file) noexcept;

/// "YYYY-MM-DD" (exactly 10 characters) becomes "YYYYMMDD"; any other text is returned unchanged.
[[nodiscard]] std::string dateFromXml(std::string_view text);

/// "YYYY-MM-DDThh:mm:ssZ" (exactly 20 characters) becomes "YYYYMMDDhhmmssZ"; any other text is
/// returned unchanged.
[[nodiscard]] std::string dateTimeFromXml(std::string_view text);

}  // namespace varnel::xml
