#pragma once

#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace varnel::cli {

/// Adds the `jpegl` subcommand to `app`: `jpegl decode IN OUT` decodes the lossless JPEG stream
/// in file IN and writes it to OUT as a binary PGM (one component) or PPM (three components of
/// equal size, interleaved). When the subcommand runs, `exitCode` receives its exit status.
void addJpeglCommand(CLI::App& app, int& exitCode);

/// Runs `jpegl decode IN OUT`; messages go to `err`. Returns 0 on success, 1 on any failure
/// (unreadable input, undecodable stream, component layout that PGM/PPM cannot hold, unwritable
/// output). OUT is not created when decoding fails.
int runJpeglDecode(const std::string& in, const std::string& out, std::ostream& err);

}  // namespace varnel::cli
