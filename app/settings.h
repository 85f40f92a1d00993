#pragma once

#include <QByteArray>
#include <QString>

namespace varnel::app {

/// Names of the remembered values (organisation "Quillon", application "Varnel").
inline constexpr const char* kSourceFolderKey = "SourceFolder";
inline constexpr const char* kDestinationFolderKey = "DestinationFolder";
inline constexpr const char* kRuleFileKey = "RuleFile";
inline constexpr const char* kUpdateVersionKey = "UpdateVersion";
/// Address of the version service; the built-in default is used when it is not set.
inline constexpr const char* kUpdateUrlKey = "UpdateUrl";

/// Size and position of the main window and the rule editor, as Qt's saved geometry.
inline constexpr const char* kMainWindowGeometryKey = "MainWindowGeometry";
inline constexpr const char* kRuleEditorGeometryKey = "RuleEditorGeometry";

/// Number of files the desktop program converts at once (a number; default: one per core).
inline constexpr const char* kWorkersKey = "Workers";

/// Reads a remembered text; a value that is missing or unreadable gives an empty text.
[[nodiscard]] QString readSetting(const char* key);
/// Stores a remembered text; a failure to store is ignored.
void writeSetting(const char* key, const QString& value);
/// Reads remembered bytes (a window geometry); empty when missing.
[[nodiscard]] QByteArray readSettingBytes(const char* key);
/// Stores remembered bytes; a failure to store is ignored.
void writeSettingBytes(const char* key, const QByteArray& value);

}  // namespace varnel::app
