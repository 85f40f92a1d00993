// Randomised editing: after every step the Transaction is written and read back, and must be the
// same tree, with every LEN equal to the record's written size and CNT listing every record in
// order with its IDC.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/common/tx_builder.h"
#include "transaction/nist_file.h"
#include "transaction/status.h"
#include "transaction/traditional.h"

using namespace varnel::transaction;
using varnel::test::tempFile;
using varnel::test::TxBuilder;

namespace {

bool sameTree(const Transaction& a, const Transaction& b, std::string& why) {
  if (a.records.size() != b.records.size()) return why = "record count", false;
  for (std::size_t r = 0; r < a.records.size(); ++r) {
    const Record& x = a.records[r];
    const Record& y = b.records[r];
    if (x.type != y.type || x.byteTotal != y.byteTotal || x.fields.size() != y.fields.size())
      return why = "record " + std::to_string(r), false;
    for (std::size_t f = 0; f < x.fields.size(); ++f) {
      const Field& p = x.fields[f];
      const Field& q = y.fields[f];
      if (p.tag != q.tag || p.fieldNumber != q.fieldNumber || p.hasGs != q.hasGs ||
          p.byteTotal != q.byteTotal || p.subfields.size() != q.subfields.size())
        return why = "field " + p.tag + " of record " + std::to_string(r), false;
      for (std::size_t s = 0; s < p.subfields.size(); ++s) {
        const Subfield& m = p.subfields[s];
        const Subfield& n = q.subfields[s];
        if (m.hasRs != n.hasRs || m.byteTotal != n.byteTotal || m.items.size() != n.items.size())
          return why = "subfield of " + p.tag, false;
        for (std::size_t i = 0; i < m.items.size(); ++i) {
          // Binary header values are numbers: "02" is written as the byte 2 and reads back "2".
          const bool binaryValue =
              !x.hasFs && m.items[i].byteCount <= 4 && p.fieldNumber != imageDataFieldNumber(x);
          const bool sameValue =
              binaryValue ? parseLeadingInt(m.items[i].value) == parseLeadingInt(n.items[i].value)
                          : m.items[i].value == n.items[i].value;
          if (!sameValue || m.items[i].hasUs != n.items[i].hasUs ||
              m.items[i].byteCount != n.items[i].byteCount)
            return why = "item of " + p.tag + std::to_string(p.fieldNumber) + " [" +
                         m.items[i].value.substr(0, 20) + "] vs [" +
                         n.items[i].value.substr(0, 20) + "] " +
                         std::to_string(m.items[i].byteCount) + "/" +
                         std::to_string(n.items[i].byteCount),
                   false;
        }
      }
    }
  }
  return true;
}

void checkInvariants(const NistFile& nf, int step) {
  const Transaction& tx = *nf.transaction();
  std::string bytes;
  ASSERT_EQ(writeTraditionalBytes(tx, bytes), kOk) << "step " << step;
  ASSERT_EQ(tx.byteTotal, static_cast<std::int32_t>(bytes.size())) << "step " << step;
  std::unique_ptr<Transaction> back;
  ReadDetail detail;
  ASSERT_EQ(readTraditionalBytes(bytes, back, &detail), kOk)
      << "step " << step << " detail " << detail.code << ": " << detail.reason;
  std::string why;
  ASSERT_TRUE(sameTree(tx, *back, why)) << "step " << step << ": " << why;
  const Field* cnt = findField(tx.records[0], 3);
  ASSERT_NE(cnt, nullptr);
  ASSERT_EQ(cnt->subfields.size(), tx.records.size()) << "step " << step;
  ASSERT_EQ(parseLeadingInt(cnt->subfields[0].items[1].value),
            static_cast<long long>(tx.records.size()) - 1)
      << "step " << step;
  for (std::size_t i = 0; i < tx.records.size(); ++i) {
    const Record& r = tx.records[i];
    std::uint64_t len = 0;
    ASSERT_TRUE(parseUnsigned(r.fields[0].subfields[0].items[0].value, len));
    ASSERT_EQ(len, static_cast<std::uint64_t>(r.byteTotal)) << "step " << step << " record " << i;
    if (i == 0) continue;
    ASSERT_EQ(parseLeadingInt(cnt->subfields[i].items[0].value), r.type) << "step " << step;
    const Field* idc = findField(r, 2);
    ASSERT_NE(idc, nullptr);
    ASSERT_EQ(parseLeadingInt(cnt->subfields[i].items[1].value),
              parseLeadingInt(idc->subfields[0].items[0].value))
        << "step " << step << " record " << i;
  }
}

std::string randomText(std::mt19937& rng, bool separators) {
  std::uniform_int_distribution<int> len(0, 40);
  std::uniform_int_distribution<int> ch(32, 126);
  std::uniform_int_distribution<int> sep(0, 11);
  std::string s;
  const int n = len(rng);
  for (int i = 0; i < n; ++i) {
    const int k = sep(rng);
    if (separators && k == 0) {
      s.push_back('\x1E');
    } else if (separators && k == 1) {
      s.push_back('\x1F');
    } else if (k == 2) {
      s.push_back('\x1C');  // FS and GS can never be stored inside a value
    } else if (k == 3) {
      s.push_back('\x1D');
    } else {
      s.push_back(static_cast<char>(ch(rng)));
    }
  }
  return s;
}

void runSteps(unsigned seed, int steps) {
  std::mt19937 rng(seed);
  NistFile nf;
  const std::string path = tempFile(TxBuilder()
                                        .type1()
                                        .tagged(2, {{2, "00"}, {18, "A"}})
                                        .binary(4, 1, std::string(300, 'i'), 10, 30)
                                        .tagged(14, {{2, "02"}, {999, "img"}})
                                        .bytes());
  ASSERT_EQ(nf.load(path), kOk);
  std::remove(path.c_str());
  const int types[] = {1, 2, 4, 9, 10, 13, 14, 17};
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  for (int step = 0; step < steps; ++step) {
    const int type = types[pick(8)];
    const int count = nf.countRecords(type);
    const int occ = count > 0 ? pick(count) : 0;
    // Mostly ordinary fields; also LEN, the IDC or version, the image data field, numbers
    // above it, anywhere in 1..9999 and just outside that range.
    const int kind = pick(16);
    const int field = kind == 0   ? 1
                      : kind == 1 ? 2
                      : kind == 2 ? 1000 + pick(3)
                      : kind == 3 ? 999
                      : kind == 4 ? 1 + pick(9999)
                      : kind == 5 ? (pick(2) == 0 ? 0 : 10000)
                      : kind == 6 ? 9999
                                  : 3 + pick(40);
    switch (pick(8)) {
      case 0:
        (void)nf.setFieldAt(type, field, randomText(rng, false), occ);
        break;
      case 1:
        (void)nf.setFieldAt(type, field, randomText(rng, true), occ);
        break;
      case 2: {
        const int subs = nf.getSubfieldCount(type, field, occ);
        const int s = subs > 0 ? pick(subs + 1) : 0;
        const int items = subs > 0 && s < subs ? nf.getItemCount(type, field, occ, s) : 0;
        (void)nf.setItem(type, field, occ, s, items > 0 ? pick(items + 1) : 0,
                         randomText(rng, false));
        break;
      }
      case 3:
        (void)nf.deleteFieldAt(type, field, occ);
        break;
      case 4:
        if (type != 2 && nf.countRecords(type) > 0) (void)nf.deleteRecord(type, occ);
        break;
      case 5: {
        if (type == 4) break;
        Record r = makeTaggedRecord(type == 2 ? 10 : type);
        Field f;
        (void)makeTextField(r.type, 1, "0", f);
        appendField(r, f);
        (void)makeTextField(r.type, 2, std::to_string(pick(12)), f);
        appendField(r, f);
        std::int32_t g = 0;
        (void)updateRecordLength(r, g);
        const int n = static_cast<int>(nf.transaction()->records.size());
        (void)nf.insertRecord(1 + pick(n), r, pick(2) == 0);
        break;
      }
      case 6:
        if (type != 4) (void)nf.appendTaggedRecord(type);
        break;
      case 7:
        if (type != 1) (void)nf.setFieldAt(type, 2, std::to_string(pick(30)), occ);
        break;
    }
    checkInvariants(nf, step);
    if (testing::Test::HasFatalFailure()) return;
  }
}

}  // namespace

TEST(EditingInvariants, RandomStepsKeepTreeLenAndCntRight) {
  for (unsigned seed : {1u, 2u, 3u, 42u}) {
    SCOPED_TRACE(seed);
    runSteps(seed, 1500);
    if (HasFatalFailure()) return;
  }
}
