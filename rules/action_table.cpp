// The table from action name to action. Other action files add one line per action here.
#include <string_view>

#include "rules/action_context.h"
#include "rules/conformance/validate_action.h"
#include "rules/detail/actions.h"
#include "rules/detail/export_actions.h"
#include "rules/detail/image_actions.h"
#include "rules/detail/record_actions.h"
#include "rules/feature_actions.h"

namespace varnel::rules {
namespace {

struct ActionEntry {
  std::string_view name;
  ActionFn fn;
};

constexpr ActionEntry kActions[] = {
    // Field actions.
    {"Add Field", &detail::addField},
    {"Add Field If Blank", &detail::addFieldIfBlank},
    {"Add Field If Missing", &detail::addFieldIfMissing},
    {"Copy Field", &detail::copyField},
    {"Move Field", &detail::moveField},
    {"Delete Field", &detail::deleteField},
    {"Remove Invalid Characters", &detail::removeInvalidCharacters},
    {"Replace Strings", &detail::replaceStrings},
    {"String Left", &detail::stringLeft},
    {"String Right", &detail::stringRight},
    // Answered once when the run starts; nothing to do per file.
    {"Prompt for Parameter", &detail::promptForParameter},
    // Output and file actions.
    {"Output to CSV", &detail::outputToCsv},
    {"Change Filename", &detail::changeFilename},
    {"Change File Extension", &detail::changeFileExtension},
    {"Disable Save", &detail::disableSave},
    {"Save As", &detail::saveAs},
    {"Export Biometric", &detail::exportBiometric},
    {"Export Biometrics of Type", &detail::exportBiometricsOfType},
    {"Export All Biometrics", &detail::exportAllBiometrics},
    {"Export To Tenprint", &detail::exportToTenprint},
    // Feature-set actions.
    {"Delete Feature Set", &detail::deleteFeatureSetAction},
    {"Convert Feature Set", &detail::convertFeatureSetAction},
    // Record-level actions.
    {"Delete All Records", &detail::deleteAllRecords},
    {"Delete Records of Type", &detail::deleteRecordsOfType},
    {"Add Hash", &detail::addHash},
    {"Convert Type 4 to Type 14", &detail::convertType4To14},
    {"Convert Type 14 to Type 4", &detail::convertType14To4},
    {"Convert To CJIS", &detail::convertToCjis},
    {"Set CJIS MNU", &detail::setCjisMnu},
    {"Auto Fix", &detail::autoFix},
    // Image actions.
    {"Convert Image Format", &detail::convertImageFormat},
    {"Compress Records To WSQ", &detail::compressRecordsToWsq},
    {"Compress Records To JP2L", &detail::compressRecordsToJp2l},
    // Conformance.
    {"Validate", &detail::validateTransactionAction},
};

}  // namespace

ActionFn findAction(std::string_view name) noexcept {
  for (const auto& entry : kActions) {
    if (entry.name == name) return entry.fn;
  }
  return nullptr;
}

}  // namespace varnel::rules
