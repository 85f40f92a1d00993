#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/common/files.h"
#include "tests/common/process.h"
#include "transaction/nist_file.h"

namespace varnel::test {

using Pixels = std::vector<std::uint8_t>;

/// Deterministic test picture: `width` x `height` x `channels` bytes with gradients and texture.
Pixels testPicture(int width, int height, int channels, unsigned seed = 1);

/// Bytes of a string.
std::string asString(const Pixels& p);
Pixels asPixels(const std::string& s);

/// Fields of a Type-14 record holding `data` (IDC given), 500 ppi in pixels per inch by default.
struct Type14 {
  int idc = 0;
  std::string width = "8";
  std::string height = "8";
  std::string compression = "NONE";
  std::string units = "1";
  std::string scale = "500";
  std::string bpx = "8";
  std::string data;
  int type = 14;
};

/// Loads traditional bytes into a NistFile; the test fails when they do not read.
void loadBytes(transaction::NistFile& file, const std::string& bytes);

/// A transaction with one tagged image record per entry (IDCs 00, 01, ... in order).
void loadTagged(transaction::NistFile& file, const std::vector<Type14>& records);

/// A transaction with one binary Type-4 record: data, HLL, VLL, GCA; 1.012 = `ntr` when given.
void loadType4(transaction::NistFile& file, const std::string& data, int hll, int vll, int gca,
               const std::string& ntr = "19.69");

/// A unique temporary path with the suffix (file not created).
std::string tempPath(const std::string& suffix);

/// Image data bytes of a record (field 999 or the binary data field).
std::string imageBytes(const transaction::NistFile& file, int type, int index);

/// Text of a field of the n-th record of a type ("" when missing).
std::string fieldText(const transaction::NistFile& file, int type, int field, int index = 0);

}  // namespace varnel::test
