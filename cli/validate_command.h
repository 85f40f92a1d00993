#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace varnel::cli {

/// What `varnel validate` was asked to do.
struct ValidateOptions {
  std::vector<std::string> paths;  ///< files, or folders whose transaction files are taken
  std::string profile = "base";    ///< "base" or a profile file
  std::string html;                ///< write an HTML report here when not empty
  bool json = false;
};

/// Adds the `validate` subcommand to `app`; when it runs, `exitCode` receives its status.
void addValidateCommand(CLI::App& app, int& exitCode);

/// Validates every file named or found in the folders (sorted by name) and writes the listing
/// (text, or JSON with `json`) to `out`, problems with the command itself to `err`. Returns 0
/// when no file has an error, 1 when some file has, 2 for a usage error (unreadable profile,
/// missing path, unwritable HTML report).
int runValidate(const ValidateOptions& options, std::ostream& out, std::ostream& err);

}  // namespace varnel::cli
