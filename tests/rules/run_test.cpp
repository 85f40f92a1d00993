#include "rules/run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "rules/report.h"
#include "samples/tx_builder.h"
#include "tests/rules/helpers.h"

namespace varnel::rules {
namespace {

using samples::TxBuilder;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

class FakeUi final : public UiServices {
 public:
  Answer showMessage(std::string_view text, std::string_view caption, Buttons buttons,
                     Icon) noexcept override {
    messages.push_back(std::string(caption) + ": " + std::string(text));
    return buttons == Buttons::kYesNo ? Answer::kNo : Answer::kOk;
  }
  std::string promptText(std::string_view prompt, std::string_view name) noexcept override {
    prompts.emplace_back(prompt);
    auto it = answers.find(std::string(name));
    return it == answers.end() ? std::string(kPromptCancelled) : it->second;
  }
  void setProgressRange(int, int high) noexcept override { range = high; }
  void setProgressPosition(int p) noexcept override { positions.push_back(p); }
  void setStatusText(std::string_view t) noexcept override { status = std::string(t); }
  void rememberPaths(std::string_view, std::string_view, std::string_view) noexcept override {
    remembered = true;
  }
  void openWithDefaultApplication(std::string_view) noexcept override {}

  std::map<std::string, std::string> answers;
  std::vector<std::string> messages;
  std::vector<std::string> prompts;
  std::vector<int> positions;
  std::string status;
  int range = -1;
  bool remembered = false;
};

std::string transactionBytes(const std::string& name, const std::string& tcn) {
  TxBuilder b;
  b.type1Field(9, tcn);
  b.type2(2, {{18, name}});
  b.type14(2, 8, 8, TxBuilder::greyImage(8, 8));
  return b.bytes();
}

// The display names of the rows, in report order, with their texts.
std::vector<std::string> reportRows(const std::string& html) {
  std::vector<std::string> rows;
  const std::string open = "<td class=\"messageCell\">";
  std::size_t pos = html.find("</th></tr>");
  while ((pos = html.find(open, pos)) != std::string::npos) {
    pos += open.size();
    const std::size_t end = html.find("</td></tr>", pos);
    std::string row = html.substr(pos, end - pos);
    for (const char* tag : {"<strong>", "</strong>"}) {
      for (std::size_t t; (t = row.find(tag)) != std::string::npos;) row.erase(t, std::strlen(tag));
    }
    rows.push_back(row);
  }
  return rows;
}

class ConversionRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(src / "sub.nst");  // a folder named like a transaction
    writeFile(src / "a.nst", transactionBytes("DOE,JOHN", "T1"));
    writeFile(src / "b.EFT", transactionBytes("ROE,JANE", "T2"));
    writeFile(src / "c.d.nist", transactionBytes("POE,EDGAR", "T3"));
    writeFile(src / "bad.an2", "this is not a transaction");
    std::string cut = transactionBytes("CUT", "T4");
    cut.resize(cut.size() - 40);
    writeFile(src / "truncated.lffs", cut);
    writeFile(src / "notes.txt", "ignored");
    ASSERT_TRUE(listTransactionFiles(src.path() + "/", listed));
  }

  ConvertStatus convert(const std::string& rules) {
    writeFile(ruleDir / "r.ntx", rules);
    return convertCommand(src.path(), dst.path(), ruleDir / "r.ntx", ui, summary);
  }

  // Listed names in listing order, keeping those `keep` accepts.
  template <typename F>
  std::vector<std::string> listedWhere(F keep) const {
    std::vector<std::string> out;
    for (const auto& n : listed) {
      if (keep(n)) out.push_back(n);
    }
    return out;
  }

  static bool good(const std::string& n) { return n == "a.nst" || n == "b.EFT" || n == "c.d.nist"; }

  TempDir src;
  TempDir dst;
  TempDir ruleDir;
  FakeUi ui;
  RunSummary summary;
  std::vector<std::string> listed;
};

TEST_F(ConversionRunTest, ConvertsAFolderWithReportAndCsv) {
  ASSERT_EQ(listed.size(), 5u);
  ASSERT_EQ(convert("Output to CSV|Name|%2.018%|||\n"
                    "Output to CSV|TCN|%TCN%\t|||\n"
                    "Add Field|2.030|%FILENAME%.%FILEEXTENSION%|||\n"),
            ConvertStatus::kCompleted);
  EXPECT_TRUE(ui.remembered);
  EXPECT_EQ(ui.range, 5);
  EXPECT_EQ(ui.status, "5 processed of 5");
  EXPECT_EQ(ui.positions, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(summary.counts.processed, 5);
  EXPECT_EQ(summary.counts.errors, 2);
  EXPECT_EQ(summary.counts.messages, 3);
  EXPECT_EQ(summary.counts.warnings, 0);
  EXPECT_EQ(summary.filesWithErrors, 2);

  // Outputs keep name and extension case; failed files are not written.
  std::string csv = "Name\tTCN\r";
  const std::map<std::string, std::string> csvLine = {
      {"a.nst", "DOE,JOHN\tT1\r"}, {"b.EFT", "ROE,JANE\tT2\r"}, {"c.d.nist", "POE,EDGAR\tT3\r"}};
  std::vector<std::string> expectedRows;
  for (const auto& n : listed) {
    if (good(n)) {
      csv += csvLine.at(n);
      expectedRows.push_back(n + ": NIST File successfully converted");
      EXPECT_TRUE(std::filesystem::is_regular_file(dst / n)) << n;
    } else {
      expectedRows.push_back(n + ": Invalid NIST File");
      EXPECT_FALSE(std::filesystem::exists(dst / n)) << n;
    }
  }
  EXPECT_EQ(readFile(dst / "results.csv"), csv);

  // The converted file carries the rule's change; the base name of c.d.nist is c.d.
  transaction::NistFile out;
  ASSERT_EQ(out.load(dst / "c.d.nist"), 0);
  std::string_view v;
  ASSERT_EQ(out.getFieldText(2, 30, v), 0);
  EXPECT_EQ(v, "c.d.nist");

  const std::string html = readFile(summary.reportPath);
  EXPECT_EQ(reportRows(html), expectedRows);
  const std::string head = reportTemplate("");
  ASSERT_GT(html.size(), head.size() + kOverviewAreaSize);
  const std::string area = html.substr(head.size(), kOverviewAreaSize);
  EXPECT_EQ(area.rfind("<div id=\"content\"><h2 _locID=\"OverviewTitle\">Overview</h2>", 0), 0u);
  EXPECT_NE(area.find("5 processed of 5<br/>Time taken: "), std::string::npos);
  EXPECT_NE(area.find("<br/>Errors: 2<br/>Warning: 0<br/>Messages: 3<br/>"), std::string::npos);
  EXPECT_NE(area.find("Varnel version: 3.3.0.0<br/>"), std::string::npos);
  const std::size_t used = area.find_last_not_of(' ') + 1;
  EXPECT_TRUE(area.substr(0, used).ends_with("WSQ Library version: 2.4.0.0<br/></div>"));
  EXPECT_EQ(html.substr(head.size() + kOverviewAreaSize, messagesHeader().size()),
            messagesHeader());
  EXPECT_TRUE(html.ends_with("</table></a></div></div></body></html>"));
  EXPECT_EQ(html.substr(0, 17), "<!DOCTYPE html>\r\n");
}

TEST_F(ConversionRunTest, ReportIsAPageXmllintAccepts) {
  ASSERT_EQ(convert(""), ConvertStatus::kCompleted);
  if (std::system("xmllint --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xmllint";
  const std::string log = dst / "xmllint.log";
  ASSERT_EQ(
      std::system(("xmllint --html --noout '" + summary.reportPath + "' 2>'" + log + "'").c_str()),
      0);
  // The row table sits inside the "Solution" anchor, which HTML 4 parsers close early; any
  // other complaint is a fault of the page.
  const std::string complaints = readFile(log);
  std::size_t errors = 0;
  for (std::size_t p = 0; (p = complaints.find("parser error", p)) != std::string::npos; ++p) {
    ++errors;
    EXPECT_EQ(complaints.find("parser error : Unexpected end tag : a", p), p) << complaints;
  }
  EXPECT_LE(errors, 1u) << complaints;
}

TEST_F(ConversionRunTest, DisableSaveWritesNothingButReportAndCsv) {
  ASSERT_EQ(convert("Disable Save|||||\nOutput to CSV|T|%TCN%|||\n"), ConvertStatus::kCompleted);
  const std::string html = readFile(summary.reportPath);
  for (const auto& row : reportRows(html)) {
    if (row.find("Invalid") == std::string::npos) {
      EXPECT_TRUE(row.ends_with(": NIST File successfully processed")) << row;
    }
  }
  std::vector<std::string> written;
  for (const auto& e : std::filesystem::directory_iterator(dst.path())) {
    written.push_back(e.path().filename().string());
  }
  EXPECT_EQ(written.size(), 2u);  // the report and results.csv
  EXPECT_TRUE(std::filesystem::exists(dst / "results.csv"));
  EXPECT_EQ(summary.counts.messages, 3);
}

TEST_F(ConversionRunTest, CsvLinesStopAtTheirLimit) {
  // Three columns of up to 999 bytes each would make lines of about 3000 bytes.
  const std::string big =
      "Output to CSV|" + std::string(600, 'H') + "|" + std::string(999, 'v') + "|||\n";
  ASSERT_EQ(convert(big + big + big), ConvertStatus::kCompleted);
  const std::string csv = readFile(dst / "results.csv");
  std::size_t lines = 0;
  for (std::size_t start = 0; start < csv.size();) {
    const std::size_t cr = csv.find('\r', start);
    ASSERT_NE(cr, std::string::npos);
    EXPECT_EQ(cr + 1 - start, kMaxCsvLine) << "line " << lines;
    start = cr + 1;
    ++lines;
  }
  EXPECT_EQ(lines, 4u);  // the header and one line per converted file
}

TEST_F(ConversionRunTest, PromptsAreAskedOnceAndAnswersUsed) {
  ui.answers["WHO"] = std::string(200, 'w');
  ASSERT_EQ(convert("Prompt for Parameter|WHO|Operator?|||\nAdd Field|2.031|%WHO%|||\n"),
            ConvertStatus::kCompleted);
  EXPECT_EQ(ui.prompts, (std::vector<std::string>{"Operator?"}));
  transaction::NistFile out;
  ASSERT_EQ(out.load(dst / "a.nst"), 0);
  std::string_view v;
  ASSERT_EQ(out.getFieldText(2, 31, v), 0);
  EXPECT_EQ(v, std::string(kMaxPromptAnswer, 'w'));
}

TEST_F(ConversionRunTest, RefusedEditWritesNoFile) {
  ui.answers["WHO"] = "x\x1Cy";
  ASSERT_EQ(convert("Prompt for Parameter|WHO|Operator?|||\nAdd Field|2.031|%WHO%|||\n"),
            ConvertStatus::kCompleted);
  EXPECT_FALSE(std::filesystem::exists(dst / "a.nst"));
  const auto rows = reportRows(readFile(summary.reportPath));
  EXPECT_NE(std::find(rows.begin(), rows.end(),
                      "a.nst: NIST File not saved: a rule could not be applied"),
            rows.end());
  EXPECT_EQ(summary.counts.errors, 2 + 3);  // two unreadable files, one refusal per good file
  EXPECT_EQ(summary.filesWithErrors, 5);
}

TEST_F(ConversionRunTest, CancelledPromptWritesNothing) {
  EXPECT_EQ(convert("Prompt for Parameter|WHO|Operator?|||\n"), ConvertStatus::kCancelled);
  EXPECT_EQ(ui.messages.back(), "Varnel: Conversion was cancelled");
  EXPECT_TRUE(std::filesystem::is_empty(dst.path()));
}

TEST_F(ConversionRunTest, UnreadableRuleFileStillConvertsEveryFile) {
  std::string garbage;
  for (int i = 0; i < 3000; ++i) garbage.push_back(static_cast<char>(i * 7919 % 251));
  ASSERT_EQ(convert(garbage + "\nFrobnicate|x\nAdd Field||||\nString Left|2.018|\n"),
            ConvertStatus::kCompleted);
  EXPECT_EQ(summary.counts.messages, 3);
  EXPECT_EQ(summary.counts.errors, 2);
}

TEST_F(ConversionRunTest, OutputNamesOutsideTheDestinationAreRefused) {
  ASSERT_EQ(convert("Change Filename|..\\escaped_%FILENAME%|||\n"), ConvertStatus::kCompleted);
  for (const auto& row : reportRows(readFile(summary.reportPath))) {
    if (row.find("Invalid") == std::string::npos) {
      EXPECT_TRUE(row.ends_with("An error occurred saving the NIST file")) << row;
    }
  }
  for (const auto& e : std::filesystem::directory_iterator(dst.path() + "/..")) {
    EXPECT_FALSE(e.path().filename().string().starts_with("escaped_")) << e.path();
  }
  EXPECT_EQ(summary.filesWithErrors, 5);
  EXPECT_EQ(summary.counts.errors, 2);  // a failed save is not counted
}

TEST_F(ConversionRunTest, FailedSaveLeavesNoPartialFile) {
  std::filesystem::create_directories(dst / "a.nst");  // the output name is taken by a folder
  std::filesystem::create_directories(dst / "sub");
  ASSERT_EQ(convert("Change Filename|sub/%FILENAME%|||\nCondition|%TCN%|Equals|T2\n"),
            ConvertStatus::kCompleted);
  EXPECT_TRUE(std::filesystem::is_regular_file(dst / "sub/b.EFT"));
  for (const auto& e : std::filesystem::recursive_directory_iterator(dst.path())) {
    EXPECT_EQ(e.path().filename().string().find(".varnel-"), std::string::npos) << e.path();
  }
  EXPECT_TRUE(std::filesystem::is_directory(dst / "a.nst"));
  const auto rows = reportRows(readFile(summary.reportPath));
  EXPECT_NE(std::find(rows.begin(), rows.end(), "a.nst: An error occurred saving the NIST file"),
            rows.end());
}

TEST_F(ConversionRunTest, SaveAsXmlWithANewExtension) {
#ifndef VARNEL_HAVE_XML
  GTEST_SKIP() << "built without the XML encoding";
#endif
  ASSERT_EQ(convert("Change File Extension|eft|||\nSave As|XML|||\n"), ConvertStatus::kCompleted);
  const std::string xml = readFile(dst / "a.eft");
  EXPECT_EQ(xml.rfind("<", 0), 0u) << xml.substr(0, 40);
  EXPECT_FALSE(std::filesystem::exists(dst / "a.nst"));
  // Converting that output again with "Unchanged" keeps the XML encoding.
  TempDir again;
  TempDir xmlSrc;
  writeFile(xmlSrc / "x.xnst", xml);
  writeFile(ruleDir / "u.ntx", "Save As|Unchanged|||\n");
  FakeUi local;
  RunSummary s;
  ASSERT_EQ(convertCommand(xmlSrc.path(), again.path(), ruleDir / "u.ntx", local, s),
            ConvertStatus::kCompleted);
  EXPECT_EQ(readFile(again / "x.xnst").rfind("<", 0), 0u);
  EXPECT_EQ(s.counts.messages, 1);
}

TEST_F(ConversionRunTest, ReportThatCannotBeCreatedStopsBeforeConverting) {
  FakeUi local;
  RunSummary s;
  EXPECT_EQ(
      runConversion(src.path() + "/", dst.path() + "/missing/", ruleDir / "none.ntx", 5, local, s),
      RunStatus::kReportFailed);
  ASSERT_FALSE(local.messages.empty());
  EXPECT_NE(local.messages.back().find("report"), std::string::npos);
  EXPECT_TRUE(local.positions.empty());
}

TEST_F(ConversionRunTest, FileNamesAndTextsAreEscapedInTheReport) {
  writeFile(src / "<b>&x.nst", "junk");
  ASSERT_EQ(convert(""), ConvertStatus::kCompleted);
  const std::string html = readFile(summary.reportPath);
  EXPECT_NE(html.find("<strong>&lt;b&gt;&amp;x.nst: </strong>Invalid NIST File"),
            std::string::npos);
  EXPECT_EQ(html.find("<b>&x"), std::string::npos);
  EXPECT_EQ(formatRow(ReportRow{RowKind::kWarning, RowCounter::kWarnings, false, "a<\"'"}, "n"),
            "<tr><td class=\"IconWarningEncoded\"></td><td class=\"messageCell\">"
            "a&lt;&quot;&#39;</td></tr>");
}

struct InputCase {
  std::string source, dest, rules, message;
};

// An XML reader that adds one Type-4 record whose IDC does not fit its 1-byte field.
class Type4IdcCodec final : public transaction::XmlCodec {
 public:
  int read(const std::string&, transaction::NistFile& file) const noexcept override {
    const std::string_view idc = "A1";
    const std::uint8_t fgp[6] = {1, 255, 255, 255, 255, 255};
    const std::uint8_t data[3] = {1, 2, 3};
    return file.appendBinaryImageRecord(4, &idc, 0, 1, fgp, 0, 1, 3, 0, data);
  }
  int write(const std::string&, const transaction::NistFile&) const noexcept override { return -1; }
};

TEST(RunUnfitValues, AValueTheTraditionalEncodingCannotHoldIsAnErrorOfItsRecord) {
  TempDir src;
  TempDir dst;
  writeFile(src / "x.xml", "<x/>");
  RunInputs in;
  in.sourceFolder = src.path() + "/";
  in.destFolder = dst.path() + "/";
  const Type4IdcCodec codec;
  transaction::NistFile file(&codec);
  const FileOutcome out = convertFile(in, "x.xml", true, file);
  ASSERT_EQ(out.rows.size(), 2u);
  EXPECT_EQ(out.rows[0].text,
            "Record 2 (Type 4): field 4.002 value \"A1\" does not fit its 1-byte binary field");
  EXPECT_EQ(out.rows[0].counter, RowCounter::kErrors);
  EXPECT_EQ(out.rows[1].text, "NIST File not saved: a rule could not be applied");
  EXPECT_TRUE(std::filesystem::is_empty(dst.path()));
}

TEST(RunInputChecks, FirstFailingCheckGivesItsMessage) {
  TempDir src;
  TempDir dst;
  TempDir empty;
  writeFile(src / "x.NST", "x");
  writeFile(src / "rules.ntx", "");
  std::filesystem::create_directories(empty / "folder.nst");
  writeFile(empty / "readme.txt", "x");
  const std::string rules = src / "rules.ntx";
  const std::vector<InputCase> cases = {
      {"", dst.path(), rules, "You must enter a source folder"},
      {src.path(), "", rules, "You must enter a destination folder"},
      {src / "nope", dst.path(), rules, "Source NIST Path does not exist"},
      {src.path(), dst.path(), src / "none.ntx", "Rule file does not exist"},
      {src.path(), dst.path(), dst.path(), "Rule file does not exist"},
      {src.path(), dst / "nope", rules, "Destination NIST Path does not exist"},
      {src.path(), src.path(), rules, "Source and Destination paths cannot be the same"},
      {empty.path(), dst.path(), rules, "No Files in this folder to convert"},
  };
  for (const auto& c : cases) {
    const InputCheck check = checkRunInputs(c.source, c.dest, c.rules);
    EXPECT_FALSE(check.ok) << c.message;
    EXPECT_EQ(check.message, c.message);
  }
  // Texts that differ only by a trailing separator are not "the same".
  const InputCheck slash = checkRunInputs(src.path(), src.path() + "/", rules);
  EXPECT_TRUE(slash.ok);
  EXPECT_EQ(slash.count, 1);
}

TEST(RunFileState, SplitsTheExtensionAtTheLastDot) {
  FileState st;
  startFileState("a.b.nst", st);
  EXPECT_EQ(st.baseName, "a.b");
  EXPECT_EQ(st.inputExtension, "nst");
  EXPECT_EQ(st.displayName, "a.b.nst");
  startFileState("X.NST", st);
  EXPECT_EQ(st.outputExtension, "NST");
  EXPECT_TRUE(isTransactionFileName("X.NST"));
  EXPECT_TRUE(isTransactionFileName("y.XnSt"));
  EXPECT_FALSE(isTransactionFileName("y.nst.bak"));
  EXPECT_FALSE(isTransactionFileName("nst"));
}

TEST(RunOutputPath, StaysInsideTheDestination) {
  RunInputs in;
  in.destFolder = "/out/";
  FileState st;
  startFileState("a.nst", st);
  std::string path;
  ASSERT_EQ(outputPath(in, st, path), 0);
  EXPECT_EQ(path, "/out/a.nst");
  st.baseName = "images\\b";
  ASSERT_EQ(outputPath(in, st, path), 0);
  EXPECT_EQ(path, "/out/images/b.nst");
  for (const char* bad : {"../x", "/etc/x", "a/../../x", "..\\x"}) {
    st.baseName = bad;
    EXPECT_LT(outputPath(in, st, path), 0) << bad;
  }
  st.baseName = "ok";
  st.outputExtension = "a/..";
  EXPECT_LT(outputPath(in, st, path), 0);
}

}  // namespace
}  // namespace varnel::rules
