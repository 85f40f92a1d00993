#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "tests/common/tx_builder.h"
#include "transaction/nist_file.h"
#include "transaction/status.h"
#include "transaction/traditional.h"

using namespace varnel::transaction;
using varnel::test::readFile;
using varnel::test::tempFile;
using varnel::test::TxBuilder;

TEST(TraditionalWriter, BinaryRecordHeaderBytes) {
  const std::string bytes =
      TxBuilder().type1().binary(4, 1, std::string(1000, 'a'), 10, 20).bytes();
  std::unique_ptr<Transaction> tx;
  ASSERT_EQ(readTraditionalBytes(bytes, tx), kOk);
  std::string out;
  ASSERT_EQ(writeTraditionalBytes(*tx, out), kOk);
  EXPECT_EQ(out, bytes);
  const std::size_t t4 = out.size() - 1018;
  EXPECT_EQ(out.substr(t4, 4), std::string("\x00\x00\x03\xFA", 4));
  EXPECT_EQ(out.substr(t4 + 6, 6), std::string("\x01\xFF\xFF\xFF\xFF\xFF", 6));
}

TEST(TraditionalWriter, NonNumericBinaryValueStopsTheWriteKeepingWhatCameBefore) {
  const std::string bytes = TxBuilder().type1().binary(4, 1, "data").bytes();
  std::unique_ptr<Transaction> tx;
  ASSERT_EQ(readTraditionalBytes(bytes, tx), kOk);
  tx->records[1].fields[1].subfields[0].items[0].value = "x1";  // IDC, width 1
  const std::string path = tempFile("");
  EXPECT_EQ(writeTraditional(path, *tx), -41);
  const std::string partial = readFile(path);
  EXPECT_EQ(partial, bytes.substr(0, tx->records[0].byteTotal + 4));
  tx->records[1].fields[5].subfields[0].items[0].value = "";  // HLL, width 2
  tx->records[1].fields[1].subfields[0].items[0].value = "1";
  EXPECT_EQ(writeTraditional(path, *tx), -31);
  tx->records[1].fields[5].subfields[0].items[0].value = "0";
  tx->records[1].fields[0].subfields[0].items[0].value = "abc";  // LEN, width 4
  EXPECT_EQ(writeTraditional(path, *tx), -21);
  std::remove(path.c_str());
}

TEST(TraditionalWriter, LastFieldEndsWithFsNeverGsFs) {
  NistFile nf;
  nf.createEmpty();
  ASSERT_EQ(nf.setField(1, 2, "0400"), kOk);
  ASSERT_EQ(nf.setField(2, 5, "x"), kOk);
  std::string out;
  ASSERT_EQ(writeTraditionalBytes(*nf.transaction(), out), kOk);
  EXPECT_EQ(out.find("\x1D\x1C"), std::string::npos);
  EXPECT_EQ(out.back(), '\x1C');
}

TEST(TraditionalWriter, RefusesUnwritableRecords) {
  Transaction tx;
  tx.records.push_back(makeTaggedRecord(23));
  std::string out;
  EXPECT_EQ(writeTraditionalBytes(tx, out), -2);
  Transaction tx2;
  Record r = makeTaggedRecord(2);
  Field f;
  f.fieldNumber = 1;  // no tag
  appendField(r, std::move(f));
  tx2.records.push_back(std::move(r));
  EXPECT_EQ(writeTraditionalBytes(tx2, out), -2);
  EXPECT_EQ(writeTraditional("/nonexistent/dir/out.an2", tx), -2);
}
