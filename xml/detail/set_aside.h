#pragma once

// Long image data set aside before parsing. Image data makes up nearly all of a large document,
// and the parser copies and rescans every character of it; so the text of each long image data
// element is decoded ahead, straight from the file's bytes, and the copy of the document handed
// to the parser carries a short placeholder in its place. The reader gives the same transaction
// with or without this step (readXmlBytesPlain reads without it, for comparison).

#include <string>
#include <string_view>
#include <vector>

#include "transaction/nist_file.h"
#include "xml/detail/input_window.h"
#include "xml/detail/read_context.h"

namespace varnel::xml::detail {

/// Image data texts at least this long are set aside.
inline constexpr std::size_t kMinSetAsideText = 1024;

/// Copies the document in `in` into `doc`, the text of each image data element of at least
/// kMinSetAsideText characters decoded into `blobs` and replaced in `doc` by a placeholder.
/// Comments, CDATA sections and processing instructions are stepped over; a document with a DOCTYPE
/// is copied as it is, nothing set aside.
void setAsideImageData(InputWindow& in, std::string& doc, std::vector<DecodedBlob>& blobs);

/// When `text` is a placeholder, moves the data it names out of `blobs` into `out` (invalid when
/// it names none) and returns true; false for any other text.
bool takeSetAsideData(std::string_view text, std::vector<DecodedBlob>* blobs, DecodedBlob& out);

/// Reads a document held in memory as readXmlBytes does, without setting image data aside: the
/// plain reference the set-aside step must agree with.
[[nodiscard]] int readXmlBytesPlain(std::string_view document,
                                    transaction::NistFile& file) noexcept;

}  // namespace varnel::xml::detail
