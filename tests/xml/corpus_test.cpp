// Every XML-encoded transaction of the shared corpus loads, converts to the traditional encoding
// and back to XML without loss of well-formedness. The corpus files carry licences that do not
// allow copying them here, so they are read in place and the tests skip when the corpus is absent.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <sstream>

#include "tests/xml/test_support.h"
#include "xml/writer.h"

namespace varnel::xml::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> corpusXmlFiles() {
  std::vector<std::string> out;
  const fs::path root(VARNEL_CORPUS);
  std::error_code ec;
  if (!fs::is_directory(root, ec)) return out;
  for (const auto& e : fs::recursive_directory_iterator(root, ec)) {
    if (!e.is_regular_file()) continue;
    const std::string head = readFile(e.path().string()).substr(0, 1);
    if (head == "<") out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// "type(fields)" per record, e.g. "1(14) 2(6) 14(17)".
std::string summary(const transaction::NistFile& f) {
  std::ostringstream s;
  const auto* tx = f.transaction();
  for (std::size_t i = 0; tx && i < tx->records.size(); ++i) {
    if (i) s << ' ';
    s << tx->records[i].type << '(' << tx->records[i].fields.size() << ')';
  }
  return s.str();
}

TEST(XmlCorpus, EveryXmlTransactionLoadsConvertsAndReadsBack) {
  const auto files = corpusXmlFiles();
  if (files.empty()) GTEST_SKIP() << "corpus not present at " << VARNEL_CORPUS;
  for (const auto& path : files) {
    SCOPED_TRACE(path);
    XmlFile in;
    ASSERT_EQ(in.file.load(path), 0);
    EXPECT_TRUE(in.file.isXml());
    const std::string before = summary(in.file);
    std::cout << "[corpus] " << fs::path(path).parent_path().filename().string() << '/'
              << fs::path(path).filename().string() << ": " << before << '\n';
    ASSERT_GE(in.file.countRecords(1), 1);

    // To the traditional encoding and back.
    const std::string nist = tempPath("corpus.nist");
    ASSERT_EQ(in.file.saveTraditional(nist), 0);
    XmlFile traditional;
    ASSERT_EQ(traditional.file.load(nist), 0);
    EXPECT_FALSE(traditional.file.isXml());
    EXPECT_EQ(summary(traditional.file), before);

    // And out to XML again: well-formed, and the same record types come back.
    const std::string xml = tempPath("corpus.xml");
    ASSERT_EQ(traditional.file.saveXml(xml), 0);
    bool ran = false;
    EXPECT_TRUE(wellFormed(xml, ran));
    XmlFile again;
    ASSERT_EQ(again.file.load(xml), 0);
    std::string writtenTypes;
    for (const auto& r : traditional.file.transaction()->records) {
      const int t = r.type;
      if (t == 1 || t == 2 || t == 4 || t == 9 || t == 10 || t == 13 || t == 14 || t == 15 ||
          t == 17 || t == 20) {
        if (!writtenTypes.empty()) writtenTypes.push_back(' ');
        writtenTypes.append(std::to_string(t));
      }
    }
    EXPECT_EQ(recordTypes(again.file), writtenTypes);
  }
}

// The corpus keeps the two fingerprint images of the INTERPOL NPS sample as separate JP2 files,
// extracted from the same document by other means: the decoded 14.999 must equal them byte for
// byte, and they must survive the trip through the traditional encoding and back to XML.
TEST(XmlCorpus, InterpolFingerprintImagesMatchTheirSeparateCopies) {
  const fs::path root(VARNEL_CORPUS);
  const std::string xml = (root / "interpol/Sample-NPS-INT-ITransaction.xml").string();
  const std::string first =
      (root / "derived/jp2-from-interpol-nps/Sample-NPS_type14_first.jp2").string();
  const std::string second =
      (root / "derived/jp2-from-interpol-nps/Sample-NPS_type14_second.jp2").string();
  std::error_code ec;
  if (!fs::exists(xml, ec) || !fs::exists(first, ec) || !fs::exists(second, ec)) {
    GTEST_SKIP() << "corpus not present";
  }
  XmlFile in;
  ASSERT_EQ(in.file.load(xml), 0);
  EXPECT_EQ(field(in.file, 14, 999, 0), readFile(first));
  EXPECT_EQ(field(in.file, 14, 999, 1), readFile(second));
  EXPECT_EQ(field(in.file, 14, 11, 0), "JP2");

  const std::string nist = tempPath("nps.nist");
  ASSERT_EQ(in.file.saveTraditional(nist), 0);
  XmlFile traditional;
  ASSERT_EQ(traditional.file.load(nist), 0);
  const std::string out = tempPath("nps.xml");
  ASSERT_EQ(traditional.file.saveXml(out), 0);
  XmlFile back;
  ASSERT_EQ(back.file.load(out), 0);
  EXPECT_EQ(field(back.file, 14, 999, 0), readFile(first));
  EXPECT_EQ(field(back.file, 14, 999, 1), readFile(second));
  for (int f : {3, 5, 6, 7, 9, 10, 11, 12, 13}) {
    EXPECT_EQ(fullField(back.file, 14, f, 0), fullField(in.file, 14, f, 0)) << "14." << f;
  }
}

}  // namespace
}  // namespace varnel::xml::test
