#include <gtest/gtest.h>

#include <string>

#include "rules/action_context.h"
#include "rules/rule_set.h"
#include "rules/status.h"
#include "tests/rules/helpers.h"

namespace varnel::rules {
namespace {

RuleSet parse(std::string_view text) {
  RuleSet set;
  EXPECT_EQ(parseRuleText(text, set), kRuleFileDone);
  return set;
}

ConversionRule rule(std::string action, std::string p1 = {}, std::string p2 = {},
                    std::string p3 = {}) {
  ConversionRule r;
  r.action = std::move(action);
  r.parameters = {std::move(p1), std::move(p2), std::move(p3), {}, {}};
  return r;
}

TEST(RuleFileReader, RuleWithFiveEmptySeparatorsHasNoParameters) {
  const RuleSet set = parse("Disable Save|||||\n");
  ASSERT_EQ(set.rules.size(), 1u);
  EXPECT_EQ(set.rules[0].action, "Disable Save");
  for (const auto& p : set.rules[0].parameters) EXPECT_TRUE(p.empty());
}

TEST(RuleFileReader, EmptyParametersAreDroppedAndLaterOnesMoveForward) {
  const RuleSet set = parse("Replace Strings|2.005|-|||\nExport Biometric||Left Iris|||\n");
  ASSERT_EQ(set.rules.size(), 2u);
  EXPECT_EQ(set.rules[0].parameter(2), "-");
  EXPECT_TRUE(set.rules[0].parameter(3).empty());
  EXPECT_EQ(set.rules[1].parameter(1), "Left Iris");
  EXPECT_TRUE(set.rules[1].parameter(2).empty());
}

TEST(RuleFileReader, ConditionLinesJoinTheRuleAbove) {
  const RuleSet set = parse(
      "Condition|%1.004%|Equals|X\n"  // before any rule: skipped
      "Add Field|2.005|Y|||\r\n"
      "Condition|%2.005%|Starts With|A,B\n"
      "\n"
      "Condition|%1.004%|Sounds Like|CAR\n"
      "Condition|%1.004%\n");
  ASSERT_EQ(set.rules.size(), 1u);
  const auto& c = set.rules[0].conditions;
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0].op, kStartsWith);
  EXPECT_EQ(c[0].field, "%2.005%");
  EXPECT_EQ(c[0].values, "A,B");
  EXPECT_EQ(c[1].op, kUnknownOperator);
  EXPECT_EQ(c[2].op, kUnknownOperator);  // no operator word: never holds
  EXPECT_TRUE(c[2].values.empty());
  EXPECT_EQ(set.rules[0].parameter(2), "Y");  // the CR before the LF is not part of the value
}

TEST(RuleFileReader, TakesAnyNumberOfRulesAndWholeLongLines) {
  std::string text;
  for (int i = 0; i < 120; ++i) text += "Add Field|2.0" + std::to_string(10 + i % 80) + "|v|||\n";
  const std::string longValue(5000, 'x');
  text += "Add Field|2.005|" + longValue + "|||\n";
  const RuleSet set = parse(text);
  ASSERT_EQ(set.rules.size(), 121u);
  EXPECT_EQ(set.rules.back().parameter(2), longValue);
}

TEST(RuleFileReader, BinaryGarbageAndUnknownActionsReadWithoutHarm) {
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage.push_back(static_cast<char>((i * 131 + 7) % 256));
  RuleSet set;
  EXPECT_EQ(parseRuleText(garbage, set), kRuleFileDone);
  const RuleSet unknown = parse("Frobnicate|a|b|c|d|e|f|g\n");
  ASSERT_EQ(unknown.rules.size(), 1u);
  EXPECT_EQ(unknown.rules[0].parameter(5), "e");  // more than five fields: the rest is ignored
}

TEST(RuleFileReader, CarriageReturnsBeforeTheLineEndAreNotPartOfTheLastParameter) {
  // Found by rules_read_file: the fifth parameter kept a CR that did not survive a write.
  const RuleSet set = parse("X|a|b|c|d|e\r\r\nY|\r|f\r\n");
  ASSERT_EQ(set.rules.size(), 2u);
  EXPECT_EQ(set.rules[0].parameter(5), "e");
  EXPECT_EQ(set.rules[1].parameter(1), "\r");
  EXPECT_EQ(parse(formatRuleText(set)), set);
}

TEST(RuleFileReader, MissingFileLeavesRuleSetUntouched) {
  RuleSet set = parse("Disable Save|||||\n");
  EXPECT_EQ(readRuleFile("/nonexistent/folder/rules.ntx", set), kRuleFileUnavailable);
  EXPECT_EQ(set.rules.size(), 1u);
}

TEST(RuleFileWriter, WritesFiveSeparatorsAndConditionLines) {
  RuleSet set;
  ConversionRule r = rule("Add Field", "2.005", "Y");
  r.conditions.push_back(RuleCondition{kEquals, "%1.004%", "CAR,CNA"});
  set.rules.push_back(r);
  set.rules.push_back(rule("Disable Save"));
  EXPECT_EQ(formatRuleText(set),
            "Add Field|2.005|Y|||\nCondition|%1.004%|Equals|CAR,CNA\nDisable Save|||||\n");
}

TEST(RuleFileWriter, SavedFileReadsBackUnchanged) {
  testing::TempDir dir;
  RuleSet set;
  ConversionRule r = rule("Remove Invalid Characters", "14.005", "-/");
  r.conditions.push_back(RuleCondition{kEndsWith, "%IMP%", "0,1"});
  r.conditions.push_back(RuleCondition{kContains, "%2.018%", " DOE"});
  set.rules.push_back(r);
  set.rules.push_back(rule("Replace Strings", "2.005", "a", "b"));
  set.rules.push_back(rule("Add Field", "2.040", std::string(3000, 'v')));
  const std::string path = dir / "r.ntx";
  ASSERT_EQ(writeRuleFile(set, path), kRuleFileDone);
  RuleSet back;
  ASSERT_EQ(readRuleFile(path, back), kRuleFileDone);
  EXPECT_EQ(back, set);
  EXPECT_EQ(writeRuleFile(set, dir / "missing/r.ntx"), kRuleFileUnavailable);
}

struct CheckCase {
  ConversionRule rule;
  bool accepted;
  std::string message;
};

class RuleValidation : public ::testing::TestWithParam<CheckCase> {};

TEST_P(RuleValidation, AcceptsOrRefusesWithTheEditorsMessage) {
  const CheckCase& c = GetParam();
  const RuleCheck check = validateRule(c.rule);
  EXPECT_EQ(check.accepted, c.accepted) << c.rule.action << " " << c.rule.parameter(1);
  EXPECT_EQ(check.message, c.message) << c.rule.action << " " << c.rule.parameter(1);
}

const char kFormat[] = "Field must be in the format *.* for example 1.4 or 1.004";
const char kChars[] = "Field number may only contain the following characters 0-9 and .";

INSTANTIATE_TEST_SUITE_P(
    EditorChecks, RuleValidation,
    ::testing::Values(
        CheckCase{rule("Add Field", "", "x"), false, "You must provide a field number"},
        CheckCase{rule("Add Field", "14.013:b", "x"), true, ""},
        CheckCase{rule("Add Field", "1.4:b", "x"), true, ""},
        CheckCase{rule("Add Field", "1.:b", "x"), false, kChars},  // 4 characters: no item
        CheckCase{rule("Delete Field", "14.013:b"), false, kChars},
        CheckCase{rule("Add Field", "0.5", "x"), false, "Record number cannot be 0"},
        CheckCase{rule("Add Field", "1.2.3", "x"), false, kFormat},
        CheckCase{rule("Add Field", ".5", "x"), false, kFormat},
        CheckCase{rule("Add Field", "5.", "x"), false, kFormat},
        CheckCase{rule("Remove Invalid Characters", "2a.5", "-"), false, kChars},
        CheckCase{rule("String Left", "2.005", "0"), false,
                  "Value must be in the range of 1 to 100"},
        CheckCase{rule("String Left", "2.005", "100"), true, ""},
        CheckCase{rule("String Right", "2.005", "101"), false,
                  "Value must be in the range of 1 to 100"},
        CheckCase{rule("String Right", "2.005", "1x"), false, "Value must be a number"},
        CheckCase{rule("Copy Field", "2.020", "2.021"), true, ""},
        CheckCase{rule("Copy Field", "2.020", ""), false, "You must provide a field number"},
        CheckCase{rule("Copy Field", "2.020", "2.020"), false, "Fields must be different"},
        CheckCase{rule("Move Field", "3.020", "2.021"), false, "Field must be Type 1 or 2"},
        CheckCase{rule("Move Field", "1.002", "2.021"), false,
                  "You cannot access the reserved field: 1.002"},
        CheckCase{rule("Move Field", "2.10000", "2.021"), false,
                  "The sub field must be in the range of 1-9999"},
        CheckCase{rule("Compress Records To WSQ", "2.25"), true, ""},
        CheckCase{rule("Compress Records To WSQ", ""), false, ""},
        CheckCase{rule("Compress Records To WSQ", ".5"), false, "Value must be a number"},
        CheckCase{rule("Compress Records To WSQ", "0"), false,
                  "'Bitrate' Must be a valid a valid number"},
        CheckCase{rule("Compress Records To WSQ", "0.49"), false,
                  "'Bitrate' Value must be in the range of 0.50 to 10.00"},
        CheckCase{rule("Compress Records To WSQ", "10.01"), false,
                  "'Bitrate' Value must be in the range of 0.50 to 10.00"},
        CheckCase{rule("Delete Records of Type", ""), false, ""},
        CheckCase{rule("Delete Records of Type", "1a"), false, "Value must be a number"},
        CheckCase{rule("Export Biometrics of Type", "%FILENAME%", "14"), true, ""},
        CheckCase{rule("Convert Image Format", "14", "NONE"), false,
                  "You must select a destination format"},
        CheckCase{rule("Convert Image Format", "14"), false, "You must select a source format"},
        CheckCase{rule("Change File Extension", "ef"), false,
                  "Field must contain at least 3 character(s)"},
        CheckCase{rule("Change File Extension", "nists"), false,
                  "Field must contain no more than 4 character(s)"},
        CheckCase{rule("Change File Extension", ".eft"), false,
                  "Field contains an invalid character"},
        CheckCase{rule("Change File Extension", "eft"), true, ""},
        CheckCase{rule("Save As"), false, "'Output Format' cannot be empty"},
        CheckCase{rule("Convert Feature Set", "Legacy", "INCITS 378"), false,
                  "'On Issue' cannot be empty"},
        CheckCase{rule("Delete Feature Set"), false, "'Type' cannot be empty"},
        CheckCase{rule("Auto Fix"), false, "You must select a validation check"},
        CheckCase{rule("Frobnicate"), false, "Unknown action \"Frobnicate\""},
        CheckCase{rule("add field"), false, "Unknown action \"add field\""}));

TEST(RuleValidation, WarnsAboutEditsOfStructuralFields) {
  const std::string warning =
      "Field 14.001 holds the record's length, version or IDC: this rule will not be applied";
  EXPECT_EQ(structuralEditWarning(rule("Delete Field", "14.001")), warning);
  EXPECT_EQ(structuralEditWarning(rule("Add Field", "14.001:b", "7")), warning);
  EXPECT_EQ(structuralEditWarning(rule("Replace Strings", "14.001", "1", "2")), warning);
  EXPECT_NE(structuralEditWarning(rule("Delete Field", "10.002")), "");
  EXPECT_NE(structuralEditWarning(rule("Delete Field", "1.002")), "");
  EXPECT_NE(structuralEditWarning(rule("Add Field", "1.002:b", "x")), "");
  // Setting an IDC or the version, and fields of no structural role, are fine.
  EXPECT_EQ(structuralEditWarning(rule("Add Field", "14.002", "05")), "");
  EXPECT_EQ(structuralEditWarning(rule("Delete Field", "14.1000")), "");
  EXPECT_EQ(structuralEditWarning(rule("Delete Field", "2.002")), "");
}

TEST(ActionNames, ListsEveryActionSorted) {
  const auto& names = actionNames();
  ASSERT_EQ(names.size(), 34u);
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  for (auto name : names) EXPECT_NE(findAction(name), nullptr) << name;
}

}  // namespace
}  // namespace varnel::rules
