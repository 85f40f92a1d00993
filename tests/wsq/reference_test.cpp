// Decoding and encoding against the NIST reference set and other published streams.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "imaging/wsq/wsq.h"
#include "tests/wsq/wsq_test_util.h"

namespace varnel::wsq {
namespace {

namespace fs = std::filesystem;
using test::compare;
using test::readFile;
using test::readPng;

struct Decoded {
  int rc = -1;
  int width = 0;
  int height = 0;
  int depth = 0;
  int ppi = 0;
  int lossy = 0;
  std::vector<std::uint8_t> pixels;
};

Decoded decodeBytes(std::span<const std::uint8_t> bytes) {
  Decoded d;
  d.rc = wsqDecode(bytes, d.pixels, d.width, d.height, d.depth, d.ppi, d.lossy);
  return d;
}

Decoded decodeFile(const std::string& path) { return decodeBytes(readFile(path)); }

// Decodes `wsqPath` and compares with the decoded reference PNG; returns false on failure.
bool checkAgainstReference(const std::string& wsqPath, const std::string& pngPath,
                           const std::string& label) {
  const Decoded d = decodeFile(wsqPath);
  EXPECT_EQ(d.rc, 0) << label;
  if (d.rc != 0) return false;
  const test::Grey ref = readPng(pngPath);
  EXPECT_EQ(d.width, ref.width) << label;
  EXPECT_EQ(d.height, ref.height) << label;
  const test::Diff diff = compare(d.pixels, ref.pixels);
  EXPECT_LE(diff.worst, 1) << label;
  std::printf("  %-24s %5dx%-5d worst %d  exact %.4f %%\n", label.c_str(), d.width, d.height,
              diff.worst, 100.0 * diff.exactShare);
  return diff.worst <= 1;
}

TEST(WsqReferenceDecode, BundledStreamsWithinOneGreyLevel) {
  const std::string dir = test::dataDir();
  for (const char* rate : {"225", "75"}) {
    for (const char* name : {"cmp00001", "a039"}) {
      const std::string label = std::string(rate) + "/" + name;
      checkAgainstReference(dir + "/" + rate + "/" + name + ".wsq",
                            dir + "/decoded/" + rate + "/" + name + ".png", label);
    }
  }
}

TEST(WsqReferenceDecode, BundledOtherFilterLengths) {
  const std::string dir = test::dataDir();
  for (const char* name : {"cmp00015", "cmp00010"}) {
    checkAgainstReference(dir + "/not_7_9/" + name + ".wsq",
                          dir + "/decoded/not_7_9/" + name + ".png",
                          std::string("not_7_9/") + name);
  }
}

TEST(WsqReferenceDecode, PublishedSamplesDecodeWithTheirResolution) {
  const std::string dir = test::dataDir();
  struct Case {
    const char* file;
    int width;
    int height;
    int ppi;
  };
  for (const Case& c :
       {Case{"jnbis-sample.wsq", 545, 622, 500}, Case{"libbiomeval-img.wsq", 256, 256, 500},
        Case{"jet-sample.wsq", 640, 480, -1}}) {
    const Decoded d = decodeFile(dir + "/" + c.file);
    ASSERT_EQ(d.rc, 0) << c.file;
    EXPECT_EQ(d.width, c.width) << c.file;
    EXPECT_EQ(d.height, c.height) << c.file;
    EXPECT_EQ(d.ppi, c.ppi) << c.file;
    EXPECT_EQ(d.depth, 8) << c.file;
    EXPECT_EQ(d.lossy, 1) << c.file;
  }
}

// Every stream of the shared corpus; the table goes to the test output.
TEST(WsqReferenceDecode, CorpusSweep) {
  const std::string root = test::corpusDir();
  const std::string ref = root + "/nist-wsq-reference";
  ASSERT_TRUE(test::fileExists(ref)) << ref << " absent";
  std::printf("  file                      size         worst  exact pixels\n");
  int files = 0;
  for (const char* rate : {"225", "75", "not_7_9"}) {
    std::vector<fs::path> names;
    for (const auto& e : fs::directory_iterator(ref + "/wsq/" + rate)) names.push_back(e.path());
    std::sort(names.begin(), names.end());
    for (const auto& p : names) {
      const std::string stem = p.stem().string();
      checkAgainstReference(p.string(), ref + "/wsq_decoded/" + rate + "/" + stem + ".png",
                            std::string(rate) + "/" + stem);
      ++files;
    }
  }
  checkAgainstReference(root + "/jnbis-wsq/sample.wsq", root + "/jnbis-wsq/sample.png",
                        "jnbis-wsq/sample");
  for (const char* other : {"biomsharp/fingerprint_01.wsq", "jet/sample.wsq",
                            "jet/image_not_provided.wsq", "libbiomeval/img.wsq"}) {
    const Decoded d = decodeFile(root + "/" + other);
    EXPECT_EQ(d.rc, 0) << other;
    std::printf("  %-24s %5dx%-5d decoded, ppi %d\n", other, d.width, d.height, d.ppi);
  }
  EXPECT_EQ(files, 58);
}

// Encoding an original at the reference rate gives the reference quantization and frame.
struct EncodeResult {
  double worstQz = 0.0;  // relative
  int worstSubband = -1;
  int zeroMismatch = 0;
  double sizeDelta = 0.0;  // relative
  WsqInfo mine;
  WsqInfo theirs;
};

bool encodeAgainstReference(const std::string& original, const std::string& refWsq, float rate,
                            const std::string& label, EncodeResult& r) {
  const test::Grey img = readPng(original);
  EXPECT_FALSE(img.pixels.empty()) << label;
  if (img.pixels.empty()) return false;
  std::vector<std::uint8_t> stream;
  EXPECT_EQ(wsqEncode(rate, img.pixels, img.width, img.height, stream), 0) << label;
  const auto ref = readFile(refWsq);
  EXPECT_EQ(wsqReadInfo(stream, r.mine), 0) << label;
  EXPECT_EQ(wsqReadInfo(ref, r.theirs), 0) << label;
  for (std::size_t k = 0; k < 64; ++k) {
    const float a = r.mine.q[k];
    const float b = r.theirs.q[k];
    if ((a == 0.0F) != (b == 0.0F)) {
      ++r.zeroMismatch;
      continue;
    }
    if (b == 0.0F) continue;
    const double eq = std::fabs(static_cast<double>(a) - b) / b;
    const double ez = std::fabs(static_cast<double>(r.mine.z[k]) - r.theirs.z[k]) / r.theirs.z[k];
    const double e = std::max(eq, ez);
    if (e > r.worstQz) {
      r.worstQz = e;
      r.worstSubband = static_cast<int>(k);
    }
  }
  r.sizeDelta = (static_cast<double>(stream.size()) - static_cast<double>(ref.size())) /
                static_cast<double>(ref.size());
  // With the same quantization, the two streams decode to nearly the same pixels; a fault in
  // the entropy-coded data would not.
  const Decoded mine = decodeBytes(stream);
  const Decoded theirs = decodeBytes(ref);
  EXPECT_EQ(mine.rc, 0) << label;
  if (mine.rc == 0 && theirs.rc == 0 && mine.pixels.size() == theirs.pixels.size()) {
    double sum = 0.0;
    for (std::size_t i = 0; i < mine.pixels.size(); ++i)
      sum += std::abs(mine.pixels[i] - theirs.pixels[i]);
    EXPECT_LT(sum / static_cast<double>(mine.pixels.size()), 0.5) << label;
  }
  EXPECT_EQ(r.zeroMismatch, 0) << label;
  EXPECT_LE(r.worstQz, 0.0005) << label << " subband " << r.worstSubband;
  EXPECT_LE(std::fabs(r.sizeDelta), 0.01) << label;
  EXPECT_FLOAT_EQ(r.mine.mShift, r.theirs.mShift) << label;
  EXPECT_FLOAT_EQ(r.mine.rScale, r.theirs.rScale) << label;
  EXPECT_EQ(r.mine.width, r.theirs.width) << label;
  EXPECT_EQ(r.mine.height, r.theirs.height) << label;
  std::printf(
      "  %-16s %4.2f bpp  Q/Z worst %.4f %% (subband %d)  size %+.3f %%  m_shift %g/%g  "
      "r_scale %g/%g\n",
      label.c_str(), static_cast<double>(rate), 100.0 * r.worstQz, r.worstSubband,
      100.0 * r.sizeDelta, static_cast<double>(r.mine.mShift), static_cast<double>(r.theirs.mShift),
      static_cast<double>(r.mine.rScale), static_cast<double>(r.theirs.rScale));
  return true;
}

TEST(WsqReferenceEncode, BundledOriginalsMatchReferenceQuantization) {
  const std::string dir = test::dataDir();
  for (const char* name : {"cmp00001", "a039", "cmp00008"}) {
    for (auto [rate, folder] : {std::pair{2.25F, "225"}, std::pair{0.75F, "75"}}) {
      EncodeResult r;
      encodeAgainstReference(dir + "/input/" + name + ".png",
                             dir + "/" + folder + "/" + name + ".wsq", rate, name, r);
    }
  }
}

TEST(WsqReferenceEncode, CorpusSweep) {
  const std::string ref = test::corpusDir() + "/nist-wsq-reference";
  ASSERT_TRUE(test::fileExists(ref)) << ref << " absent";
  std::vector<fs::path> names;
  for (const auto& e : fs::directory_iterator(ref + "/input")) names.push_back(e.path());
  std::sort(names.begin(), names.end());
  for (const auto& p : names) {
    const std::string stem = p.stem().string();
    for (auto [rate, folder] : {std::pair{2.25F, "225"}, std::pair{0.75F, "75"}}) {
      EncodeResult r;
      encodeAgainstReference(p.string(), ref + "/wsq/" + folder + "/" + stem + ".wsq", rate, stem,
                             r);
    }
  }
}

}  // namespace
}  // namespace varnel::wsq
