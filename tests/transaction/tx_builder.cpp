#include "tests/transaction/tx_builder.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace varnel::test {

namespace {
std::string fmt(const char* f, long v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, f, v);
  return buf;
}
}  // namespace

std::string TxBuilder::taggedRecord(int type, const Fields& fields) {
  std::string body;
  for (const auto& [num, value] : fields) {
    body += fmt("%d.", type) + fmt("%03d:", num) + value;
    body += '\x1D';
  }
  if (!body.empty()) body.back() = '\x1C';
  const std::string lenTag = fmt("%d.", type) + "001:";
  // LEN counts itself: find the fixpoint.
  std::size_t total = lenTag.size() + 1 + body.size() + (body.empty() ? 0 : 1);
  for (int i = 0; i < 4; ++i) {
    const std::string lenText = std::to_string(total);
    total = lenTag.size() + lenText.size() + 1 + body.size();
    if (body.empty()) total = lenTag.size() + lenText.size() + 1;
  }
  std::string rec = lenTag + std::to_string(total);
  rec += body.empty() ? '\x1C' : '\x1D';
  rec += body;
  return rec;
}

TxBuilder& TxBuilder::type1(Fields extra) {
  haveType1_ = true;
  type1Extra_ = std::move(extra);
  return *this;
}

TxBuilder& TxBuilder::tagged(int type, Fields fields) {
  records_.emplace_back(type, taggedRecord(type, fields));
  return *this;
}

TxBuilder& TxBuilder::binary(int type, int idc, std::string data, int hll, int vll) {
  std::string rec;
  const int header = type == 8 ? 12 : 18;
  const std::uint32_t len = static_cast<std::uint32_t>(data.size() + header);
  rec += static_cast<char>(len >> 24);
  rec += static_cast<char>(len >> 16);
  rec += static_cast<char>(len >> 8);
  rec += static_cast<char>(len);
  rec += static_cast<char>(idc);
  if (type == 8) {
    rec += '\x01';  // SIG
    rec += '\x00';  // SRT
    rec += '\x01';  // ISR
  } else {
    rec += '\x01';  // IMP
    rec += std::string("\x01\xFF\xFF\xFF\xFF\xFF", 6);
    rec += '\x01';  // ISR
  }
  rec += static_cast<char>(hll >> 8);
  rec += static_cast<char>(hll);
  rec += static_cast<char>(vll >> 8);
  rec += static_cast<char>(vll);
  if (type != 8) rec += '\x00';  // GCA
  rec += data;
  records_.emplace_back(type, rec);
  return *this;
}

TxBuilder& TxBuilder::raw(int type, std::string bytes) {
  records_.emplace_back(type, std::move(bytes));
  return *this;
}

std::string TxBuilder::bytes() const {
  std::string cnt = "1\x1F" + std::to_string(records_.size());
  int idc = 0;
  for (const auto& r : records_) {
    cnt += '\x1E' + std::to_string(r.first) + '\x1F' + fmt("%02d", idc++);
  }
  Fields f1 = {{2, "0400"}, {3, cnt}, {4, "TST"}};
  for (const auto& e : type1Extra_) f1.push_back(e);
  std::string out = taggedRecord(1, f1);
  for (const auto& r : records_) out += r.second;
  return out;
}

std::string tempFile(const std::string& bytes, const std::string& suffix) {
  static std::atomic<int> counter{0};
  const std::string path =
      "/tmp/varnel_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + suffix;
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

}  // namespace varnel::test
