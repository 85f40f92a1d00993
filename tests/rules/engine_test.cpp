// g++ 12 at -O3 reports -Wrestrict falsely for short std::string assignments (GCC bug 105329).
#pragma GCC diagnostic ignored "-Wrestrict"

#include "rules/engine.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "samples/tx_builder.h"
#include "transaction/traditional.h"

namespace varnel::rules {
namespace {

using samples::TxBuilder;

ConversionRule rule(std::string action, std::string p1 = {}, std::string p2 = {},
                    std::string p3 = {}) {
  ConversionRule r;
  r.action = std::move(action);
  r.parameters = {std::move(p1), std::move(p2), std::move(p3), {}, {}};
  return r;
}

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    state.baseName = "a";
    state.outputExtension = "nst";
    run.sourceFolder = "/in/";
    run.destFolder = "/out/";
  }

  void load(const TxBuilder& b) {
    std::unique_ptr<transaction::Transaction> tx;
    ASSERT_EQ(transaction::readTraditionalBytes(b.bytes(), tx), 0);
    file.adopt(std::move(tx));
  }

  // A transaction with a Type-2 record and three Type-14 records (IMP 0, 1, 0; FGP 2, 3, 4).
  void loadStandard() {
    TxBuilder b;
    b.type1Field(9, "TCN-1");
    b.type2(0, {{5, "A-B-C"}, {18, "DOE,JOHN"}, {20, "X20"}, {33, "P\x1EQ\x1ER"}});
    b.type14(2, 4, 4, std::string(16, 'p'), {{5, "D0"}});
    b.type14(3, 4, 4, std::string(16, 'q'), {{3, "1"}, {5, "D1"}});
    b.type14(4, 4, 4, std::string(16, 'r'), {{5, "D2"}});
    load(b);
  }

  std::string expand(std::string_view tmpl, RecordContext rc = {}) {
    return expandPlaceholders(tmpl, rc, ExpandInputs{file, state, run});
  }

  void apply(const ConversionRule& r) {
    ActionContext ctx(file, state, run, outcome);
    applyRule(r, ctx);
  }

  std::string field(int t, int f, int occurrence = 0) {
    std::string out;
    if (file.getFieldFullText(t, f, occurrence, out) != 0) return "<missing>";
    return out;
  }

  transaction::NistFile file;
  FileState state;
  RunInputs run;
  FileOutcome outcome;
};

TEST_F(Engine, ExpandsNamedPlaceholders) {
  loadStandard();
  EXPECT_EQ(expand("Batch %FILENAME%"), "Batch a");
  EXPECT_EQ(expand("100%"), "100");
  EXPECT_EQ(expand("a%%b%unclosed"), "ab");
  EXPECT_EQ(expand("%TCN%|%SOURCE_PATH%|%DEST_PATH%|%FILEEXTENSION%"), "TCN-1|/in/|/out/|nst");
  EXPECT_EQ(expand("%CONVERT_VERSION% %WSQ_VERSION% %TAVRIX_VERSION%"), "3.3.0.0 2.4.0.0 2.4.0.0");
  EXPECT_EQ(expand("%RS%%US%"), "\x1E\x1F");
  state.exportCounter = 7;
  EXPECT_EQ(expand("%RECORD_EXPORT_COUNT%"), "7");
  EXPECT_EQ(expand("%IDC%/%FGP%/%IMP%/%HLL%x%VLL%", {14, 1}), "03/3/1/4x4");
  EXPECT_EQ(expand("%IDC%%FGP%%IMP%%HLL%"), "");  // no record context
  EXPECT_EQ(expand("%FGP%%HLL%", {2, 0}), "");    // types without those fields
  EXPECT_EQ(expand("%NOPE%"), "");
}

TEST_F(Engine, FieldReferencesChooseTheirRecord) {
  TxBuilder b;
  b.type2(0, {{5, "first"}});
  b.type2(0, {{5, "second"}});
  for (const char* value : {"r0", "r1", "r2", "r3"}) b.type14(1, 2, 2, "abcd", {{5, value}});
  load(b);
  // Another type than the context: the record last exported when of that type, else the first.
  EXPECT_EQ(expand("%2.005%", {14, 3}), "first");
  state.exportRecordIndex = 1;
  state.exportRecordType = 14;
  EXPECT_EQ(expand("%2.005%", {14, 3}), "first");  // a Type-14 index names no Type-2 record
  EXPECT_EQ(expand("%2.005[,]%", {14, 3}), "first");
  EXPECT_EQ(expand("%14.005%", {14, 3}), "r3");
  EXPECT_EQ(expand("%1.009%", {14, 3}), "TCN0001");
  EXPECT_EQ(expand("%14.005%"), "r1");  // no context: the exported record
  state.exportRecordType = 2;
  EXPECT_EQ(expand("%2.005%", {14, 3}), "second");
  EXPECT_EQ(expand("%2.005:a%", {2, 1}), "first");  // T.F:c always reads the first record
  EXPECT_EQ(expand("%9.005%%2.999%"), "");
}

TEST_F(Engine, JoinsSubfieldsWithTheSeparator) {
  loadStandard();
  EXPECT_EQ(expand("%2.033[,]%"), "P,Q,R");
  EXPECT_EQ(expand("%2.033%"), "P");
}

TEST_F(Engine, PromptAnswersOfTheSameNameAllAppend) {
  loadStandard();
  run.answers = {{"NAME", "q1", "A"}, {"OTHER", "q2", "X"}, {"NAME", "q3", "B"}};
  EXPECT_EQ(expand("<%NAME%>"), "<AB>");
}

TEST_F(Engine, ExpansionStopsAtTheLimit) {
  loadStandard();
  const std::string big(2000, 'x');
  EXPECT_EQ(expand(big).size(), kMaxExpansion);
  EXPECT_EQ(expand(std::string(998, 'y') + "%TCN%"), std::string(998, 'y') + "T");
  // A name longer than the limit is cut; what is left names nothing.
  EXPECT_EQ(expand("%" + std::string(150, 'N') + "%z"), "z");
  run.answers = {{std::string(kMaxPlaceholderName, 'N'), "", "hit"}};
  EXPECT_EQ(expand("%" + std::string(150, 'N') + "%"), "hit");
  // Joining subfields stops at the limit too.
  std::string many;
  for (int i = 0; i < 400; ++i) {
    if (i > 0) many.push_back('\x1E');
    many += "abcd";
  }
  TxBuilder b;
  b.type2(0, {{40, many}});
  load(b);
  EXPECT_EQ(expand("%2.040[,]%").size(), kMaxExpansion);
}

TEST_F(Engine, ConditionsMatchTokensByOperator) {
  loadStandard();
  const ExpandInputs in{file, state, run};
  const auto holds = [&](int op, std::string field, std::string values) {
    return evaluateConditions({RuleCondition{op, std::move(field), std::move(values)}}, {}, in);
  };
  EXPECT_TRUE(evaluateConditions({}, {}, in));
  EXPECT_TRUE(holds(kEquals, "CAR", "CAR,CNA"));
  EXPECT_TRUE(holds(kEquals, "CNA", "CAR,CNA"));
  EXPECT_FALSE(holds(kEquals, "car", "CAR,CNA"));
  EXPECT_TRUE(holds(kEquals, "CAR", ",CAR"));
  EXPECT_TRUE(holds(kEquals, " CNA", "CAR, CNA"));
  EXPECT_FALSE(holds(kEquals, "CNA", "CAR, CNA"));
  EXPECT_FALSE(holds(kEndsWith, "BC", "ABC"));
  EXPECT_TRUE(holds(kEndsWith, "XABC", "ABC"));
  EXPECT_TRUE(holds(kStartsWith, "%2.018%", "DOE"));
  EXPECT_TRUE(holds(kContains, "%2.018%", "E,J"));
  EXPECT_FALSE(holds(kEquals, "", ",,"));
  EXPECT_FALSE(holds(kUnknownOperator, "CAR", "CAR"));
  EXPECT_FALSE(holds(7, "CAR", "CAR"));
  // All conditions must hold.
  EXPECT_FALSE(evaluateConditions(
      {RuleCondition{kEquals, "A", "A"}, RuleCondition{kEquals, "A", "B"}}, {}, in));
}

TEST_F(Engine, AddFieldToType2IgnoresConditions) {
  loadStandard();
  ConversionRule r = rule("Add Field", "2.005", "v-%FILENAME%");
  r.conditions.push_back(RuleCondition{kEquals, "x", "never"});
  apply(r);
  EXPECT_EQ(field(2, 5), "v-a");
}

TEST_F(Engine, AddFieldToType14WritesOnlyRecordsMeetingConditions) {
  loadStandard();
  ConversionRule r = rule("Add Field", "14.020", "f%FGP%");
  r.conditions.push_back(RuleCondition{kEquals, "%IMP%", "0"});
  apply(r);
  EXPECT_EQ(field(14, 20, 0), "f2");
  EXPECT_EQ(field(14, 20, 1), "<missing>");
  EXPECT_EQ(field(14, 20, 2), "f4");
}

TEST_F(Engine, AddFieldSetsAnItem) {
  loadStandard();
  apply(rule("Add Field", "14.013:b", "9"));
  EXPECT_EQ(field(14, 13, 0),
            "2\x1F"
            "9");
  apply(rule("Add Field", "2.018:A", "bad"));  // letter before "a": nothing
  EXPECT_EQ(field(2, 18), "DOE,JOHN");
}

TEST_F(Engine, AddFieldWithSeparatorsBuildsSubfields) {
  loadStandard();
  apply(rule("Add Field", "2.050", "X%RS%Y%US%Z"));
  EXPECT_EQ(file.getSubfieldCount(2, 50, 0), 2);
  EXPECT_EQ(field(2, 50), "X\x1EY\x1FZ");
}

TEST_F(Engine, AddFieldIfBlankAndIfMissing) {
  loadStandard();
  apply(rule("Add Field If Missing", "2.018", "new"));
  EXPECT_EQ(field(2, 18), "DOE,JOHN");
  apply(rule("Add Field If Missing", "2.019", "new"));
  EXPECT_EQ(field(2, 19), "new");
  apply(rule("Add Field If Blank", "2.018", "blank"));
  EXPECT_EQ(field(2, 18), "DOE,JOHN");
  apply(rule("Add Field If Blank", "2.021:c", "blank"));
  EXPECT_EQ(field(2, 21), "blank");
  apply(rule("Add Field If Missing", "14.030", "m"));
  EXPECT_EQ(field(14, 30, 2), "m");
}

TEST_F(Engine, CopyAndMoveField) {
  loadStandard();
  apply(rule("Copy Field", "2.018", "1.010"));
  EXPECT_EQ(field(1, 10), "DOE,JOHN");
  EXPECT_EQ(field(2, 18), "DOE,JOHN");
  apply(rule("Move Field", "2.020", "2.021"));
  EXPECT_EQ(field(2, 21), "X20");
  EXPECT_EQ(field(2, 20), "<missing>");
  apply(rule("Move Field", "2.020", "2.022"));  // From absent: nothing changes
  EXPECT_EQ(field(2, 22), "<missing>");
  apply(rule("Move Field", "2.021", "2.021"));  // onto itself: kept
  EXPECT_EQ(field(2, 21), "X20");
  apply(rule("Copy Field", "junk", "2.030"));
  EXPECT_EQ(field(2, 30), "<missing>");
}

TEST_F(Engine, DeleteFieldFromEveryRecordOrByCondition) {
  loadStandard();
  apply(rule("Delete Field", "14.005"));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(field(14, 5, i), "<missing>") << i;
  ConversionRule r = rule("Delete Field", "14.013");
  r.conditions.push_back(RuleCondition{kEquals, "%IMP%", "1"});
  apply(r);
  EXPECT_EQ(field(14, 13, 0), "2");
  EXPECT_EQ(field(14, 13, 1), "<missing>");
  apply(rule("Delete Field", "2.018"));
  EXPECT_EQ(field(2, 18), "<missing>");
}

TEST_F(Engine, ReplaceStrings) {
  loadStandard();
  apply(rule("Replace Strings", "2.005", "-"));
  EXPECT_EQ(field(2, 5), "ABC");
  apply(rule("Add Field", "2.005", "A----B"));
  apply(rule("Replace Strings", "2.005", "--", "-"));
  EXPECT_EQ(field(2, 5), "A--B");
  apply(rule("Replace Strings", "2.005", "", "zz"));
  EXPECT_EQ(field(2, 5), "A--B");
  apply(rule("Replace Strings", "14.005", "D", "E"));
  EXPECT_EQ(field(14, 5, 2), "E2");
}

TEST_F(Engine, WriteBackKeepsFurtherSubfields) {
  loadStandard();
  apply(rule("Replace Strings", "2.033", "P", "p"));
  EXPECT_EQ(field(2, 33), "p\x1EQ\x1ER");
  apply(rule("Remove Invalid Characters", "2.033", "p"));
  EXPECT_EQ(field(2, 33), "\x1EQ\x1ER");
}

// Edits that would write a file no reader loads are refused with an error row each, and the
// file is marked so that it is not saved.
TEST_F(Engine, StructuralEditsAreRefusedWithAnErrorRow) {
  loadStandard();
  apply(rule("Delete Field", "14.001"));
  apply(rule("Delete Field", "14.002"));
  apply(rule("Delete Field", "1.002"));
  apply(rule("Add Field", "14.001:b", "7"));
  apply(rule("String Left", "14.001", "1"));
  ASSERT_EQ(outcome.rows.size(), 5u);
  for (const auto& row : outcome.rows) {
    EXPECT_EQ(row.kind, RowKind::kError);
    EXPECT_EQ(row.counter, RowCounter::kErrors);
  }
  EXPECT_EQ(outcome.rows[0].text,
            "\"Delete Field\" was not applied to field 14.001: the field holds the record's "
            "length, version or IDC");
  EXPECT_TRUE(outcome.refusedEdit);
  std::string bytes;
  ASSERT_EQ(transaction::writeTraditionalBytes(*file.transaction(), bytes), 0);
  std::unique_ptr<transaction::Transaction> back;
  EXPECT_EQ(transaction::readTraditionalBytes(bytes, back), 0);
}

TEST_F(Engine, SeparatorsBroughtInByPlaceholdersAreRefused) {
  loadStandard();
  run.answers = {{"WHO", "", "x\x1Ey"}};
  state.baseName = "a\x1C";
  apply(rule("Add Field", "2.005", "%WHO%"));
  apply(rule("Add Field", "14.020", "%FILENAME%"));
  apply(rule("Add Field", "2.040:a", "1\x1F"));
  ASSERT_EQ(outcome.rows.size(), 3u);
  EXPECT_EQ(outcome.rows[0].text,
            "\"Add Field\" was not applied to field 2.005: the value holds a separator character");
  EXPECT_EQ(field(2, 5), "A-B-C");
  EXPECT_EQ(field(14, 20), "<missing>");
  // %RS% and %US% are the rule's own structure: they still build subfields and items.
  apply(rule("Add Field", "2.041", "A%RS%B%US%C"));
  EXPECT_EQ(outcome.rows.size(), 3u);
  EXPECT_EQ(file.getSubfieldCount(2, 41), 2);
}

TEST_F(Engine, ReplaceStringsStopsAtTheFieldLimit) {
  loadStandard();
  const ConversionRule grow = rule("Replace Strings", "2.005", "A", std::string(1000, 'A'));
  apply(grow);
  apply(grow);
  EXPECT_EQ(field(2, 5).size(), 1000004u);
  EXPECT_TRUE(outcome.rows.empty());
  apply(grow);  // would be about 10^9 bytes
  ASSERT_EQ(outcome.rows.size(), 1u);
  EXPECT_EQ(outcome.rows[0].text,
            "\"Replace Strings\" was not applied to field 2.005: the text would be longer than "
            "268435456 bytes");
  EXPECT_EQ(field(2, 5).size(), 1000004u);
}

TEST_F(Engine, Type14To4RefusesValuesBeyondTheBinaryFields) {
  TxBuilder b;
  b.type14(1, 70000, 2, "abcd");
  load(b);
  apply(rule("Convert Type 14 to Type 4"));
  EXPECT_EQ(file.countRecords(14), 1);
  ASSERT_EQ(outcome.rows.size(), 1u);
  EXPECT_EQ(outcome.rows[0].text,
            "Type-14 record 1 was not converted to Type 4: field 14.006 value \"70000\" does "
            "not fit its 2-byte binary field");
  EXPECT_TRUE(outcome.refusedEdit);
}

TEST_F(Engine, ConvertImageFormatReportsImagesItCannotDecode) {
  TxBuilder b;
  b.type14(1, 8, 8, "not a wsq stream", {{11, "WSQ20"}});
  load(b);
  apply(rule("Convert Image Format", "14", "WSQ", "PNG"));
  ASSERT_EQ(outcome.rows.size(), 1u);
  EXPECT_EQ(outcome.rows[0].kind, RowKind::kWarning);
  EXPECT_EQ(outcome.rows[0].text,
            "Type-14 record 1: the image could not be decoded; \"Convert Image Format\" left it as "
            "it was (16 bytes are not 8x8 raw pixels of 1, 8 or 24 bits)");
  EXPECT_EQ(field(14, 11), "WSQ20");
}

TEST_F(Engine, StringLeftAndRight) {
  loadStandard();
  apply(rule("Add Field", "2.040", "ABCDEFG"));
  apply(rule("Add Field", "2.041", "ABCDEFG"));
  apply(rule("Add Field", "2.042", "ABCDEFG"));
  apply(rule("String Right", "2.040", "4"));
  apply(rule("String Right", "2.041", "10"));
  apply(rule("String Left", "2.042", "3x"));
  EXPECT_EQ(field(2, 40), "DEFG");
  EXPECT_EQ(field(2, 41), "ABCDEFG");
  EXPECT_EQ(field(2, 42), "ABC");
}

TEST_F(Engine, StringRightOfALongTextTakesItsRealEnd) {
  TxBuilder b;
  b.type2(0, {{40, std::string(3000, 'a') + "TAIL"}});
  load(b);
  apply(rule("String Right", "2.040", "4"));
  EXPECT_EQ(field(2, 40), "TAIL");
}

TEST_F(Engine, RemoveInvalidCharactersRespectsItsBuffer) {
  TxBuilder b;
  b.type2(0, {{40, "A-B/C"},
              {41, std::string(kMaxRemoveCharactersText, '-')},
              {42, std::string(kMaxRemoveCharactersText + 1, '-')}});
  load(b);
  apply(rule("Remove Invalid Characters", "2.040", "-/"));
  EXPECT_EQ(field(2, 40), "ABC");
  EXPECT_EQ(removeCharacters(file, 2, 41, 0, "-"), 0);
  EXPECT_EQ(field(2, 41), "");
  // Longer than the working buffer: refused, not cut.
  EXPECT_LT(removeCharacters(file, 2, 42, 0, "-"), 0);
  EXPECT_EQ(field(2, 42).size(), kMaxRemoveCharactersText + 1);
  EXPECT_LT(removeCharacters(file, 2, 99, 0, "-"), 0);
}

TEST_F(Engine, UnknownActionsAndMissingParametersDoNothing) {
  loadStandard();
  std::string before;
  ASSERT_EQ(transaction::writeTraditionalBytes(*file.transaction(), before), 0);
  for (const char* action :
       {"Frobnicate", "add field", "Add Field", "Copy Field", "Move Field", "Delete Field",
        "Replace Strings", "String Left", "String Right", "Remove Invalid Characters"}) {
    apply(rule(action));
  }
  std::string after;
  ASSERT_EQ(transaction::writeTraditionalBytes(*file.transaction(), after), 0);
  EXPECT_EQ(after, before);
}

TEST_F(Engine, OutputAndFileActionsChangeTheFileState) {
  loadStandard();
  apply(rule("Output to CSV", "TCN", "%TCN%\t!"));
  ASSERT_EQ(outcome.csv.size(), 1u);
  EXPECT_EQ(outcome.csv[0].heading, "TCN");
  EXPECT_EQ(outcome.csv[0].value, "TCN-1!");
  apply(rule("Change Filename", "%FILENAME%_%TCN%"));
  EXPECT_EQ(state.baseName, "a_TCN-1");
  apply(rule("Change Filename", std::string(400, 'n')));
  EXPECT_EQ(state.baseName.size(), kMaxBaseName);
  apply(rule("Change File Extension", "eftxyz"));
  EXPECT_EQ(state.outputExtension, "eftx");
  ConversionRule guarded = rule("Change File Extension", "xml");
  guarded.conditions.push_back(RuleCondition{kEquals, "%TCN%", "other"});
  apply(guarded);
  EXPECT_EQ(state.outputExtension, "eftx");
  apply(rule("Save As", "XML"));
  EXPECT_EQ(state.saveFormat, SaveFormat::kXml);
  apply(rule("Save As", "Unchanged"));
  EXPECT_EQ(state.saveFormat, SaveFormat::kSameAsInput);
  apply(rule("Save As", "Binary"));
  EXPECT_EQ(state.saveFormat, SaveFormat::kTraditional);
  apply(rule("Disable Save"));
  EXPECT_FALSE(state.saveEnabled);
  EXPECT_TRUE(outcome.disabledSave);
}

TEST(FieldAddressScan, ReadsTheFormsOfAParameter) {
  FieldAddress a;
  ASSERT_TRUE(scanFieldAddress("14.013:b", a));
  EXPECT_EQ(a.type, 14);
  EXPECT_EQ(a.field, 13);
  EXPECT_EQ(a.item, 1);
  ASSERT_TRUE(scanFieldAddress("2.5 trailing", a));
  EXPECT_FALSE(a.hasItem);
  EXPECT_FALSE(scanFieldAddress("2", a));
  EXPECT_FALSE(scanFieldAddress("x.5", a));
  EXPECT_FALSE(scanFieldAddress("99999999999.5", a));
  EXPECT_FALSE(scanFieldAddress("", a));
}

}  // namespace
}  // namespace varnel::rules
