// The conformance checks on small built transactions, one group per kind of check.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/image_layer.h"
#include "rules/conformance/output.h"
#include "rules/conformance/profile.h"
#include "rules/conformance/validator.h"
#include "rules/engine.h"
#include "tests/common/tx_builder.h"
#include "tests/rules/helpers.h"
#include "transaction/nist_file.h"

namespace {

using varnel::rules::conformance::Finding;
using varnel::rules::conformance::Profile;
using varnel::rules::conformance::Severity;
using varnel::test::TxBuilder;
using varnel::transaction::NistFile;

// A Type-1 record with every field the base profile requires, version 0500, and `more`.
NistFile load(TxBuilder b) {
  NistFile f;
  EXPECT_EQ(f.load(varnel::test::tempFile(b.bytes())), 0);
  EXPECT_EQ(f.setField(1, 2, "0500"), 0);
  return f;
}

TxBuilder base() {
  return TxBuilder().type1({{5, "20240101"}, {9, "12345678901234A"}, {11, "19.69"}, {12, "19.69"}});
}

std::vector<Finding> check(const NistFile& f, const Profile& p = Profile::base()) {
  std::vector<Finding> out;
  EXPECT_EQ(varnel::rules::conformance::validateTransaction(f, p, out), 0);
  return out;
}

std::string listing(const std::vector<Finding>& fs) {
  std::string s;
  for (const Finding& f : fs) {
    s += std::string(varnel::rules::conformance::severityName(f.severity)) + " " + f.message + "\n";
  }
  return s;
}

// The one finding whose message contains `text`, or fails.
const Finding* find(const std::vector<Finding>& fs, const std::string& text) {
  for (const Finding& f : fs) {
    if (f.message.find(text) != std::string::npos) return &f;
  }
  ADD_FAILURE() << "no finding with \"" << text << "\" in:\n" << listing(fs);
  return nullptr;
}

// Severity of the finding whose message contains `text`; kNone when there is none.
enum class Sev { kError, kWarning, kNone };
Sev severityOf(const std::vector<Finding>& fs, const std::string& text) {
  const Finding* f = find(fs, text);
  if (!f) return Sev::kNone;
  return f->severity == Severity::kError ? Sev::kError : Sev::kWarning;
}

Profile profile(const std::string& text) {
  Profile p = Profile::base();
  std::string error;
  EXPECT_EQ(p.apply(text, error), 0) << error;
  return p;
}

TEST(ConformanceBase, ConformingTransactionHasNoFindings) {
  const NistFile f = load(base().tagged(2, {{2, "00"}}));
  EXPECT_EQ(listing(check(f)), "");
}

TEST(ConformanceStructure, ContentListMustNameEachRecordsIdc) {
  NistFile f = load(base().tagged(2, {{2, "07"}}));
  const auto all = check(f);
  const Finding* x = find(all, "1.003 CNT: names IDC '00' for record 1, whose 2.002 IDC");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->severity, Severity::kError);
}

TEST(ConformanceStructure, FieldTaggedForAnotherRecordTypeIsAnError) {
  std::string bytes = base().tagged(2, {{2, "00"}, {5, "X"}}).bytes();
  bytes.replace(bytes.rfind("2.005:"), 6, "3.005:");
  NistFile f;
  ASSERT_EQ(f.load(varnel::test::tempFile(bytes)), 0);
  EXPECT_NE(find(check(f), "tagged '3.005:' in a Type-2 record"), nullptr);
}

TEST(ConformanceStructure, RepeatedFieldIsAnErrorAndDisorderAWarning) {
  std::string bytes = base().tagged(2, {{2, "00"}, {7, "A"}, {5, "B"}, {5, "C"}}).bytes();
  NistFile f;
  ASSERT_EQ(f.load(varnel::test::tempFile(bytes)), 0);
  const auto fs = check(f);
  const Finding* twice = find(fs, "2.005: appears twice");
  const Finding* order = find(fs, "2.005: comes after 2.007");
  ASSERT_TRUE(twice && order);
  EXPECT_EQ(twice->severity, Severity::kError);
  EXPECT_EQ(order->severity, Severity::kWarning);
}

TEST(ConformanceStructure, TrailingSubfieldSeparatorIsAWarningButAnEmptyLastItemIsNot) {
  NistFile f = load(base().tagged(2, {{2, "00"}, {5, "A\x1F"}, {6, "B\x1E"}}));
  const auto all = check(f);
  for (const Finding& y : all) EXPECT_EQ(y.message.find("2.005"), std::string::npos);
  EXPECT_EQ(severityOf(all, "2.006: a subfield separator with nothing after it"), Sev::kWarning);
}

TEST(ConformanceStructure, WithdrawnRecordTypeIsAnErrorFromVersion0500Only) {
  const std::string data(10 * 10, '\x80');
  NistFile f = load(base().binary(3, 0, data, 10, 10));
  const auto all = check(f);
  const Finding* x = find(all, "Type-3 records are deprecated");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->severity, Severity::kError);
  ASSERT_EQ(f.setField(1, 2, "0400"), 0);
  for (const Finding& y : check(f)) EXPECT_EQ(y.message.find("deprecated"), std::string::npos);
}

TEST(ConformancePresence, MissingMandatoryFieldIsAnError) {
  NistFile f = load(base());
  ASSERT_EQ(f.deleteField(1, 11), 0);
  const auto all = check(f);
  const Finding* x = find(all, "1.011 NSR: missing; the field is mandatory");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->check, "presence");
  EXPECT_EQ(x->field, 11);
}

TEST(ConformancePresence, FingerprintRecordWithoutImageNeedsAnAmputationNote) {
  NistFile f = load(base().tagged(14, {{2, "00"}, {3, "0"}, {4, "SRC"}, {13, "1"}}));
  const auto all = check(f);
  const Finding* x = find(all, "record 1 (Type-14, IDC 00): has no 14.999 and no 14.018 AMP");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->severity, Severity::kError);
  NistFile amputated =
      load(base().tagged(14, {{2, "00"}, {3, "0"}, {4, "SRC"}, {13, "1"}, {18, "1\x1FXX"}}));
  for (const Finding& y : check(amputated)) EXPECT_EQ(y.message.find("14.999"), std::string::npos);
}

TEST(ConformancePresence, MissingMandatoryItemOfASubfieldIsAnError) {
  NistFile f = load(base().tagged(2, {{2, "00"}}));
  ASSERT_EQ(f.setField(1, 15, "3"), 0);  // DCS: CSI without its CSN
  EXPECT_NE(find(check(f), "1.015 DCS: item CSN is missing; it is mandatory"), nullptr);
}

TEST(ConformanceOccurrence, TooManySubfieldsAreCounted) {
  NistFile f = load(base());
  ASSERT_EQ(f.setFieldAt(1, 6, std::string("1\x1E") + "2", 0), 0);
  const auto all = check(f);
  const Finding* x = find(all, "1.006 PRY: 2 subfields, at most 1 allowed");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->expected, "at most 1");
  EXPECT_EQ(x->found, "2");
}

TEST(ConformanceLength, ShortValueNamesTheForm) {
  NistFile f = load(base());
  ASSERT_EQ(f.setField(1, 11, "19.7"), 0);
  const auto all = check(f);
  const Finding* x = find(all, "1.011 NSR: expected 5 characters NN.NN, found '19.7'");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->severity, Severity::kError);
}

TEST(ConformanceLength, OlderEditionsGetWarningsForContentButNotForTheirVersion) {
  NistFile f = load(base());
  ASSERT_EQ(f.setField(1, 11, "19.7"), 0);
  ASSERT_EQ(f.setField(1, 2, "0400"), 0);
  EXPECT_EQ(severityOf(check(f), "1.011 NSR"), Sev::kWarning);
  ASSERT_EQ(f.setField(1, 2, "400"), 0);
  EXPECT_EQ(severityOf(check(f), "1.002 VER: expected 4 characters"), Sev::kError);
}

TEST(ConformanceCharacters, LetterInANumericFieldIsNamed) {
  NistFile f = load(base());
  ASSERT_EQ(f.setField(1, 5, "2024O101"), 0);
  EXPECT_NE(find(check(f), "1.005 DAT: expected digits, found 'O' in '2024O101'"), nullptr);
}

TEST(ConformanceCharacters, ControlCharacterInFreeTextIsAWarning) {
  NistFile f = load(base().tagged(14, {{2, "01"}, {3, "0"}, {4, "SRC\x01"}}));
  EXPECT_EQ(severityOf(check(f), "14.004 SRC: expected text without control characters"),
            Sev::kWarning);
}

TEST(ConformanceValues, VersionOutsideTheEditionsIsAnError) {
  NistFile f = load(base());
  ASSERT_EQ(f.setField(1, 2, "0700"), 0);
  EXPECT_EQ(severityOf(check(f), "1.002 VER: expected one of 0200"), Sev::kError);
}

TEST(ConformanceValues, TableValueListsWarnInTheBaseAndBindInAProfile) {
  NistFile f = load(base());
  ASSERT_EQ(f.setField(1, 6, "0"), 0);  // PRY is 1..9
  EXPECT_EQ(severityOf(check(f), "1.006 PRY: expected one of 1..9, found '0'"), Sev::kWarning);
  EXPECT_EQ(severityOf(check(f, profile("value-severity error")), "1.006 PRY"), Sev::kError);
}

TEST(ConformanceValues, BoundsOfARangeApplyTogether) {
  NistFile f = load(base());
  const Profile p = profile("1.006 length 1..2\n1.006 values >=1,<10\n");
  ASSERT_EQ(f.setField(1, 6, "9"), 0);
  EXPECT_EQ(listing(check(f, p)), "");
  ASSERT_EQ(f.setField(1, 6, "10"), 0);
  EXPECT_NE(find(check(f, p), "1.006 PRY: expected one of >=1,<10, found '10'"), nullptr);
}

TEST(ConformanceFindings, LongValueIsShownCutAndEscaped) {
  NistFile f = load(base());
  ASSERT_EQ(f.setField(1, 11, "19.69\x01" + std::string(44, '7')), 0);
  const auto all = check(f);
  const Finding* x = find(all, "1.011 NSR: expected 5 characters NN.NN");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->found, "'19.69\\x01" + std::string(34, '7') + "...'");
  EXPECT_EQ(x->message, "1.011 NSR: expected 5 characters NN.NN, found " + x->found);
}

TEST(ConformanceFindings, ListCountsBeforeTextsAndAppendsThemInOrder) {
  // Seven minutiae whose direction is out of range: five are listed, two only counted.
  std::string minutiae;
  for (int i = 0; i < 7; ++i)
    minutiae += std::string(i ? "\x1E" : "") +
                "10\x1F"
                "20\x1F"
                "200\x1F"
                "E";
  NistFile f = load(base().tagged(9, {{2, "01"}, {3, "0"}, {4, "U"}, {331, minutiae}}));
  varnel::rules::conformance::FindingList list;
  ASSERT_EQ(varnel::rules::conformance::validateTransaction(f, Profile::base(), list), 0);
  std::vector<Finding> out(1);
  out[0].message = "kept";
  ASSERT_EQ(list.appendTo(out), 0);
  ASSERT_EQ(out.size(), list.size() + 1);
  EXPECT_EQ(out[0].message, "kept");
  out.erase(out.begin());
  EXPECT_EQ(list.count(Severity::kWarning),
            varnel::rules::conformance::countFindings(out, Severity::kWarning));
  EXPECT_EQ(list.count(Severity::kError),
            varnel::rules::conformance::countFindings(out, Severity::kError));
  EXPECT_NE(find(out, "9.331 MTD: subfield 5: MTD expected one of 1..180, found '200'"), nullptr);
  const Finding* rest = find(out, "9.331 MIN: 2 more findings not listed");
  ASSERT_NE(rest, nullptr);
  EXPECT_EQ(rest->mnemonic, "MIN");
  EXPECT_EQ(rest->found, "");
}

TxBuilder type14(const std::string& cga, const std::string& hll, const std::string& data) {
  return base().tagged(14, {{2, "00"},
                            {3, "0"},
                            {4, "SRC"},
                            {5, "20240101"},
                            {6, hll},
                            {7, "12"},
                            {8, "1"},
                            {9, "500"},
                            {10, "500"},
                            {11, cga},
                            {12, "8"},
                            {13, "1"},
                            {999, data}});
}

// PNG bytes of a w x h grey image, made by the imaging layer from raw pixels.
std::string pngBytes(int w, int h) {
  NistFile f =
      load(type14("NONE", std::to_string(w), std::string(static_cast<std::size_t>(w * h), '\x80')));
  EXPECT_EQ(f.setField(14, 7, std::to_string(h)), 0);
  EXPECT_EQ(varnel::imaging::recompressRecordImage(f, 14, 0, 6), 0);
  std::string_view data;
  EXPECT_EQ(f.getFieldText(14, 999, data), 0);
  return std::string(data);
}

TEST(ConformanceImage, CompressionFieldMustNameTheDataFormat) {
  NistFile f = load(type14("WSQ20", "10", pngBytes(10, 12)));
  const auto all = check(f);
  const Finding* x = find(all, "14.011 CGA: says 'WSQ20', the image data are PNG");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->severity, Severity::kError);
  EXPECT_EQ(x->check, "image");
}

TEST(ConformanceImage, SizeFieldsAgainstTheImageHeaderWarn) {
  NistFile f = load(type14("PNG", "11", pngBytes(10, 12)));
  const auto fs = check(f);
  EXPECT_EQ(severityOf(fs, "14.006 HLL: says 11, the image header says 10 x 12"), Sev::kWarning);
  NistFile ok = load(type14("PNG", "10", pngBytes(10, 12)));
  for (const Finding& y : check(ok)) EXPECT_NE(y.check, "image") << y.message;
}

TEST(ConformanceImage, UncompressedDataLengthFollowsFromSizeAndDepth) {
  NistFile f = load(type14("NONE", "10", std::string(10 * 12 - 1, '\x80')));
  EXPECT_NE(find(check(f), "14.999 DATA: holds 119 bytes; 10 x 12 pixels at 8 bits need 120"),
            nullptr);
}

TEST(ConformanceMinutiae, CountMustMatchTheListedMinutiae) {
  NistFile f = load(base().tagged(9, {{2, "01"},
                                      {3, "0"},
                                      {4, "S"},
                                      {10, "3"},
                                      {12,
                                       "1\x1F"
                                       "1\x1E"
                                       "2\x1F"
                                       "2"}}));
  const auto all = check(f);
  const Finding* x = find(all, "9.010 MIN: counts 3 minutiae, 9.012 MRC lists 2");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->check, "minutiae");
}

TEST(ConformanceProfile, ReceiverRulesTightenTheBase) {
  NistFile f = load(base().tagged(2, {{2, "00"}, {18, "DOE,JOHN"}}));
  const Profile p = profile(
      "profile receiver\n"
      "record 2 required\n"
      "2.018 required\n2.018 type A\n2.018 chars ,\n2.018 length 1..30\n"
      "2.022 required   # date of birth\n2.022 pattern \\d{8}\n");
  EXPECT_EQ(p.name(), "receiver");
  const auto fs = check(f, p);
  EXPECT_NE(find(fs, "2.022 POA: missing; the field is mandatory"), nullptr);
  EXPECT_EQ(fs.size(), 1u) << listing(fs);
  ASSERT_EQ(f.setField(2, 18, "DOE;JOHN"), 0);
  EXPECT_NE(find(check(f, p), "2.018: expected letters and ',', found ';'"), nullptr);
  const NistFile none = load(base());
  EXPECT_NE(find(check(none, p), "has 0 Type-2 record(s), at least 1 required"), nullptr);
}

TEST(ConformanceProfile, BadLineIsNamedAndLeavesTheProfileUnchanged) {
  Profile p = Profile::base();
  std::string error;
  EXPECT_EQ(p.apply("1.011 ignore\n1.006 lenght 1..2\n", error),
            varnel::rules::conformance::kBadProfile);
  EXPECT_EQ(error, "line 2: unknown keyword 'lenght'");
  EXPECT_FALSE(p.field(1, 11)->ignored);
}

TEST(ConformanceProfile, MissingProfileFileIsReported) {
  Profile p;
  std::string error;
  EXPECT_EQ(varnel::rules::conformance::loadProfile("/nonexistent/x.profile", p, error),
            varnel::rules::conformance::kProfileNotFound);
}

// The "Validate" rule action adds the findings to the file's report rows.
struct ActionRun {
  varnel::rules::FileState state;
  varnel::rules::RunInputs run;
  varnel::rules::FileOutcome outcome;
  void apply(NistFile& f, const std::string& profile) {
    varnel::rules::ConversionRule rule;
    rule.action = "Validate";
    rule.parameters = {profile, {}, {}, {}, {}};
    varnel::rules::ActionContext ctx(f, state, run, outcome);
    varnel::rules::applyRule(rule, ctx);
  }
};

TEST(ConformanceAction, FindingsBecomeErrorAndWarningRows) {
  NistFile f = load(base());
  ASSERT_EQ(f.setField(1, 11, "19.7"), 0);
  ASSERT_EQ(f.setField(1, 6, "0"), 0);
  ActionRun a;
  a.apply(f, "");
  ASSERT_EQ(a.outcome.rows.size(), 2u);
  EXPECT_EQ(a.outcome.rows[0].kind, varnel::rules::RowKind::kError);
  EXPECT_EQ(a.outcome.rows[0].counter, varnel::rules::RowCounter::kErrors);
  EXPECT_EQ(a.outcome.rows[0].text,
            "Validation: 1.011 NSR: expected 5 characters NN.NN, found '19.7'");
  EXPECT_EQ(a.outcome.rows[1].kind, varnel::rules::RowKind::kWarning);
  EXPECT_TRUE(a.outcome.hadErrorRow);
}

TEST(ConformanceAction, ProfileFileIsReadAgainWhenItChanges) {
  varnel::rules::testing::TempDir dir;
  const std::string path = dir / "p.profile";
  varnel::rules::testing::writeFile(path, "1.006 required\n");
  NistFile f = load(base());
  ActionRun a;
  a.apply(f, path);
  ASSERT_EQ(a.outcome.rows.size(), 1u);
  EXPECT_EQ(a.outcome.rows[0].text, "Validation: 1.006 PRY: missing; the field is mandatory");
  varnel::rules::testing::writeFile(path, "# nothing more than the base\n");
  ActionRun b;
  b.apply(f, path);
  EXPECT_TRUE(b.outcome.rows.empty());
  ActionRun c;
  c.apply(f, dir / "missing.profile");
  ASSERT_EQ(c.outcome.rows.size(), 1u);
  EXPECT_EQ(c.outcome.rows[0].kind, varnel::rules::RowKind::kError);
}

}  // namespace
