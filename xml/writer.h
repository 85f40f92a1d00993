#pragma once

#include <string>
#include <string_view>

#include "transaction/nist_file.h"

namespace varnel::xml {

/// Writes the Transaction held by `file` to `path` in the XML encoding, one element per line,
/// indented with tabs by depth, lines ending in LF. Records of types 2, 4, 7 to 22, 98 and 99 are
/// written after the Type-1 package record; other types (and a Type-99 record lacking a field its
/// element requires) are left out and named in one warning.
/// Returns kOk; kNoTransaction when the handle holds nothing; kCannotCreate when the file cannot
/// be created (nothing is written); kWriteFailed when writing or closing fails part-way (a
/// partial regular file is removed).
[[nodiscard]] int writeXml(const std::string& path, const transaction::NistFile& file) noexcept;

/// Same as writeXml, to the open descriptor `fd` (left open) from its position. Returns kOk,
/// kNoTransaction, or kWriteFailed with the system's error number in `err` (0 on success); a
/// failed write leaves what was written before it.
[[nodiscard]] int writeXml(int fd, const transaction::NistFile& file, int& err) noexcept;

/// Same as writeXml, into memory (`out` is replaced). Returns kOk, kNoTransaction, or
/// transaction::kAllocFailed when memory runs out.
[[nodiscard]] int writeXmlToString(const transaction::NistFile& file, std::string& out) noexcept;

/// "YYYYMMDD..." becomes "YYYY-MM-DD" from the first eight characters; a text that does not begin
/// with eight digits (too short, or not a traditional date) is returned unchanged.
[[nodiscard]] std::string dateToXml(std::string_view text);

/// "YYYYMMDDhhmmss..." becomes "YYYY-MM-DDThh:mm:ssZ" from the first fourteen characters, whatever
/// follows them; a text that does not begin with fourteen digits is returned unchanged.
[[nodiscard]] std::string dateTimeToXml(std::string_view text);

/// Copy of `text` without its leading "0" characters; a text of zeros only keeps its last "0".
[[nodiscard]] std::string stripLeadingZeros(std::string_view text);

/// Appends `text` to `out` as XML character data: "&" becomes "&amp;", "<" becomes "&lt;", a ">"
/// that would close "]]>" becomes "&gt;". Control characters XML 1.0 cannot carry (below 0x20
/// other than tab, LF and CR) are left out; bytes that do not form UTF-8 are taken as Latin-1 and
/// written as UTF-8, so the document stays well-formed whatever the field holds.
void appendEscaped(std::string_view text, std::string& out);

}  // namespace varnel::xml
