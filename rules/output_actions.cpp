// Output and file actions: the CSV summary, the output name and extension, and how (and
// whether) the converted file is saved.
#include <string>

#include "rules/detail/actions.h"
#include "rules/detail/text.h"

namespace varnel::rules::detail {

void outputToCsv(ActionContext& ctx) {
  std::string value = ctx.expand(ctx.params[1], RecordContext{});
  // Tabs separate the columns of results.csv, so a value cannot hold one.
  std::erase(value, '\t');
  ctx.outcome.csv.push_back(CsvCell{ctx.params[0], std::move(value)});
}

void changeFilename(ActionContext& ctx) {
  if (!ctx.conditionsHold(RecordContext{})) return;
  ctx.state.baseName = truncateUtf8(ctx.expand(ctx.params[0], RecordContext{}), kMaxBaseName);
}

void changeFileExtension(ActionContext& ctx) {
  if (!ctx.conditionsHold(RecordContext{})) return;
  ctx.state.outputExtension = truncateUtf8(ctx.params[0], kMaxExtension);
}

void disableSave(ActionContext& ctx) {
  ctx.state.saveEnabled = false;
  ctx.outcome.disabledSave = true;
}

void saveAs(ActionContext& ctx) {
  const std::string& choice = ctx.params[0];
  if (choice == "Binary") {
    ctx.state.saveFormat = SaveFormat::kTraditional;
  } else if (choice == "XML") {
    ctx.state.saveFormat = SaveFormat::kXml;
  } else {
    ctx.state.saveFormat = SaveFormat::kSameAsInput;
  }
}

}  // namespace varnel::rules::detail
