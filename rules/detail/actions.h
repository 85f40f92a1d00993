#pragma once

#include "rules/action_context.h"

// Actions built into the rules library; the table in action_table.cpp names them.
namespace varnel::rules::detail {

/// Adds the error row of an edit the transaction refused because it would make the file
/// unreadable (a structural field, a separator inside a value, a text beyond the field limit).
/// Returns true when `status` was such a refusal.
bool reportRefusedEdit(ActionContext& ctx, int status, int type, int field);

void addField(ActionContext& ctx);
void addFieldIfBlank(ActionContext& ctx);
void addFieldIfMissing(ActionContext& ctx);
void copyField(ActionContext& ctx);
void moveField(ActionContext& ctx);
void deleteField(ActionContext& ctx);
void removeInvalidCharacters(ActionContext& ctx);
void replaceStrings(ActionContext& ctx);
void stringLeft(ActionContext& ctx);
void stringRight(ActionContext& ctx);
void promptForParameter(ActionContext& ctx);

void outputToCsv(ActionContext& ctx);
void changeFilename(ActionContext& ctx);
void changeFileExtension(ActionContext& ctx);
void disableSave(ActionContext& ctx);
void saveAs(ActionContext& ctx);

}  // namespace varnel::rules::detail
