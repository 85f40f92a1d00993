#include "transaction/field_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/files.h"

namespace {

using varnel::transaction::codeDefinitions;
using varnel::transaction::fieldDefinitions;

// Rows of a CSV file (quoted cells may hold commas, quotes and line breaks).
std::vector<std::vector<std::string>> readCsv(const std::string& path) {
  std::string text = varnel::test::readFile(path);
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string cell;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        cell += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cell += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row.push_back(std::move(cell));
      cell.clear();
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      row.push_back(std::move(cell));
      cell.clear();
      rows.push_back(std::move(row));
      row.clear();
    } else {
      cell += c;
    }
  }
  if (!cell.empty() || !row.empty()) {
    row.push_back(std::move(cell));
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

const std::string kMrt = std::string(VARNEL_CORPUS) + "/../reference/ansi-nist-xml/MRT/";

// The checked-in table is the CSV, row for row: a regenerated or hand-edited table that drifts
// from the standard's definitions fails here.
TEST(FieldTable, MatchesTheStandardsFieldDefinitions) {
  auto rows = readCsv(kMrt + "MRT_INT-I_FieldDefinition.csv");
  ASSERT_GT(rows.size(), 1000u) << "field definition table missing";
  const auto& head = rows[0];
  auto col = [&](const char* name) {
    for (std::size_t i = 0; i < head.size(); ++i)
      if (head[i] == name) return i;
    ADD_FAILURE() << "no column " << name;
    return std::size_t{0};
  };
  std::size_t enc = col("TradXML"), id = col("FieldID"), mn = col("Mnemonic"),
              cond = col("CondCode"), dt = col("DataType"), path = col("XMLPath"),
              tag = col("XML Tag Name");
  auto defs = fieldDefinitions();
  std::size_t k = 0;
  for (std::size_t r = 1; r < rows.size(); ++r) {
    if (rows[r].size() <= path || trim(rows[r][enc]).empty()) continue;
    ASSERT_LT(k, defs.size());
    const auto& d = defs[k++];
    EXPECT_EQ(d.encodings, trim(rows[r][enc])) << "row " << r;
    EXPECT_EQ(d.fieldId, trim(rows[r][id])) << "row " << r;
    EXPECT_EQ(d.mnemonic, trim(rows[r][mn])) << "row " << r;
    EXPECT_EQ(d.condition, trim(rows[r][cond])) << "row " << r;
    EXPECT_EQ(d.dataType, trim(rows[r][dt])) << "row " << r;
    EXPECT_EQ(d.xmlTag, trim(rows[r][tag])) << "row " << r;
    EXPECT_EQ(d.xmlPath, trim(rows[r][path])) << "row " << r;
  }
  EXPECT_EQ(k, defs.size());

  auto codes = readCsv(kMrt + "MRT_INT-I_LookupCodes.csv");
  std::size_t n = 0;
  for (std::size_t r = 1; r < codes.size(); ++r)
    if (codes[r].size() > 1 && !trim(codes[r][0]).empty()) {
      ASSERT_LT(n, codeDefinitions().size());
      EXPECT_EQ(codeDefinitions()[n].code, trim(codes[r][1])) << "code row " << r;
      ++n;
    }
  EXPECT_EQ(n, codeDefinitions().size());
}

TEST(FieldTable, LooksUpFieldsAndItems) {
  using namespace varnel::transaction;
  EXPECT_EQ(fieldMnemonic(14, 13), "FGP");
  EXPECT_EQ(fieldMnemonic(1, 8), "ORI");
  EXPECT_EQ(fieldMnemonic(14, 500), "");
  const FieldDefinition* hll = findFieldDefinition(14, 6);
  ASSERT_NE(hll, nullptr);
  EXPECT_EQ(hll->maxLength, 5);
  EXPECT_NE(hll->xmlPath.find("ImageHorizontalLineLengthPixelQuantity"), std::string_view::npos);
  const FieldDefinition* fic = findItemDefinition(14, 14, "B");
  ASSERT_NE(fic, nullptr);
  EXPECT_EQ(fic->mnemonic, "FIC");
  EXPECT_EQ(findFieldDefinition(14, 1)->maxLength, 8);
}

}  // namespace
