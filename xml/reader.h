#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "transaction/nist_file.h"

namespace varnel::xml {

/// Largest XML file the reader accepts (bytes), so a runaway file cannot exhaust memory.
inline constexpr std::size_t kMaxXmlFileBytes = std::size_t{1} << 30;

/// Reads the XML-encoded transaction at `path` into the Transaction held by `file`, which should
/// hold the prepared default Type-1 record. Type-1 fields are overwritten from the document, the
/// Type-2 record is created by its first field, and every further record is appended in document
/// order through the handle's setters. Record lengths are left for the caller to bring up to date.
/// A missing element leaves its field unset; a record element or field the handle refuses is
/// skipped. Prepared Type-1 fields that the document does not give (DAI, ORI, TCN...) keep their
/// placeholder values and are named in one warning added to `file`.
/// Returns kOk; kCannotOpen when the file cannot be opened or is not a regular file; kTooLarge
/// when it is larger than kMaxXmlFileBytes; kNotWellFormed when it is not well-formed XML (a
/// UTF-8 byte-order mark is accepted; other encodings are not);
/// kNotPackage when neither the root nor its first child element is an exchange package;
/// kBadImageData when image data is not base64; transaction::kAllocFailed when memory runs out.
/// On failure the Transaction holds what was read before it, for the caller to discard.
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
