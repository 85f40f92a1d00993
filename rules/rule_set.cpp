#include "rules/rule_set.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "rules/action_context.h"
#include "rules/status.h"

namespace varnel::rules {
namespace {

// Splits a line at "|"; runs of separators count as one and empty fields are dropped.
std::vector<std::string_view> splitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t pos = 0;
  while (pos <= line.size()) {
    const std::size_t bar = line.find('|', pos);
    const std::size_t end = bar == std::string_view::npos ? line.size() : bar;
    if (end > pos) fields.push_back(line.substr(pos, end - pos));
    if (bar == std::string_view::npos) break;
    pos = bar + 1;
  }
  return fields;
}

}  // namespace

const std::string& ConversionRule::parameter(std::size_t n) const noexcept {
  static const std::string kEmpty;
  if (n < 1 || n > kParameterCount) return kEmpty;
  return parameters[n - 1];
}

std::string_view operatorWord(int op) noexcept {
  switch (op) {
    case kEquals:
      return "Equals";
    case kContains:
      return "Contains";
    case kStartsWith:
      return "Starts With";
    case kEndsWith:
      return "Ends With";
    default:
      return {};
  }
}

int parseOperatorWord(std::string_view word) noexcept {
  if (word == "Equals") return kEquals;
  if (word == "Starts With") return kStartsWith;
  if (word == "Ends With") return kEndsWith;
  if (word == "Contains") return kContains;
  return kUnknownOperator;
}

int parseRuleText(std::string_view text, RuleSet& out) noexcept {
  try {
    RuleSet result;
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t nl = text.find('\n', pos);
      if (nl == std::string_view::npos) nl = text.size();
      std::string_view line = text.substr(pos, nl - pos);
      pos = nl + 1;
      // Carriage returns at the end belong to the line end, however many a copy left there.
      while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      const auto fields = splitFields(line);
      if (fields.empty()) continue;
      if (fields[0] == "Condition") {
        // A condition belongs to the nearest rule above it; before any rule it means nothing.
        if (result.rules.empty()) continue;
        RuleCondition c;
        if (fields.size() > 1) c.field = fields[1];
        if (fields.size() > 2) c.op = parseOperatorWord(fields[2]);
        if (fields.size() > 3) c.values = fields[3];
        result.rules.back().conditions.push_back(std::move(c));
        continue;
      }
      ConversionRule rule;
      rule.action = fields[0];
      for (std::size_t i = 1; i < fields.size() && i <= kParameterCount; ++i) {
        rule.parameters[i - 1] = fields[i];
      }
      result.rules.push_back(std::move(rule));
    }
    out = std::move(result);
    return kRuleFileDone;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
}

int findUnknownAction(std::string_view text, std::size_t& line, std::string& action) noexcept {
  try {
    std::size_t number = 0;
    for (std::size_t pos = 0; pos < text.size();) {
      std::size_t nl = text.find('\n', pos);
      if (nl == std::string_view::npos) nl = text.size();
      std::string_view lineText = text.substr(pos, nl - pos);
      pos = nl + 1;
      ++number;
      // The same reading of a line as parseRuleText.
      while (!lineText.empty() && lineText.back() == '\r') lineText.remove_suffix(1);
      const auto fields = splitFields(lineText);
      if (fields.empty() || fields[0] == "Condition") continue;
      if (findAction(fields[0]) == nullptr) {
        line = number;
        action = std::string(fields[0]);
        return 1;
      }
    }
    return 0;
  } catch (...) {
    return 0;
  }
}

int readRuleFile(const std::string& path, RuleSet& out) noexcept {
  try {
    std::ifstream in(path, std::ios::binary);
    if (!in) return kRuleFileUnavailable;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return kRuleFileUnavailable;
    return parseRuleText(text, out);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (...) {
    return kRuleFileUnavailable;
  }
}

std::string formatRuleText(const RuleSet& rules) {
  std::string text;
  for (const auto& rule : rules.rules) {
    text += rule.action;
    for (const auto& p : rule.parameters) {
      text += '|';
      text += p;
    }
    text += '\n';
    for (const auto& c : rule.conditions) {
      text += "Condition|";
      text += c.field;
      text += '|';
      text += operatorWord(c.op);
      text += '|';
      text += c.values;
      text += '\n';
    }
  }
  return text;
}

int writeRuleFile(const RuleSet& rules, const std::string& path) noexcept {
  try {
    const std::string text = formatRuleText(rules);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!f) return kRuleFileUnavailable;
    if (std::fwrite(text.data(), 1, text.size(), f.get()) != text.size()) {
      return kRuleFileUnavailable;
    }
    if (std::fclose(f.release()) != 0) return kRuleFileUnavailable;
    return kRuleFileDone;
  } catch (...) {
    return kRuleFileUnavailable;
  }
}

const std::vector<std::string_view>& actionNames() noexcept {
  static const std::vector<std::string_view> kNames = {
      "Add Field",
      "Add Field If Blank",
      "Add Field If Missing",
      "Add Hash",
      "Auto Fix",
      "Change File Extension",
      "Change Filename",
      "Compress Records To JP2L",
      "Compress Records To WSQ",
      "Convert Feature Set",
      "Convert Image Format",
      "Convert To CJIS",
      "Convert Type 14 to Type 4",
      "Convert Type 4 to Type 14",
      "Copy Field",
      "Delete All Records",
      "Delete Feature Set",
      "Delete Field",
      "Delete Records of Type",
      "Disable Save",
      "Export All Biometrics",
      "Export Biometric",
      "Export Biometrics of Type",
      "Export To Tenprint",
      "Move Field",
      "Output to CSV",
      "Prompt for Parameter",
      "Remove Invalid Characters",
      "Replace Strings",
      "Save As",
      "Set CJIS MNU",
      "String Left",
      "String Right",
      "Validate",
  };
  return kNames;
}

}  // namespace varnel::rules
