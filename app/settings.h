#pragma once

#include <QString>

namespace varnel::app {

/// Names of the remembered values (organisation "Quillon", application "Varnel").
inline constexpr const char* kSourceFolderKey = "SourceFolder";
inline constexpr const char* kDestinationFolderKey = "DestinationFolder";
inline constexpr const char* kRuleFileKey = "RuleFile";
inline constexpr const char* kUpdateVersionKey = "UpdateVersion";
/// Address of the version service; the built-in default is used when it is not set.
inline constexpr const char* kUpdateUrlKey = "UpdateUrl";

/// Reads a remembered text; a value that is missing or unreadable gives an empty text.
[[nodiscard]] QString readSetting(const char* key);
/// Stores a remembered text; a failure to store is ignored.
void writeSetting(const char* key, const QString& value);

}  // namespace varnel::app
