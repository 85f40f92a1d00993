#pragma once

#include "rules/action_context.h"

// Actions built into the rules library; the table in action_table.cpp names them.
namespace varnel::rules::detail {

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
