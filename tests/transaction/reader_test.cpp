#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/common/tx_builder.h"
#include "transaction/nist_file.h"
#include "transaction/status.h"
#include "transaction/traditional.h"

using namespace varnel::transaction;
using varnel::test::TxBuilder;

namespace {

int readBytes(const std::string& bytes, std::unique_ptr<Transaction>& tx) {
  return readTraditionalBytes(bytes, tx);
}

std::string be32(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

}  // namespace

TEST(TraditionalReader, ReadsTaggedAndBinaryRecordsWithTheirAccounting) {
  const std::string bytes = TxBuilder()
                                .type1()
                                .tagged(2, {{2, "00"},
                                            {18,
                                             "SMITH\x1FJOHN\x1E"
                                             "DOE"}})
                                .binary(4, 1, std::string(1000, '\x7F'), 40, 25)
                                .tagged(14, {{2, "02"}, {999, std::string("\x1C\x1D\x1E\x1F", 4)}})
                                .bytes();
  std::unique_ptr<Transaction> tx;
  ASSERT_EQ(readBytes(bytes, tx), kOk);
  ASSERT_EQ(tx->records.size(), 4u);
  EXPECT_EQ(tx->version, 400u);
  std::int64_t sum = 0;
  for (const Record& r : tx->records) {
    EXPECT_EQ(r.byteTotal, r.declaredLength) << "type " << r.type;
    EXPECT_EQ(computeRecordBytes(r), r.byteTotal) << "type " << r.type;
    sum += r.byteTotal;
  }
  EXPECT_EQ(sum, static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(tx->byteTotal, static_cast<std::int32_t>(bytes.size()));
  const Field* name = findField(tx->records[1], 18);
  ASSERT_NE(name, nullptr);
  ASSERT_EQ(name->subfields.size(), 2u);
  EXPECT_EQ(name->subfields[0].items[1].value, "JOHN");
  EXPECT_TRUE(name->subfields[0].items[0].hasUs);
  EXPECT_FALSE(name->subfields[0].items[1].hasUs);
  EXPECT_TRUE(name->subfields[0].hasRs);
  EXPECT_FALSE(name->subfields[1].hasRs);
  // Binary header values keep their widths; FGP is one item per byte.
  const Record& t4 = tx->records[2];
  ASSERT_EQ(t4.fields.size(), 9u);
  EXPECT_EQ(t4.fields[3].subfields[0].items.size(), 6u);
  EXPECT_EQ(t4.fields[3].subfields[0].items[1].value, "255");
  EXPECT_EQ(t4.fields[5].subfields[0].items[0].value, "40");
  EXPECT_EQ(t4.fields[5].subfields[0].items[0].byteCount, 2);
  EXPECT_EQ(t4.fields[8].subfields[0].items[0].byteCount, 1000);
  // Image data of a tagged image record is not parsed for separators.
  EXPECT_EQ(findField(tx->records[3], 999)->subfields[0].items[0].value.size(), 4u);
}

TEST(TraditionalReader, StatusesOfTheFirstRecord) {
  std::unique_ptr<Transaction> tx;
  EXPECT_EQ(readBytes("<?xml version=\"1.0\"?><a/>", tx), kIsXml);
  EXPECT_EQ(readBytes(TxBuilder::taggedRecord(2, {{2, "00"}}), tx), kNotType1);
  EXPECT_EQ(readBytes("1.002:0400\x1D"
                      "1.001:20\x1C",
                      tx),
            kReadFailed);
  EXPECT_EQ(readBytes("", tx), kReadFailed);
  EXPECT_EQ(tx, nullptr);
  EXPECT_EQ(readTraditional("/nonexistent/dir/file.an2", tx), -4);
  NistFile nf;
  EXPECT_EQ(nf.load("/nonexistent/dir/file.an2"), -4);
  EXPECT_EQ(nf.load(""), kMissingArgument);
}

TEST(TraditionalReader, Type1LengthOneShortFails) {
  std::string bytes = TxBuilder().type1().bytes();
  const std::size_t colon = bytes.find(':');
  const std::size_t gs = bytes.find('\x1D');
  const int len = std::stoi(bytes.substr(colon + 1, gs - colon - 1));
  bytes.replace(colon + 1, gs - colon - 1, std::to_string(len - 1));
  std::unique_ptr<Transaction> tx;
  EXPECT_EQ(readBytes(bytes, tx), kReadFailed);
  EXPECT_EQ(tx, nullptr);
}

TEST(TraditionalReader, ImageFieldMustBeFollowedByFs) {
  std::string bytes = TxBuilder().type1().tagged(14, {{2, "00"}, {999, "abcd"}}).bytes();
  ASSERT_EQ(bytes.back(), '\x1C');
  bytes.back() = '\x1D';
  std::unique_ptr<Transaction> tx;
  EXPECT_EQ(readBytes(bytes, tx), kReadFailed);
}

TEST(TraditionalReader, ExtraRecordsBeyondCntAreIgnored) {
  const std::string bytes = TxBuilder().type1().tagged(2, {{2, "00"}}).bytes() +
                            TxBuilder::taggedRecord(2, {{2, "01"}}) + "trailing garbage";
  std::unique_ptr<Transaction> tx;
  ASSERT_EQ(readBytes(bytes, tx), kOk);
  EXPECT_EQ(tx->records.size(), 2u);
}

TEST(TraditionalReader, RecordOfLengthAlone) {
  const std::string bytes = TxBuilder().type1().tagged(2, {}).bytes();
  std::unique_ptr<Transaction> tx;
  ASSERT_EQ(readBytes(bytes, tx), kOk);
  EXPECT_EQ(tx->records[1].fields.size(), 1u);
}

TEST(TraditionalReader, BinaryLengthBelowHeaderFails) {
  const std::string rec = be32(17) + std::string(13, '\0');
  std::unique_ptr<Transaction> tx;
  ReadDetail detail;
  EXPECT_EQ(readTraditionalBytes(TxBuilder().type1().raw(4, rec).bytes(), tx, &detail),
            kReadFailed);
  EXPECT_EQ(detail.code, kReadBinaryBadLength);
  EXPECT_EQ(detail.reason, "a binary record's length does not fit its header");
}

TEST(TraditionalReader, HugeDeclaredLengthFailsWithoutAllocating) {
  // 2 GB claimed by a record in a file of a few hundred bytes: refused before any allocation.
  const std::string rec = be32(0x7FFFFFF0u) + std::string(14, '\0') + std::string(100, 'x');
  std::unique_ptr<Transaction> tx;
  EXPECT_EQ(readBytes(TxBuilder().type1().raw(4, rec).bytes(), tx), kReadFailed);
  const std::string tagged =
      "14.001:2000000000\x1D"
      "14.999:abc\x1C";
  EXPECT_EQ(readBytes(TxBuilder().type1().raw(14, tagged).bytes(), tx), kReadFailed);
}

TEST(TraditionalReader, RecordTypeOutsideBothClassesFails) {
  std::unique_ptr<Transaction> tx;
  EXPECT_EQ(readBytes(TxBuilder().type1().raw(23, TxBuilder::taggedRecord(23, {})).bytes(), tx),
            kReadFailed);
}

TEST(TraditionalReader, Type7LayoutChosenByHeaderValues) {
  // Extended: zeros at offsets 13..16 and two non-zero values at 28..31.
  std::string ext = be32(40);
  ext += std::string(29, '\0');
  ext[13] = ext[14] = ext[15] = ext[16] = 0;
  ext[28] = 0;
  ext[29] = 5;
  ext[30] = 0;
  ext[31] = 6;
  ext.resize(33);
  ext += std::string(7, 'd');
  std::unique_ptr<Transaction> tx;
  ASSERT_EQ(readBytes(TxBuilder().type1().raw(7, ext).bytes(), tx), kOk);
  EXPECT_EQ(tx->records[1].fields.size(), 10u);
  EXPECT_EQ(imageDataFieldNumber(tx->records[1]), 10);

  std::string std7 = ext;
  std7[14] = 1;  // a width at offset 13: standard layout
  ASSERT_EQ(readBytes(TxBuilder().type1().raw(7, std7).bytes(), tx), kOk);
  EXPECT_EQ(tx->records[1].fields.size(), 9u);

  // A short standard record followed by another: the next record's bytes are not its header.
  std::string shortStd = be32(18) + std::string(14, '\0');
  // Its bytes 10..13 ("4.00") are where a 33-byte header would have non-zero values.
  const std::string next = TxBuilder::taggedRecord(14, {{2, "2"}});
  ASSERT_EQ(readBytes(TxBuilder().type1().raw(7, shortStd).raw(14, next).bytes(), tx), kOk);
  EXPECT_EQ(tx->records[1].fields.size(), 9u);
}

TEST(TraditionalReader, TagsKeepTheirTextAndAreBounded) {
  const std::string rec =
      "2.01:47\x1D"
      "2.002:00\x1D"
      "2.0018:NAME\x1D"
      "2.999999999:x\x1C";
  std::string fixed = rec;
  // Make the LEN right for this hand-written record.
  fixed.replace(5, 2, std::to_string(rec.size()));
  std::unique_ptr<Transaction> tx;
  ASSERT_EQ(readBytes(TxBuilder().type1().raw(2, fixed).bytes(), tx), kOk);
  EXPECT_EQ(tx->records[1].fields[0].tag, "2.01:");
  EXPECT_EQ(tx->records[1].fields[2].fieldNumber, 18);
  EXPECT_EQ(tx->records[1].fields[3].fieldNumber, 999999999);
  // Ten digits before the colon is more than a tag may hold.
  const std::string bad =
      "2.001:30\x1D"
      "2.0000000001:x\x1C";
  EXPECT_EQ(readBytes(TxBuilder().type1().raw(2, bad).bytes(), tx), kReadFailed);
}

TEST(NistFileLoad, LeadingZeroLengthIsRewritten) {
  // A Type-2 record of 123 bytes whose LEN is written with three leading zeros.
  std::string body =
      "\x1D"
      "2.002:00\x1D"
      "2.003:";
  const std::string lenTag = "2.001:";
  const std::size_t fill = 123 - lenTag.size() - 6 - body.size() - 1;
  std::string rec = lenTag + "000123" + body + std::string(fill, 'x') + "\x1C";
  ASSERT_EQ(rec.size(), 123u);
  const std::string path = varnel::test::tempFile(TxBuilder().type1().raw(2, rec).bytes());
  NistFile nf;
  ASSERT_EQ(nf.load(path), kOk);
  std::string_view len;
  ASSERT_EQ(nf.getFieldText(2, 1, len), kOk);
  EXPECT_EQ(len, "120");
  EXPECT_EQ(nf.transaction()->records[1].byteTotal, 120);
  std::remove(path.c_str());
}
