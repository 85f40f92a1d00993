#pragma once

// How to add an action:
//   1. Write the action as a function `void myAction(ActionContext& ctx)` in a .cpp of rules/
//      (for example rules/image_actions.cpp), declared in a header of yours or in
//      rules/detail/actions.h. Read the rule's parameters from ctx.params (8-bit, absent = empty),
//      change the transaction only through ctx.file, expand templates with ctx.expand(...) and
//      test conditions with ctx.conditionsHold(...) in the record context you choose.
//   2. Add one line per action to kActions in rules/action_table.cpp: {"Action Name", &myAction}.
//      The name is the exact, case-sensitive action name of the rule file.
//   3. Add the .cpp to rules/CMakeLists.txt.
// An action never stops the file: failures are silent unless the action adds a report row with
// ctx.warn(...). Actions must not throw; the engine catches std::bad_alloc around each action.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "rules/rule_set.h"
#include "transaction/nist_file.h"
#include "varnel_version.h"

namespace varnel::rules {

/// Limits of the engine's texts (bytes). Longer results are truncated to these lengths.
inline constexpr std::size_t kMaxExpansion = 999;
inline constexpr std::size_t kMaxPlaceholderName = 99;
inline constexpr std::size_t kMaxBaseName = 259;
inline constexpr std::size_t kMaxExtension = 4;
inline constexpr std::size_t kMaxCsvLine = 1023;
inline constexpr std::size_t kMaxPromptAnswer = 119;
inline constexpr std::size_t kMaxRemoveCharactersText = 999;
inline constexpr std::size_t kMaxStringCutText = 1023;

/// Program version text shown by %CONVERT_VERSION% and the report.
inline constexpr std::string_view kProgramVersion = kVersion;
/// Library version text shown by %WSQ_VERSION%, %TAVRIX_VERSION% and the report.
inline constexpr std::string_view kLibraryVersion = "2.4.0.0";

/// How the converted transaction is written.
enum class SaveFormat { kTraditional, kXml, kSameAsInput };

/// A record of the transaction: type and index among the records of that type; (-1, -1) names
/// no record.
struct RecordContext {
  int type = -1;
  int index = -1;
};

/// The per-file state the rules read and change.
struct FileState {
  std::string listedName;       ///< name as the folder listing gives it
  std::string baseName;         ///< output name without extension; "Change Filename" sets it
  std::string inputExtension;   ///< text after the last "." of the listed name
  std::string outputExtension;  ///< "Change File Extension" sets it
  std::string displayName;      ///< base name "." input extension, fixed before the rules run
  int exportCounter = 0;        ///< %RECORD_EXPORT_COUNT%
  int exportRecordIndex = 0;    ///< index of the record last exported, read by %T.F% ...
  int exportRecordType = -1;    ///< ... when T is its type (-1 before any export)
  SaveFormat saveFormat = SaveFormat::kTraditional;
  bool saveEnabled = true;  ///< false once "Disable Save" ran
};

/// An answer to a "Prompt for Parameter" rule, collected when the run starts.
struct PromptAnswer {
  std::string name;
  std::string prompt;
  std::string answer;
};

class RunOutputs;

/// The run's read-only inputs that every file sees.
struct RunInputs {
  std::string sourceFolder;  ///< ends with "/"
  std::string destFolder;    ///< ends with "/"
  RuleSet rules;
  std::vector<PromptAnswer> answers;
  const transaction::XmlCodec* xml = nullptr;  ///< borrowed; may be null
  /// Names the run has written so far (borrowed; null: no check for names written twice).
  RunOutputs* outputs = nullptr;
  bool dryRun = false;     ///< do everything but write: no output, folder, report or CSV
  bool noClobber = false;  ///< an output that already exists is not replaced (error row)
  /// The names come from a list, not from the folder: one that is not a transaction file of the
  /// source folder gets an error row.
  bool listedByCaller = false;
};

/// Kinds of report rows, by icon.
enum class RowKind { kError, kWarning, kInfo };
/// Which counter of the report a row raises.
enum class RowCounter { kNone, kErrors, kWarnings, kMessages };

/// One row of the run report. File rows show the display name before the text.
struct ReportRow {
  RowKind kind = RowKind::kInfo;
  RowCounter counter = RowCounter::kNone;
  bool withFileName = true;
  std::string text;
};

/// One "Output to CSV" column of the current file.
struct CsvCell {
  std::string heading;
  std::string value;
};

/// What the work on one file hands to the run, in the order it happened.
struct FileOutcome {
  std::string displayName;  ///< the name every row of the file shows
  std::vector<ReportRow> rows;
  std::vector<CsvCell> csv;
  bool rulesRan = false;      ///< the file loaded and its rules were applied
  bool disabledSave = false;  ///< a "Disable Save" rule ran
  bool hadErrorRow = false;
  bool refusedEdit = false;          ///< a rule's edit was refused: the file is not saved
  std::string output;                ///< path written, relative to the destination folder, or ""
  std::vector<std::string> exports;  ///< exports written, relative to the destination folder
};

/// Everything an action gets. The references are valid for the duration of one applyRule call.
struct ActionContext {
  ActionContext(transaction::NistFile& f, FileState& s, const RunInputs& r, FileOutcome& o) noexcept
      : file(f), state(s), run(r), outcome(o) {}

  transaction::NistFile& file;                      ///< the loaded transaction
  FileState& state;                                 ///< the current file's state
  const RunInputs& run;                             ///< folders, prompt answers, rule set
  FileOutcome& outcome;                             ///< report rows and CSV cells of this file
  const ConversionRule* rule = nullptr;             ///< the rule being applied
  std::array<std::string, kParameterCount> params;  ///< its parameters, 8-bit, absent = empty

  /// Expands a template in a record context (see expandPlaceholders).
  [[nodiscard]] std::string expand(std::string_view tmpl, RecordContext rc) const;
  /// Same, telling whether a placeholder brought a separator byte in (see expandPlaceholders).
  [[nodiscard]] std::string expand(std::string_view tmpl, RecordContext rc,
                                   bool& foreignSeparator) const;
  /// True when the rule's conditions hold in the record context (an empty list holds).
  [[nodiscard]] bool conditionsHold(RecordContext rc) const;
  /// Adds a warning row counted in warnings; `withFileName` false gives a row without the name.
  void warn(std::string text, bool withFileName = true);
  /// Adds an error row counted in errors for an edit that could not be made as the rule asks.
  /// The file is then not saved: it would not be what the rules asked for.
  void refuse(std::string text);
};

/// An action: carries out the rule of `ctx` on the loaded transaction.
using ActionFn = void (*)(ActionContext& ctx);

/// The action registered under `name` (exact, case-sensitive), or null for actions that are not
/// built or unknown.
[[nodiscard]] ActionFn findAction(std::string_view name) noexcept;

}  // namespace varnel::rules
