#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <string>

namespace varnel::cli {

/// Adds the `wsq` subcommand to `app`:
///   `wsq encode [--bitrate R] IN.pgm OUT.wsq` compresses an 8-bit binary PGM (default 2.25 bpp);
///   `wsq decode IN.wsq OUT.pgm` decompresses to a binary PGM;
///   `wsq info IN.wsq` prints size, resolution, frame values and Q and Z of every subband.
/// When a subcommand runs, `exitCode` receives its exit status (0 success, 1 failure).
void addWsqCommand(CLI::App& app, int& exitCode);

/// `wsq encode`: messages to `err`. Returns 0, or 1 when the input cannot be read, the codec
/// fails or the output cannot be written (OUT is then not created).
int runWsqEncode(const std::string& in, const std::string& out, float bitrate, std::ostream& err);

/// `wsq decode`: messages to `err`. Returns 0 or 1 as runWsqEncode.
int runWsqDecode(const std::string& in, const std::string& out, std::ostream& err);

/// `wsq info`: the report goes to `out`, messages to `err`. Returns 0 or 1.
int runWsqInfo(const std::string& in, std::ostream& out, std::ostream& err);

/// A short English text for a WSQ codec status.
const char* wsqStatusText(int status) noexcept;

}  // namespace varnel::cli
