#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnel::transaction {

/// `text` for display: printable ASCII stays, and a backslash, a separator or any other control or
/// non-ASCII byte is written as \xNN, so that separators and binary values can be seen. Only the
/// first `limit` bytes of `text` are shown; "..." follows when it was cut.
[[nodiscard]] std::string printableText(std::string_view text,
                                        std::size_t limit = std::string_view::npos);

}  // namespace varnel::transaction
