#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::transaction {

/// Encodes bytes as base64 (standard alphabet, "=" padding) laid out for an XML text node: CR LF
/// after every 76 output characters (a full last line included), and one LF after the final group
/// and its padding: 57 bytes give 76 characters, CR LF, LF. No bytes give "\n". Replaces `out`.
void encodeBase64(std::span<const std::uint8_t> bytes, std::string& out);

/// Number of characters encodeBase64 writes for `byteCount` bytes.
[[nodiscard]] std::size_t encodedBase64Size(std::size_t byteCount) noexcept;

/// Decodes base64 text into `out` (replaced). CR, LF, tab and space are skipped wherever they
/// stand; decoding ends at the first "=". Returns true; false when a character outside the
/// alphabet is met, decoding then stops there and `out` keeps the bytes decoded before it.
/// A final group of one character carries no whole byte and is dropped.
bool decodeBase64(std::string_view text, std::vector<std::uint8_t>& out);
/// Decodes base64 text, stepping over every character that is neither of the alphabet nor
/// whitespace, up to the first "=". Returns false when there was such a character (the bytes of
/// the rest are in `out` all the same).
bool decodeBase64Lenient(std::string_view text, std::vector<std::uint8_t>& out);
/// Same, into a string.
bool decodeBase64(std::string_view text, std::string& out);

/// Decodes base64 text as decodeBase64 does, but true only for well-formed text: alphabet and
/// whitespace only, no last group of a single character, and after the first "=" nothing but the
/// padding that the decoded length calls for (at most two "=") and whitespace. `out` is replaced
/// either way.
bool decodeBase64Strict(std::string_view text, std::string& out);

}  // namespace varnel::transaction
