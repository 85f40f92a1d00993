#include "rules/run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "rules/detail/file_listing.h"
#include "rules/report.h"
#include "samples/tx_builder.h"
#include "tests/common/file_size_limit.h"
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
  // Asked before each file: stop once `stopAfter` files were done.
  bool stopRequested() noexcept override {
    return stopAfter >= 0 && static_cast<int>(positions.size()) > stopAfter;
  }

  std::map<std::string, std::string> answers;
  std::vector<std::string> messages;
  std::vector<std::string> prompts;
  std::vector<int> positions;
  std::string status;
  int range = -1;
  bool remembered = false;
  int stopAfter = -1;
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

  ConvertStatus convert(const std::string& rules, const std::string& from = {}) {
    writeFile(ruleDir / "r.ntx", rules);
    return convertCommand(from.empty() ? src.path() : from, dst.path(), ruleDir / "r.ntx", ui,
                          summary);
  }

  std::vector<std::string> rows() const { return reportRows(readFile(summary.reportPath)); }

  // Names of the destination's entries (not recursive), sorted.
  std::vector<std::string> destEntries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dst.path())) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
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
  std::string csv = "Name\tTCN\r\n";
  const std::map<std::string, std::string> csvLine = {{"a.nst", "DOE,JOHN\tT1\r\n"},
                                                      {"b.EFT", "ROE,JANE\tT2\r\n"},
                                                      {"c.d.nist", "POE,EDGAR\tT3\r\n"}};
  std::vector<std::string> expectedRows;
  for (const auto& n : listed) {
    if (good(n)) {
      csv += csvLine.at(n);
      expectedRows.push_back(n + ": NIST File successfully converted");
      EXPECT_TRUE(std::filesystem::is_regular_file(dst / n)) << n;
    } else {
      // The row says why, where the reader's failure can be traced.
      expectedRows.emplace_back(
          n == "bad.an2"
              ? "bad.an2: Invalid NIST File: the file does not start with a Type-1 record"
              : "truncated.lffs: Invalid NIST File: the length (LEN) of record 3 (Type-14), 213 "
                "bytes from byte 187, runs past the end of the file (truncated at byte 360)");
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
  ASSERT_EQ(std::system("xmllint --version >/dev/null 2>&1"), 0) << "xmllint is needed";
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
    const std::size_t cr = csv.find("\r\n", start);
    ASSERT_NE(cr, std::string::npos);
    EXPECT_EQ(cr + 1 - start, kMaxCsvLine) << "line " << lines;
    start = cr + 2;
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

TEST_F(ConversionRunTest, RuleFileWithAnUnknownActionIsRefusedBeforeAnyFile) {
  const std::pair<std::string, std::string> cases[] = {
      {"Add Field|2.030|x|||\n\nCondition|%TCN%|Equals|T1\nadd field|2.031|y\n",
       "Unknown action \"add field\" on line 4 of the rule file '"},
      {"\x01\x02garbage\xff|x\n", "Unknown action \"\x01\x02garbage\xff\" on line 1"}};
  for (const auto& [text, message] : cases) {
    EXPECT_EQ(convert(text), ConvertStatus::kInvalidInput);
    EXPECT_TRUE(std::filesystem::is_empty(dst.path()));
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_NE(ui.messages.back().find(message), std::string::npos) << ui.messages.back();
  }
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
  EXPECT_EQ(summary.counts.errors, 5);  // a failed save is an error like any other
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
  EXPECT_NE(std::find(rows.begin(), rows.end(),
                      "a.nst: An error occurred saving the NIST file: Is a directory"),
            rows.end());
}

TEST_F(ConversionRunTest, SaveTheSystemRefusesPartWayNamesTheReason) {
  RunInputs in;
  in.sourceFolder = src.path() + "/";
  in.destFolder = dst.path() + "/";
  transaction::NistFile file;
  FileOutcome out;
  {
    const test::FileSizeLimit limit(100);
    ASSERT_TRUE(limit.active());
    out = convertFile(in, "a.nst", true, file);
  }
  ASSERT_FALSE(out.rows.empty());
  EXPECT_EQ(out.rows.back().text, "An error occurred saving the NIST file: File too large");
  EXPECT_TRUE(out.hadErrorRow);
  EXPECT_TRUE(std::filesystem::is_empty(dst.path()));
}

TEST_F(ConversionRunTest, ListedFilesAreTakenInNameOrderAndStrangersAreErrorRows) {
  writeFile(ruleDir / "r.ntx", "");
  RunOptions options;
  options.filesFrom = std::vector<std::string>{
      "c.d.nist", src / "a.nst", "", "notes.txt", "missing.nst", "../elsewhere.nst", "./a.nst\r"};
  ASSERT_EQ(convertCommand(src.path(), dst.path(), ruleDir / "r.ntx", ui, summary, options),
            ConvertStatus::kCompleted);
  EXPECT_EQ(rows(), (std::vector<std::string>{
                        "../elsewhere.nst: Listed file is not in the source folder",
                        "a.nst: NIST File successfully converted",
                        "c.d.nist: NIST File successfully converted",
                        "missing.nst: Listed file is not in the source folder",
                        "notes.txt: Listed file is not a transaction file",
                    }));
  EXPECT_EQ(summary.counts.total, 5);
  EXPECT_TRUE(std::filesystem::is_regular_file(dst / "c.d.nist"));
  EXPECT_FALSE(std::filesystem::exists(dst / "b.EFT"));
}

TEST_F(ConversionRunTest, SaveAsXmlWithANewExtension) {
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

TEST_F(ConversionRunTest, XmlThatDoesNotParseIsAnInvalidFileAndPlaceholdersAreWarned) {
  const std::string pkg =
      "<itl:NISTBiometricInformationExchangePackage><itl:PackageInformationRecord>"
      "<biom:RecordCategoryCode>1</biom:RecordCategoryCode><biom:Transaction>"
      "<biom:TransactionControlIdentification><nc:IdentificationID>T9</nc:IdentificationID>"
      "</biom:TransactionControlIdentification></biom:Transaction></itl:PackageInformationRecord>"
      "</itl:NISTBiometricInformationExchangePackage>";
  TempDir xmlSrc;
  TempDir out;
  writeFile(xmlSrc / "half.xnst", pkg.substr(0, pkg.size() / 2));
  writeFile(xmlSrc / "page.xnst", "<html><body>404</body></html>");
  writeFile(xmlSrc / "plain.xnst", pkg);
  writeFile(ruleDir / "n.ntx", "");
  RunSummary s;
  ASSERT_EQ(convertCommand(xmlSrc.path(), out.path(), ruleDir / "n.ntx", ui, s),
            ConvertStatus::kCompleted);
  EXPECT_EQ(s.counts.errors, 2);
  EXPECT_EQ(s.counts.warnings, 1);
  EXPECT_FALSE(std::filesystem::exists(out / "half.xnst"));
  EXPECT_FALSE(std::filesystem::exists(out / "page.xnst"));
  EXPECT_TRUE(std::filesystem::exists(out / "plain.xnst"));
  const auto rows = reportRows(readFile(s.reportPath));
  EXPECT_NE(std::find(rows.begin(), rows.end(),
                      "page.xnst: Invalid NIST File: the XML is not a transaction package"),
            rows.end());
  const bool warned = std::any_of(rows.begin(), rows.end(), [](const std::string& r) {
    return r.starts_with("plain.xnst: ") && r.find("1.007 DAI") != std::string::npos;
  });
  EXPECT_TRUE(warned);
}

TEST_F(ConversionRunTest, ReportThatCannotBeCreatedStopsBeforeConverting) {
  FakeUi local;
  RunSummary s;
  writeFile(ruleDir / "r.ntx", "");
  EXPECT_EQ(
      runConversion(src.path() + "/", dst.path() + "/missing/", ruleDir / "r.ntx", 5, local, s),
      RunStatus::kReportFailed);
  ASSERT_FALSE(local.messages.empty());
  EXPECT_NE(local.messages.back().find("report"), std::string::npos);
  EXPECT_TRUE(local.positions.empty());
}

// Rows reach the report in batches: a report that can no longer be written still stops the run
// long before the end of the folder, not only when the run closes it.
TEST_F(ConversionRunTest, ReportThatFailsPartWayStopsTheRunSoon) {
  TempDir many;
  TempDir one;
  for (int i = 0; i < 300; ++i) {
    writeFile(many / (std::to_string(1000 + i) + ".nst"), transactionBytes("DOE", "T1"));
  }
  writeFile(one / "f.nst", transactionBytes("DOE", "T1"));
  writeFile(ruleDir / "r.ntx", "");
  FakeUi local;
  RunSummary s;
  ASSERT_EQ(runConversion(one.path() + "/", dst.path() + "/", ruleDir / "r.ntx", 1, local, s),
            RunStatus::kCompleted);
  const auto oneRow = std::filesystem::file_size(s.reportPath);
  TempDir out;
  RunStatus status = RunStatus::kCompleted;
  {
    const test::FileSizeLimit limit(oneRow + 2000);
    ASSERT_TRUE(limit.active());
    status = runConversion(many.path() + "/", out.path() + "/", ruleDir / "r.ntx", 300, local, s);
  }
  EXPECT_EQ(status, RunStatus::kReportFailed);
  EXPECT_LT(s.counts.processed, 100);
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
  const InputCheck fine = checkRunInputs(src.path(), dst.path(), rules);
  EXPECT_TRUE(fine.ok);
  EXPECT_EQ(fine.count, 1);
}

// More names than one sorting batch, repeated, in shuffled order, with bytes above 0x7F (which
// sort after ASCII), an embedded NUL and an entry longer than a block of names.
TEST(RunListing, SortsManyNamesInByteOrderWithoutRepeats) {
  TempDir src;
  std::vector<std::string> entries;
  for (int i = 0; i < 40000; ++i) {
    char name[40];
    (void)std::snprintf(name, sizeof name, "SUBJ-%09d-TP.an2", (i * 7919) % 30000);
    entries.emplace_back(name);
  }
  entries.emplace_back("\xC3\xA9t\xC3\xA9.an2");
  entries.emplace_back(std::string("nul\0inside.an2", 14));
  entries.emplace_back("elsewhere/" + std::string(70000, 'x') + ".an2");
  std::shuffle(entries.begin(), entries.end(), std::mt19937(7));
  // Each entry names itself: one in the folder by its name, the one elsewhere as written.
  std::vector<std::string> expected = entries;
  std::sort(expected.begin(), expected.end());
  expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
  std::vector<std::string> names;
  ASSERT_TRUE(resolveListedFiles(src.path() + "/", entries, names));
  ASSERT_EQ(names.size(), expected.size());
  EXPECT_TRUE(names == expected);
}

TEST(RunListing, EveryNthNameAndReleasedNamesLeaveTheRestReadable) {
  detail::FileListing listing;
  for (int i = 49999; i >= 0; --i) {
    char name[16];
    (void)std::snprintf(name, sizeof name, "f%d", 100000 + i);
    listing.add(name);
  }
  listing.finish(false);
  const detail::FileListing shard = listing.every(1, 3);
  ASSERT_EQ(shard.size(), 16667U);
  EXPECT_EQ(shard[0], "f100001");
  EXPECT_EQ(shard[16666], "f149999");
  listing.release(45000);
  EXPECT_EQ(listing[45000], "f145000");
  EXPECT_EQ(listing[49999], "f149999");
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

// ---- The destination folder and what a hostile one may hold ----

TEST_F(ConversionRunTest, DestinationThatIsTheSourceUnderAnotherSpellingIsRefused) {
  std::filesystem::create_directory_symlink(src.path(), ruleDir / "link");
  writeFile(ruleDir / "r.ntx", "Delete Records of Type|14|||\n");
  const std::string before = readFile(src / "a.nst");
  const std::string leaf = std::filesystem::path(src.path()).filename().string();
  for (const std::string& dest :
       {src.path() + "/", src.path() + "/.", src.path() + "/../" + leaf, ruleDir / "link"}) {
    EXPECT_EQ(checkRunInputs(src.path(), dest, ruleDir / "r.ntx").message,
              "Source and Destination paths cannot be the same")
        << dest;
    FakeUi local;
    RunSummary s;
    EXPECT_EQ(
        runConversion(src.path() + "/", withTrailingSlash(dest), ruleDir / "r.ntx", 5, local, s),
        RunStatus::kRefused)
        << dest;
  }
  EXPECT_EQ(readFile(src / "a.nst"), before);
  // A destination inside the source is never listed (folders are not), so it is accepted.
  std::filesystem::create_directory(src / "out");
  ASSERT_EQ(convertCommand(src.path(), src / "out", ruleDir / "r.ntx", ui, summary),
            ConvertStatus::kCompleted);
  EXPECT_EQ(summary.counts.processed, 5);
  EXPECT_EQ(readFile(src / "a.nst"), before);
}

TEST(RunDestination, OutputsNeverLandInTheSourceFolderInsideTheDestination) {
  TempDir top;
  std::filesystem::create_directory(top / "in");
  TxBuilder b;
  b.type14(2, 8, 8, TxBuilder::greyImage(8, 8));
  writeFile(top / "in/a.nst", b.bytes());
  const std::string before = readFile(top / "in/a.nst");
  writeFile(top / "r.ntx",
            "Export All Biometrics|in/x|||\nDelete Records of Type|14|||\n"
            "Change Filename|in/%FILENAME%|||\n");
  FakeUi ui;
  RunSummary summary;
  ASSERT_EQ(convertCommand(top / "in", top.path(), top / "r.ntx", ui, summary),
            ConvertStatus::kCompleted);
  EXPECT_EQ(readFile(top / "in/a.nst"), before);
  EXPECT_FALSE(std::filesystem::exists(top / "in/x.BMP"));
  EXPECT_EQ(summary.counts.errors, 2);  // the export and the save
}

TEST_F(ConversionRunTest, SecondOutputOfOneNameIsAnErrorNotAReplacement) {
  ASSERT_EQ(convert("Change Filename|same|||\nChange File Extension|nst|||\n"
                    "Export All Biometrics|img|||\n"),
            ConvertStatus::kCompleted);
  EXPECT_EQ(rows(),
            (std::vector<std::string>{
                "a.nst: NIST File successfully converted",
                "b.EFT: Export not written: img.BMP already written by this run",
                "b.EFT: Not saved: same.nst already written by this run",
                "bad.an2: Invalid NIST File: the file does not start with a Type-1 record",
                "c.d.nist: Export not written: img.BMP already written by this run",
                "c.d.nist: Not saved: same.nst already written by this run",
                // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one row split over lines
                "truncated.lffs: Invalid NIST File: the length (LEN) of record 3 (Type-14), "
                "213 bytes from byte 187, runs past the end of the file (truncated at "
                "byte 360)"}));
  transaction::NistFile out;
  ASSERT_EQ(out.load(dst / "same.nst"), 0);
  std::string_view tcn;
  ASSERT_EQ(out.getFieldText(1, 9, tcn), 0);
  EXPECT_EQ(tcn, "T1");  // the first file's, not replaced by later ones
  EXPECT_EQ(summary.counts.errors, 6);
  EXPECT_EQ(summary.filesWithErrors, 4);

  // The run's own results.csv is not replaced by an output of that name.
  TempDir again;
  FakeUi local;
  RunSummary s;
  writeFile(
      ruleDir / "csv.ntx",
      "Output to CSV|TCN|%TCN%|||\nChange Filename|results|||\nChange File Extension|csv|||\n");
  ASSERT_EQ(convertCommand(src.path(), again.path(), ruleDir / "csv.ntx", local, s),
            ConvertStatus::kCompleted);
  EXPECT_EQ(readFile(again / "results.csv"), "TCN\r\nT1\r\nT2\r\nT3\r\n");
  EXPECT_EQ(s.counts.errors, 5);
}

TEST_F(ConversionRunTest, LinksInTheDestinationAreReplacedNotFollowed) {
  TempDir one;
  writeFile(one / "a.nst", transactionBytes("DOE,JOHN", "T1"));
  TempDir outside;
  writeFile(outside / "victim", "keep");
  std::vector<std::string> names = {"a.nst", "results.csv", "card.TIFF", "img_1.BMP"};
  // The report's name holds the time of the run: links for the next seconds.
  const std::time_t now = std::time(nullptr);
  for (std::time_t t = now; t < now + 4; ++t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char name[64];
    ASSERT_GT(std::strftime(name, sizeof name, "VarnelReport_%Y-%m-%d_%H-%M-%S.html", &tm), 0u);
    names.emplace_back(name);
  }
  for (const auto& n : names) std::filesystem::create_symlink(outside / "victim", dst / n);
  std::filesystem::create_directory_symlink(outside.path(), dst / "images");
  ASSERT_EQ(convert("Output to CSV|TCN|%TCN%|||\nExport To Tenprint|card|||\n"
                    "Export All Biometrics|img_%RECORD_EXPORT_COUNT%|||\n"
                    "Export All Biometrics|images/x|||\n",
                    one.path()),
            ConvertStatus::kCompleted);
  EXPECT_EQ(readFile(outside / "victim"), "keep");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outside.path()),
                          std::filesystem::directory_iterator()),
            1);
  for (const auto& n : {std::string("a.nst"), std::string("results.csv"), std::string("card.TIFF"),
                        std::string("img_1.BMP"), summary.reportPath}) {
    const std::string path = n.front() == '/' ? n : dst / n;
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path))) << n;
  }
  EXPECT_EQ(readFile(dst / "results.csv"), "TCN\r\nT1\r\n");
  EXPECT_EQ(rows().front(),
            "a.nst: Export not written: images/x.BMP leads outside the destination folder");
}

TEST_F(ConversionRunTest, StoppedRunClosesReportAndCsvForTheFilesDone) {
  ui.stopAfter = 2;
  ASSERT_EQ(convert("Output to CSV|TCN|%TCN%|||\n"), ConvertStatus::kStopped);
  EXPECT_EQ(summary.counts.processed, 2);
  EXPECT_EQ(destEntries(),
            (std::vector<std::string>{std::filesystem::path(summary.reportPath).filename().string(),
                                      "a.nst", "b.EFT", "results.csv"}));
  EXPECT_EQ(readFile(dst / "results.csv"), "TCN\r\nT1\r\nT2\r\n");
  const std::string html = readFile(summary.reportPath);
  EXPECT_TRUE(html.ends_with("</table></a></div></div></body></html>"));
  EXPECT_NE(html.find("2 processed of 5<br/>Stopped before the end of the folder<br/>Time taken"),
            std::string::npos);
  EXPECT_EQ(rows().back(), "Conversion stopped after 2 of 5 files");
}

TEST_F(ConversionRunTest, FailedWritesOfCsvAndExportsAreErrorRows) {
  std::filesystem::create_directories(dst / "results.csv");
  std::filesystem::create_directories(dst / "img.BMP");
  ASSERT_EQ(convert("Output to CSV|TCN|%TCN%|||\nExport Biometrics of Type|img|14|||\n"),
            ConvertStatus::kCompleted);
  const auto r = rows();
  EXPECT_EQ(
      std::count(r.begin(), r.end(), "a.nst: results.csv could not be written: Is a directory"), 1);
  EXPECT_EQ(
      std::count(r.begin(), r.end(), "a.nst: Export img.BMP could not be written: Is a directory"),
      1);
  EXPECT_EQ(summary.counts.errors, 2 + 3 + 3);
  EXPECT_EQ(summary.filesWithErrors, 5);
}

TEST_F(ConversionRunTest, SecondRunIntoALockedDestinationIsRefused) {
  const int fd = ::open(dst.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EXPECT_EQ(convert(""), ConvertStatus::kInvalidInput);
  ::close(fd);
  EXPECT_TRUE(std::filesystem::is_empty(dst.path()));
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_NE(ui.messages.back().find("Another conversion is writing to the destination folder"),
            std::string::npos);
  EXPECT_EQ(convert(""), ConvertStatus::kCompleted);
}

TEST_F(ConversionRunTest, TakesNamesInByteOrderWithEveryExtensionAndReportsSpecialFiles) {
  TempDir mixed;
  for (const char* n : {"b.xml", "B.int", "a.AN2K", "d.efts", "c.ebts", "x.txt"}) {
    writeFile(mixed / n, transactionBytes("DOE,JOHN", n));
  }
  ASSERT_EQ(::mkfifo((mixed / "p.nst").c_str(), 0600), 0);
  std::filesystem::create_symlink(mixed / "nowhere", mixed / "dangling.eft");
  std::filesystem::create_directory(mixed / "dir.nst");
  std::vector<std::string> names;
  ASSERT_TRUE(listTransactionFiles(mixed.path() + "/", names));
  EXPECT_EQ(names, (std::vector<std::string>{"B.int", "a.AN2K", "b.xml", "c.ebts", "d.efts",
                                             "dangling.eft", "p.nst"}));
  ASSERT_EQ(convert("", mixed.path()), ConvertStatus::kCompleted);
  EXPECT_EQ(
      rows(),
      (std::vector<std::string>{
          "B.int: NIST File successfully converted", "a.AN2K: NIST File successfully converted",
          "b.xml: NIST File successfully converted", "c.ebts: NIST File successfully converted",
          "d.efts: NIST File successfully converted", "dangling.eft: not a regular file",
          "p.nst: not a regular file"}));
  EXPECT_EQ(summary.counts.processed, 7);
  EXPECT_EQ(summary.counts.warnings, 2);
}

TEST_F(ConversionRunTest, CsvValuesWithLineBreaksStayOnTheirLine) {
  TempDir one;
  writeFile(one / "a.nst", transactionBytes("DOE\r\nJOHN\nX", "T1"));
  ASSERT_EQ(convert("Output to CSV|Name|%2.018%|||\n", one.path()), ConvertStatus::kCompleted);
  EXPECT_EQ(readFile(dst / "results.csv"), "Name\r\nDOE  JOHN X\r\n");
}

TEST(RunInputChecks, RuleFileThatCannotBeReadIsRefused) {
  TempDir src;
  TempDir dst;
  writeFile(src / "x.nst", "x");
  const std::string fifo = src / "fifo.ntx";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(checkRunInputs(src.path(), dst.path(), fifo).message,
            "Rule file cannot be read: '" + fifo + "': not a regular file");
  if (::geteuid() != 0) {  // root reads any file
    writeFile(src / "locked.ntx", "");
    ::chmod((src / "locked.ntx").c_str(), 0);
    EXPECT_EQ(checkRunInputs(src.path(), dst.path(), src / "locked.ntx").message,
              "Rule file cannot be read: '" + (src / "locked.ntx") + "': Permission denied");
  }
  FakeUi ui;
  RunSummary summary;
  EXPECT_EQ(runConversion(src.path() + "/", dst.path() + "/", fifo, 1, ui, summary),
            RunStatus::kRefused);
  EXPECT_TRUE(std::filesystem::is_empty(dst.path()));
}

}  // namespace
}  // namespace varnel::rules
