#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::transaction {

/// Decodes base64 text. Characters outside the alphabet (line breaks, spaces) are skipped; decoding
/// stops at the first "=". Returns true; false when the text holds a stray character that is
/// neither whitespace nor of the alphabet (what was decoded so far is kept in `out`).
bool decodeBase64(std::string_view text, std::vector<std::uint8_t>& out);

/// Encodes bytes as base64 without line breaks.
void encodeBase64(std::span<const std::uint8_t> bytes, std::string& out);

}  // namespace varnel::transaction
