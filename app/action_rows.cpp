#include "app/action_rows.h"

namespace varnel::app {
namespace {

ParameterRow edit(std::string_view label, std::string_view initial = {}) {
  return ParameterRow{label, false, {}, initial};
}

ParameterRow list(std::string_view label, std::vector<std::string_view> choices) {
  return ParameterRow{label, true, std::move(choices), {}};
}

std::vector<ActionRows> makeTable() {
  const std::vector<std::string_view> imageFormats{"NONE", "WSQ", "JP2 Lossless", "PNG"};
  return {
      {"Add Field", true, {edit("Field"), edit("Field Value")}},
      {"Add Field If Blank", true, {edit("Field"), edit("Field Value")}},
      {"Add Field If Missing", true, {edit("Field"), edit("Field Value")}},
      {"Copy Field", false, {edit("From"), edit("To")}},
      {"Move Field", false, {edit("From"), edit("To")}},
      {"Delete Field", true, {edit("Field")}},
      {"Add Hash", true, {}},
      {"Compress Records To WSQ", false, {edit("Bitrate", "2.25")}},
      {"Compress Records To JP2L", false, {}},
      {"Delete All Records", false, {}},
      {"Delete Records of Type", true, {edit("Record Type")}},
      {"Convert Type 4 to Type 14", false, {}},
      {"Convert Type 14 to Type 4", false, {}},
      {"Convert To CJIS", false, {}},
      {"Set CJIS MNU", false, {edit("Value")}},
      {"Remove Invalid Characters", true, {edit("Field"), edit("Invalid Chars")}},
      {"Replace Strings", false, {edit("Field"), edit("Replace"), edit("With")}},
      {"String Left", false, {edit("Field"), edit("Char Count")}},
      {"String Right", false, {edit("Field"), edit("Char Count")}},
      {"Output to CSV", false, {edit("Heading"), edit("Value")}},
      {"Prompt for Parameter", false, {edit("Parameter Name"), edit("Prompt")}},
      {"Export Biometric",
       false,
       {edit("Filename"), list("Biometric Type", {"Left Iris", "Right Iris", "Left Profile",
                                                  "Front Profile", "Right Profile"})}},
      {"Export Biometrics of Type", true, {edit("Filename"), edit("Biometric Type")}},
      {"Export All Biometrics", false, {edit("Filename")}},
      {"Export To Tenprint", false, {edit("Filename", "%FILENAME%")}},
      {"Convert Feature Set",
       false,
       {list("From", {"Legacy", "Extended", "FBI IAFIS"}), list("To", {"INCITS 378"}),
        list("On Issue", {"Ignore", "Warn", "Error"})}},
      {"Delete Feature Set",
       false,
       {list("Type", {"Cogent", "Extended", "FBI IAFIS", "Identix", "Legacy", "Morpho", "Motorola",
                      "NEC"})}},
      {"Change Filename", true, {edit("Filename")}},
      {"Change File Extension", true, {edit("Extension")}},
      {"Disable Save", false, {}},
      {"Save As", false, {list("Output Format", {"Binary", "XML", "Unchanged"})}},
      {"Convert Image Format",
       true,
       {edit("Record Type"), list("Source Format", imageFormats),
        list("Dest Format", imageFormats)}},
      {"Auto Fix", false, {list("Validation Check", {"Conflicting Image Dimensions"})}},
  };
}

}  // namespace

const std::vector<ActionRows>& allActionRows() noexcept {
  static const std::vector<ActionRows> kTable = makeTable();
  return kTable;
}

const ActionRows* findActionRows(std::string_view action) noexcept {
  for (const auto& a : allActionRows()) {
    if (a.action == action) return &a;
  }
  return nullptr;
}

}  // namespace varnel::app
