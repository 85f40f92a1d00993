#pragma once

#include "rules/action_context.h"

namespace varnel::rules::detail {

/// "Validate": checks the transaction as the rules have left it so far against the profile of
/// parameter 1 (a template: empty or "base" for the standard, else a profile file) and adds
/// one report row per finding, "Validation: " and the finding's message, as an error row
/// (counted in errors, the file counts as failed) or a warning row. A profile that cannot be
/// read gives one error row naming it. Profile files are read once per path and change time.
void validateTransactionAction(ActionContext& ctx);

}  // namespace varnel::rules::detail
