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
    for (std::size_t p = 0; p < kParameterCount; ++p) {
      // The last parameter of a line cannot end in CR once written: the CR joins the line end.
      std::string_view a = again.rules[i].parameters[p];
      std::string_view b = set.rules[i].parameters[p];
      while (!b.empty() && b.back() == '\r') b.remove_suffix(1);
      while (!a.empty() && a.back() == '\r') a.remove_suffix(1);
      if (a != b) std::abort();
    }
  }
  return 0;
}
