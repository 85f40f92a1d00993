#pragma once

namespace CLI {
class App;
}

namespace varnel::cli {

/// Adds the `report` subcommand (`report merge DEST [--remove-shards]`) to `app`; when it runs,
/// `exitCode` receives its status: 0 merged, 1 merged and some files had error rows, 2 usage
/// error or a shard set that cannot be merged, 4 the merged report or results.csv could not be
/// written.
void addReportCommand(CLI::App& app, int& exitCode);

}  // namespace varnel::cli
