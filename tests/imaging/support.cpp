#include "tests/imaging/support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "tests/common/tx_builder.h"
#include "transaction/traditional.h"

namespace varnel::test {

Pixels testPicture(int width, int height, int channels, unsigned seed) {
  Pixels p(static_cast<std::size_t>(width) * height * channels);
  unsigned state = seed * 2654435761u + 1;
  std::size_t i = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < channels; ++c) {
        state = state * 1103515245u + 12345u;
        const int ridge = ((x * 7 + y * 3 + c * 40) / 5) % 2 ? 180 : 60;
        p[i++] = static_cast<std::uint8_t>((ridge + ((state >> 16) & 31) + x + y) & 0xFF);
      }
    }
  }
  return p;
}

std::string asString(const Pixels& p) { return std::string(p.begin(), p.end()); }
Pixels asPixels(const std::string& s) { return Pixels(s.begin(), s.end()); }

void loadBytes(transaction::NistFile& file, const std::string& bytes) {
  std::unique_ptr<transaction::Transaction> tx;
  ASSERT_EQ(transaction::readTraditionalBytes(bytes, tx), 0);
  file.adopt(std::move(tx));
}

void loadTagged(transaction::NistFile& file, const std::vector<Type14>& records) {
  TxBuilder b;
  b.type1({{5, "20240413"}, {8, "ORI123"}, {11, "19.69"}, {12, "19.69"}});
  for (const Type14& r : records) {
    char idc[8];
    std::snprintf(idc, sizeof idc, "%02d", r.idc);
    b.tagged(r.type, {{2, idc},
                      {3, "1"},
                      {4, "SRC"},
                      {5, "20240413"},
                      {6, r.width},
                      {7, r.height},
                      {8, r.units},
                      {9, r.scale},
                      {10, r.scale},
                      {11, r.compression},
                      {12, r.bpx},
                      {13, "2"},
                      {999, r.data}});
  }
  loadBytes(file, b.bytes());
}

void loadType4(transaction::NistFile& file, const std::string& data, int hll, int vll, int gca,
               const std::string& ntr) {
  TxBuilder b;
  TxBuilder::Fields t1 = {{5, "20240413"}, {8, "ORI123"}, {11, "19.69"}};
  if (!ntr.empty()) t1.push_back({12, ntr});
  b.type1(t1).binary(4, 0, data, hll, vll);
  loadBytes(file, b.bytes());
  if (gca != 0) {
    ASSERT_EQ(file.setFieldAt(4, 8, std::to_string(gca), 0), 0);
  }
}

std::string tempPath(const std::string& suffix) {
  static std::atomic<int> counter{0};
  const auto dir = std::filesystem::temp_directory_path();
  return (dir / ("varnel_imaging_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) +
                 suffix))
      .string();
}

std::string imageBytes(const transaction::NistFile& file, int type, int index) {
  const transaction::Transaction* tx = file.transaction();
  const int pos = file.findRecord(type, index);
  if (tx == nullptr || pos < 0) return {};
  const transaction::Record& rec = tx->records[static_cast<std::size_t>(pos)];
  const transaction::Field* f = transaction::findField(rec, transaction::imageDataFieldNumber(rec));
  if (f == nullptr) return {};
  return f->subfields[0].items[0].value;
}

std::string fieldText(const transaction::NistFile& file, int type, int field, int index) {
  std::string_view v;
  if (file.getFieldText(type, field, v, index) < 0) return {};
  return std::string(v);
}

}  // namespace varnel::test
