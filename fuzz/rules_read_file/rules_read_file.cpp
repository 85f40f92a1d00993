// Feeds arbitrary bytes to the rule file reader (readRuleFile reads the file, then parses it
// here), runs the editor checks on each rule, and writes the rules back and reads them again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "rules/rule_set.h"
#include "rules/status.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace varnel::rules;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  RuleSet set;
  if (parseRuleText(text, set) != kRuleFileDone) return 0;
  for (const auto& rule : set.rules) (void)validateRule(rule);
  // Rules with all their parameters present survive a write and a second read unchanged.
  RuleSet again;
  if (parseRuleText(formatRuleText(set), again) != kRuleFileDone) std::abort();
  if (again.rules.size() != set.rules.size()) std::abort();
  for (std::size_t i = 0; i < set.rules.size(); ++i) {
    if (again.rules[i].action != set.rules[i].action) std::abort();
    if (again.rules[i].parameters != set.rules[i].parameters) std::abort();
  }
  return 0;
}
