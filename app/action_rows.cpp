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
      {"Validate", false, {edit("Profile")}},
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

namespace {

struct NamedInfo {
  std::string_view action;
  ActionInfo info;
};

const std::vector<NamedInfo>& infoTable() {
  static const std::vector<NamedInfo> kInfo{
      {"Add Field", {"Fields", "Sets a field to a value, replacing it if present"}},
      {"Add Field If Blank", {"Fields", "Sets a field only where it is present but empty"}},
      {"Add Field If Missing", {"Fields", "Adds a field only where the record lacks it"}},
      {"Copy Field", {"Fields", "Copies a field's value to another field"}},
      {"Move Field", {"Fields", "Moves a field's value to another field"}},
      {"Delete Field", {"Fields", "Removes a field"}},
      {"Remove Invalid Characters", {"Fields", "Deletes the listed characters from a field"}},
      {"Replace Strings", {"Fields", "Replaces every occurrence of a text in a field"}},
      {"String Left", {"Fields", "Keeps the first characters of a field"}},
      {"String Right", {"Fields", "Keeps the last characters of a field"}},
      {"Set CJIS MNU", {"Fields", "Sets the miscellaneous identification number"}},
      {"Delete All Records", {"Records", "Removes every record but Types 1 and 2"}},
      {"Delete Records of Type", {"Records", "Removes the records of one type"}},
      {"Convert Type 4 to Type 14",
       {"Records", "Turns binary fingerprint records into tagged ones"}},
      {"Convert Type 14 to Type 4",
       {"Records", "Turns tagged fingerprint records into binary ones"}},
      {"Convert To CJIS", {"Records", "Applies the fixed CJIS profile conversion"}},
      {"Add Hash", {"Records", "Stores the SHA-256 hash of each record's image"}},
      {"Convert Feature Set", {"Records", "Converts minutiae to another feature set format"}},
      {"Delete Feature Set", {"Records", "Removes the minutiae of one vendor format"}},
      {"Auto Fix", {"Records", "Repairs a known inconsistency in the records"}},
      {"Validate", {"Output", "Reports where the transaction breaks the standard or a profile"}},
      {"Compress Records To WSQ", {"Images", "Recompresses fingerprint images to WSQ"}},
      {"Compress Records To JP2L",
       {"Images", "Recompresses fingerprint images to lossless JPEG 2000"}},
      {"Convert Image Format",
       {"Images", "Converts the images of one record type to another format"}},
      {"Output to CSV", {"Output", "Adds a column to results.csv"}},
      {"Export Biometric", {"Output", "Writes one record's image to a file"}},
      {"Export Biometrics of Type", {"Output", "Writes the images of one record type to files"}},
      {"Export All Biometrics", {"Output", "Writes every record image to files"}},
      {"Export To Tenprint", {"Output", "Renders a 600 dpi tenprint card as TIFF"}},
      {"Prompt for Parameter", {"Output", "Asks the operator for a value before the run"}},
      {"Change Filename", {"File", "Names the output file"}},
      {"Change File Extension", {"File", "Sets the output file's extension"}},
      {"Disable Save", {"File", "Writes no transaction for the file"}},
      {"Save As", {"File", "Chooses the traditional or the XML encoding"}},
  };
  return kInfo;
}

}  // namespace

const std::vector<std::string_view>& actionGroups() noexcept {
  static const std::vector<std::string_view> kGroups{"Fields", "Records", "Images", "Output",
                                                     "File"};
  return kGroups;
}

ActionInfo actionInfo(std::string_view action) noexcept {
  for (const auto& n : infoTable()) {
    if (n.action == action) return n.info;
  }
  return {"Other", {}};
}

}  // namespace varnel::app
