// The editor's checks of a rule before it is stored.
#include <cstdio>
#include <string>
#include <string_view>

#include "rules/action_context.h"
#include "rules/engine.h"
#include "rules/rule_set.h"

namespace varnel::rules {
namespace {

RuleCheck refuse(std::string message = {}) { return RuleCheck{false, std::move(message)}; }

bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }

bool allDigits(std::string_view s) noexcept {
  for (char c : s) {
    if (!isDigit(c)) return false;
  }
  return true;
}

// The field address check. With `allowItem` a final ":" and one lower-case letter may follow
// when the text is longer than 4 characters. An empty result means the address passes.
std::string checkFieldAddress(std::string_view text, bool allowItem) {
  if (text.empty()) return "You must provide a field number";
  std::string_view address = text;
  if (allowItem && text.size() > 4 && text[text.size() - 2] == ':' && text.back() >= 'a' &&
      text.back() <= 'z') {
    address = text.substr(0, text.size() - 2);
  }
  for (char c : address) {
    if (!isDigit(c) && c != '.')
      return "Field number may only contain the following characters 0-9 and .";
  }
  if (address.front() == '0') return "Record number cannot be 0";
  const std::size_t dot = address.find('.');
  if (dot == std::string_view::npos || dot != address.rfind('.') || dot == 0 ||
      dot == address.size() - 1) {
    return "Field must be in the format *.* for example 1.4 or 1.004";
  }
  return {};
}

// Parses the digits of `s` (already checked to be digits) with a cap, so long texts cannot wrap.
long long digitsValue(std::string_view s) noexcept {
  long long v = 0;
  for (char c : s) {
    v = v * 10 + (c - '0');
    if (v > 1000000000LL) return v;
  }
  return v;
}

std::string formatReserved(long long t, long long f) {
  char buf[96];
  const int n =
      std::snprintf(buf, sizeof buf, "You cannot access the reserved field: %lld.%03lld", t, f);
  return n > 0 ? std::string(buf) : std::string("You cannot access the reserved field");
}

// The checks of a "From" or "To" of the Copy and Move actions.
std::string checkCopyAddress(std::string_view text) {
  if (text.empty()) return "You must provide a field number";
  if (std::string m = checkFieldAddress(text, true); !m.empty()) return m;
  std::string_view address = text.substr(0, text.find(':'));
  const std::size_t dot = address.find('.');
  const std::string_view tText = address.substr(0, dot);
  const std::string_view fText = address.substr(dot + 1);
  if (tText.empty() || fText.empty() || !allDigits(tText) || !allDigits(fText)) {
    return "Field must be Type 1 or 2 and have a valid field in range of 1-9999";
  }
  const long long t = digitsValue(tText);
  const long long f = digitsValue(fText);
  if (t != 1 && t != 2) return "Field must be Type 1 or 2";
  if (f == 1 || f == 2) return formatReserved(t, f);
  if (f > 9999 || f < 1) return "The sub field must be in the range of 1-9999";
  return {};
}

RuleCheck checkCount(std::string_view text) {
  if (!allDigits(text)) return refuse("Value must be a number");
  const long long n = digitsValue(text);
  if (text.empty() || n < 1 || n > 100) return refuse("Value must be in the range of 1 to 100");
  return {};
}

RuleCheck checkBitrate(std::string_view text) {
  if (text.empty()) return refuse();
  const std::size_t dot = text.find('.');
  bool ok = dot == std::string_view::npos ||
            (dot == text.rfind('.') && dot != 0 && dot != text.size() - 1);
  for (char c : text) ok = ok && (isDigit(c) || c == '.');
  if (!ok) return refuse("Value must be a number");
  double value = 0;
  try {
    value = std::stod(std::string(text));
  } catch (...) {
    return refuse("Value must be a number");
  }
  if (value == 0) return refuse("'Bitrate' Must be a valid a valid number");
  if (value < 0.5 || value > 10) {
    return refuse("'Bitrate' Value must be in the range of 0.50 to 10.00");
  }
  return {};
}

RuleCheck checkDigitsOnly(std::string_view text) {
  if (text.empty()) return refuse();
  if (!allDigits(text)) return refuse("Value must be a number");
  return {};
}

RuleCheck fromMessage(std::string message) {
  if (message.empty()) return {};
  return refuse(std::move(message));
}

RuleCheck checkExtension(std::string_view text) {
  if (text.size() < 3) return refuse("Field must contain at least 3 character(s)");
  if (text.size() > 4) return refuse("Field must contain no more than 4 character(s)");
  if (text.front() == '.') return refuse("Field contains an invalid character");
  return {};
}

RuleCheck validate(const ConversionRule& rule) {
  const std::string_view a = rule.action;
  const std::string& p1 = rule.parameter(1);
  const std::string& p2 = rule.parameter(2);
  const std::string& p3 = rule.parameter(3);
  // A misspelt action would do nothing at all in a run.
  if (findAction(a) == nullptr) return refuse("Unknown action \"" + rule.action + "\"");
  if (a == "Add Field" || a == "Add Field If Blank" || a == "Add Field If Missing") {
    return fromMessage(checkFieldAddress(p1, true));
  }
  if (a == "Delete Field" || a == "Remove Invalid Characters") {
    return fromMessage(checkFieldAddress(p1, false));
  }
  if (a == "String Left" || a == "String Right") {
    if (RuleCheck c = fromMessage(checkFieldAddress(p1, false)); !c.accepted) return c;
    return checkCount(p2);
  }
  if (a == "Copy Field" || a == "Move Field") {
    if (RuleCheck c = fromMessage(checkCopyAddress(p1)); !c.accepted) return c;
    if (RuleCheck c = fromMessage(checkCopyAddress(p2)); !c.accepted) return c;
    if (p1 == p2) return refuse("Fields must be different");
    return {};
  }
  if (a == "Compress Records To WSQ") return checkBitrate(p1);
  if (a == "Delete Records of Type") return checkDigitsOnly(p1);
  if (a == "Export Biometrics of Type") return checkDigitsOnly(p2);
  if (a == "Convert Image Format") {
    if (RuleCheck c = checkDigitsOnly(p1); !c.accepted) return c;
    if (p2.empty()) return refuse("You must select a source format");
    if (p3.empty()) return refuse("You must select a destination format");
    return {};
  }
  if (a == "Change File Extension") return checkExtension(p1);
  if (a == "Save As" && p1.empty()) return refuse("'Output Format' cannot be empty");
  if (a == "Convert Feature Set") {
    if (p1.empty()) return refuse("'From' cannot be empty");
    if (p2.empty()) return refuse("'To' cannot be empty");
    if (p3.empty()) return refuse("'On Issue' cannot be empty");
    return {};
  }
  if (a == "Delete Feature Set" && p1.empty()) return refuse("'Type' cannot be empty");
  if (a == "Auto Fix" && p1.empty()) return refuse("You must select a validation check");
  return {};
}

// Which structural fields an action would break: LEN for every action that writes or removes a
// field; the version and IDCs when removed, or split by an item letter past the first.
std::string structuralWarning(const ConversionRule& rule) {
  const std::string_view a = rule.action;
  const bool removes = a == "Delete Field";
  const bool sets = a == "Add Field" || a == "Add Field If Blank" || a == "Add Field If Missing";
  const bool rewrites = a == "Replace Strings" || a == "String Left" || a == "String Right" ||
                        a == "Remove Invalid Characters";
  if (!removes && !sets && !rewrites) return {};
  FieldAddress f;
  if (!scanFieldAddress(rule.parameter(1), f) || f.type < 1) return {};
  const bool singleValue = f.field == 2 && f.type != 2;
  const bool structural =
      f.field == 1 || (singleValue && (removes || (sets && f.hasItem && f.item > 0)));
  if (!structural) return {};
  char buf[160];
  (void)std::snprintf(
      buf, sizeof buf,
      "Field %d.%03d holds the record's length, version or IDC: this rule will not be "
      "applied",
      f.type, f.field);
  return buf;
}

}  // namespace

std::string structuralEditWarning(const ConversionRule& rule) noexcept {
  try {
    return structuralWarning(rule);
  } catch (...) {
    return {};
  }
}

RuleCheck validateRule(const ConversionRule& rule) noexcept {
  try {
    return validate(rule);
  } catch (...) {
    return RuleCheck{false, {}};
  }
}

}  // namespace varnel::rules
