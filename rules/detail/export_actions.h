#pragma once

#include <string>
#include <string_view>

#include "rules/action_context.h"
#include "transaction/nist_file.h"

namespace varnel::rules {

/// The record a biometric name selects: "Right Iris"/"Left Iris" (Type 17, field 3 "1"/"2"),
/// "Front Profile"/"Left Profile"/"Right Profile" (Type 10, field 20 "F"/"L"/"R"), "Right Thumb"
/// ... "Left Little" (Type 4, finger position 1-10), "Plain Right Thumb" (11), "Plain Left
/// Thumb" (12), "Plain Right Four Fingers" (13), "Plain Left Four Fingers" (14). The last
/// matching record wins. Returns 1 and sets `type` and `index`, or 0 (outputs untouched) for an
/// unknown name or no matching record.
[[nodiscard]] int findBiometricRecord(const transaction::NistFile& file, std::string_view name,
                                      int& type, int& index) noexcept;

/// File extension of an exported image by compression code: "BMP", "WSQ", "JPG", "JP2",
/// "PNG"; `otherwise` for any other code.
[[nodiscard]] std::string_view exportExtension(int compression,
                                               std::string_view otherwise) noexcept;

/// The path of an export: `destFolder` (ending in "/") + `name` + "." + `extension`, with "\"
/// in the name read as a folder separator. Creates the folders the name names. Returns kOk and
/// sets `path`; kPathOutsideDestination when the name would lead outside the destination
/// folder (nothing created); kNotARealFolder when it leads through a link; kWriteFailed (errno
/// set) when a folder cannot be created or something other than a folder has its name. With
/// `create` false, folders are checked but not created.
[[nodiscard]] int prepareExportPath(const std::string& destFolder, std::string_view name,
                                    std::string_view extension, std::string& path,
                                    bool create = true) noexcept;

/// Writes the image of one record: BMP for uncompressed images (code 0), the stored bytes
/// otherwise. Returns 0 or the image layer's negative status; for an image that cannot be
/// decoded or saved, `reason` says why, and when the system refused to create, write or close
/// the file `err` holds its error number (0 otherwise).
[[nodiscard]] int writeRecordImage(const transaction::NistFile& file, int type, int index,
                                   int compression, const std::string& path, std::string& reason,
                                   int& err) noexcept;

namespace detail {
/// "Export Biometric": parameter 1 the name template, parameter 2 the biometric name.
void exportBiometric(ActionContext& ctx);
/// "Export Biometrics of Type": parameter 1 the name template, parameter 2 the record type.
void exportBiometricsOfType(ActionContext& ctx);
/// "Export All Biometrics": parameter 1 the name template; every record of types 3 to 99.
void exportAllBiometrics(ActionContext& ctx);
/// "Export To Tenprint": parameter 1 the name template; writes name.TIFF.
void exportToTenprint(ActionContext& ctx);
}  // namespace detail

}  // namespace varnel::rules
