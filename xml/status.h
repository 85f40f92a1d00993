#pragma once

namespace varnel::xml {

/// Status values of the XML encoding. 0 is success; failures are negative.
inline constexpr int kOk = 0;
/// No Transaction is held by the handle given to the writer.
inline constexpr int kNoTransaction = -1;
/// The output file cannot be created.
inline constexpr int kCannotCreate = -6;
/// Writing or closing the output file failed after it was created (disk full, I/O error).
inline constexpr int kWriteFailed = -7;

/// The document is not well-formed XML (cut short, not UTF-8, nested too deep).
inline constexpr int kNotWellFormed = -320;
/// The file cannot be opened, or is not a regular file (same number as kNotWellFormed: callers
/// see one "cannot be read").
inline constexpr int kCannotOpen = -320;
/// The document is larger than the reader accepts (kMaxXmlFileBytes; same number as
/// kNotWellFormed).
inline constexpr int kTooLarge = -320;
/// The document is well-formed but its root is not an ANSI/NIST-ITL exchange package.
inline constexpr int kNotPackage = -321;
/// Image or binary data that is not valid base64.
inline constexpr int kBadImageData = -322;

}  // namespace varnel::xml
