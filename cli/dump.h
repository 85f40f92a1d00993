#pragma once

#include <iosfwd>
#include <string>

#include "transaction/nist_file.h"

namespace CLI {
class App;
}

namespace varnel::cli {

/// Describes the image of record `occurrence` of `type` (format, size), or returns an empty text.
/// The image layer registers one with setImageDescriber to enrich `varnel dump`.
using ImageDescriber = std::string (*)(const transaction::NistFile& file, int type, int occurrence);

/// Registers the describer `dump` calls for each image data field (null removes it). A cli/*.cpp
/// may register from a static initialiser: `static const bool r = (setImageDescriber(&f), true);`
void setImageDescriber(ImageDescriber describer) noexcept;

/// Writes the records, fields, subfields and items of the loaded transaction as text. Image data
/// is shown as its byte count (and the describer's text).
void dumpTransaction(const transaction::NistFile& file, std::ostream& out);

/// Adds `dump FILE` to `app`; `exitCode` receives the command's status when it runs: 0, or 1
/// when the file does not load.
void addDumpCommand(CLI::App& app, int& exitCode);

}  // namespace varnel::cli
