#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "rules/action_context.h"

namespace varnel::rules {

/// Longest "Set CJIS MNU" parameter read, in bytes; the rest is ignored.
inline constexpr std::size_t kMaxMnuParameter = 1023;
/// Longest expanded MNU text that is still cut into pieces (three pieces of 12).
inline constexpr std::size_t kMaxMnuText = 36;

/// The 2.017 (MNU) value of "Set CJIS MNU" for a parameter: %T.F% references replaced by the
/// text of that field of the first record of type T (unreadable or missing references dropped,
/// an unpaired "%" drops the rest), then cut into pieces of 12 characters, each written "I1~"
/// followed by the piece and joined by RS. Returns false when the expanded text is longer than
/// 36 characters (nothing is to be set).
[[nodiscard]] bool cjisMnuValue(const transaction::NistFile& file, std::string_view parameter,
                                std::string& out);

namespace detail {
/// "Delete All Records": every record of types 3 to 99.
void deleteAllRecords(ActionContext& ctx);
/// "Delete Records of Type": parameter 1 the type; records whose conditions hold.
void deleteRecordsOfType(ActionContext& ctx);
/// "Add Hash": x.996 = SHA-256 of x.999, in upper-case hexadecimal, where conditions hold.
void addHash(ActionContext& ctx);
/// "Convert Type 4 to Type 14", with a warning when 1.008 or 1.005 is missing.
void convertType4To14(ActionContext& ctx);
/// "Convert Type 14 to Type 4".
void convertType14To4(ActionContext& ctx);
/// "Convert To CJIS": the fixed profile edits of Types 1, 2 and 15.
void convertToCjis(ActionContext& ctx);
/// "Set CJIS MNU": parameter 1 the template of 2.017.
void setCjisMnu(ActionContext& ctx);
/// "Auto Fix": parameter 1 "Conflicting Image Dimensions" sets fields 6 and 7 from the image.
void autoFix(ActionContext& ctx);
}  // namespace detail

}  // namespace varnel::rules
