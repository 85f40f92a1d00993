// Real files: every image of the corpus's traditional transactions decodes unless its format is
// one the layer does not support; JPEG 2000 and PNG decodings match OpenJPEG's and libpng's own.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>

#include "imaging/detail/codecs.h"
#include "imaging/image_layer.h"
#include "imaging/status.h"
#include "tests/imaging/support.h"

namespace varnel::imaging {
namespace {

namespace fs = std::filesystem;
using test::asPixels;
using test::Pixels;

// Records whose images the layer cannot decode, with the reason.
struct Unsupported {
  const char* file;
  int type;  // every record of the type in that file
  const char* reason;
};
constexpr Unsupported kUnsupported[] = {
    {"nbis-an2kconvert/type_5_wvu.an2", 5, "TIFF inside a binary record"},
    {"nbis-an2kconvert/type_6_wvu.an2", 6, "TIFF inside a binary record"},
    {"nbis-an2kconvert/valid1.2.an2", 6, "512x512 grey data, fields say 800x800 1-bit"},
    {"nbis-an2kconvert/valid1.5.an2", 13, "field 999 written twice; the first holds the second"},
    {"nbis-an2kconvert/valid1.6.an2", 13, "field 999 written twice"},
    {"nbis-an2kconvert/valid1.7.an2", 14, "field 999 written twice"},
    {"nbis-an2kconvert/valid1.11.an2", 10, "field 999 written twice"},
    {"nbis-an2kconvert/valid1.11.an2", 14, "field 999 written twice"},
    {"nbis-an2kconvert/valid1.11.an2", 15, "field 999 written twice"},
    {"nbis-an2kconvert/valid1.11.an2", 16, "field 999 written twice"},
    {"nbis-an2kconvert/valid1.11.an2", 99, "CBEFF data, not an image"},
    {"nbis-an2kconvert/valid1.16.an2", 10, "field 999 written twice"},
    {"nbis-an2kconvert/valid1.16.an2", 14, "field 999 written twice"},
    {"nbis-an2kconvert/valid1.16.an2", 15, "field 999 written twice"},
    {"nbis-an2kconvert/valid1.16.an2", 16, "field 999 written twice"},
    {"nbis-an2kconvert/valid1.16.an2", 99, "CBEFF data, not an image"},
    {"nbis-an2kconvert/valid1.13.an2", 99, "CBEFF data, not an image"},
    {"nbis-an2kconvert/sign_vec.an2", 8, "vector signature"},
    {"nist-reference/type-8-sig-fax.an2", 8, "facsimile-compressed signature"},
    {"nist-biocts/AN2011/Traditional_Encoding/pass/pass-type-8-sig-fax.an2", 8,
     "facsimile-compressed signature"},
    {"jet/empty_image.eft", 10, "empty field 999"},
    {"nist-biocts/AN2013/Traditional_Encoding/pass/pass-all-supported-types.an2", 22,
     "Type 22 without fields 6 and 7"},
    {"nist-biocts/AN2013/Traditional_Encoding/pass/pass-all-supported-types.an2", 99,
     "CBEFF data, not an image"},
};

// Files the reader refuses, with the reason; every other corpus file must load.
struct Unreadable {
  const char* file;
  const char* reason;
};
constexpr Unreadable kUnreadable[] = {
    {"nist-biocts/AN2007/pass/pass-type-14_CUSTOM_multiples_14-013.an2",
     "Type-14 LEN one byte short of the record"},
    {"nist-biocts/AN2011/Traditional_Encoding/fail_validator/fail-deprecated-records.an2",
     "Types 3, 5 and 6 as bare 5-byte headers"},
};

bool isUnreadable(const std::string& rel) {
  for (const Unreadable& u : kUnreadable) {
    if (rel == u.file) return true;
  }
  return false;
}

bool isUnsupported(const std::string& rel, int type) {
  for (const Unsupported& u : kUnsupported) {
    if (rel == u.file && type == u.type) return true;
  }
  return false;
}

// Types 19 to 21 may be records without image data (field 999 absent), which is not a failure.
std::vector<std::string> corpusFiles() {
  std::vector<std::string> out;
  const fs::path root(VARNEL_CORPUS);
  std::error_code ec;
  if (!fs::is_directory(root, ec)) return out;
  for (const auto& e : fs::recursive_directory_iterator(root, ec)) {
    if (!e.is_regular_file()) continue;
    const std::string ext = e.path().extension().string();
    if (ext != ".an2" && ext != ".eft" && ext != ".nst" && ext != ".an2k" && ext != ".lffs" &&
        ext != ".nist" && ext != ".tdf") {
      continue;
    }
    out.push_back(fs::relative(e.path(), root).string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Unoptimised (sanitizer) builds decode only small images fully, the others are classified and
// measured; the optimised build decodes every one.
#ifdef NDEBUG
constexpr std::size_t kFullDecodeLimit = SIZE_MAX;
#else
constexpr std::size_t kFullDecodeLimit = 16 * 1024;
#endif

class CorpusImages : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusImages, EverySupportedImageDecodes) {
  const std::string rel = GetParam();
  transaction::NistFile f;
  const int loaded = f.load(std::string(VARNEL_CORPUS) + "/" + rel);
  if (isUnreadable(rel)) {
    EXPECT_NE(loaded, 0) << rel << " now loads: check its images and drop it from kUnreadable";
    return;
  }
  ASSERT_EQ(loaded, 0) << rel << " does not load";
  const transaction::Transaction& tx = *f.transaction();
  std::vector<int> seen(100, 0);
  for (const transaction::Record& rec : tx.records) {
    const int type = rec.type;
    const int index = seen[static_cast<std::size_t>(type)]++;
    if (!transaction::isImageType(type)) continue;
    const int dataField = transaction::imageDataFieldNumber(rec);
    if (transaction::findField(rec, dataField) == nullptr) continue;  // no image in this record
    const transaction::Field* field = transaction::findField(rec, dataField);
    const std::size_t length = field->subfields.empty() || field->subfields[0].items.empty()
                                   ? 0
                                   : field->subfields[0].items[0].value.size();
    if (length > kFullDecodeLimit && !isUnsupported(rel, type)) {
      EXPECT_GE(detectImageFormat(f, type, index), 0) << rel << " " << type << "/" << index;
      int w = 0, h = 0, d = 0;
      EXPECT_EQ(getImageInfo(f, type, index, w, h, d), kOk) << rel << " " << type << "/" << index;
      continue;
    }
    RawImage img;
    const int rc = decodeRecordImage(f, type, index, false, img);
    if (isUnsupported(rel, type)) {
      EXPECT_LT(rc, 0) << rel << " " << type << "/" << index << " now decodes";
      continue;
    }
    ASSERT_EQ(rc, kOk) << rel << " " << type << "/" << index << ": "
                       << describeRecordImage(f, type, index);
    int w = 0, h = 0, d = 0;
    ASSERT_EQ(getImageInfo(f, type, index, w, h, d), kOk) << rel << " " << type << "/" << index;
    EXPECT_EQ(img.width, w) << rel << " " << type << "/" << index;
    EXPECT_EQ(img.height, h) << rel << " " << type << "/" << index;
    EXPECT_EQ(img.pixels.size(), rawRowBytes(w, img.depth, false) * static_cast<std::size_t>(h))
        << rel << " " << type << "/" << index;
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusImages, ::testing::ValuesIn(corpusFiles()),
                         [](const ::testing::TestParamInfo<std::string>& p) {
                           std::string n;
                           for (char c : p.param)
                             n += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return n;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusImages);

TEST(CorpusPresence, CorpusIsThere) {
  ASSERT_FALSE(corpusFiles().empty()) << "corpus absent: " << VARNEL_CORPUS;
  EXPECT_GT(corpusFiles().size(), 20u);
}

// Pixels of a binary PGM or PPM file (maxval 255).
Pixels readPnm(const std::string& path, int& w, int& h, int& channels) {
  const std::string s = test::readFile(path);
  if (s.size() < 2 || s[0] != 'P' || (s[1] != '5' && s[1] != '6')) return {};
  channels = s[1] == '5' ? 1 : 3;
  std::size_t pos = 2;
  int values[3] = {0, 0, 0};
  for (int& v : values) {
    for (;;) {
      while (pos < s.size() && std::isspace(static_cast<unsigned char>(s[pos]))) ++pos;
      if (pos >= s.size() || s[pos] != '#') break;
      while (pos < s.size() && s[pos] != '\n') ++pos;  // comment line
    }
    while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
      v = v * 10 + (s[pos++] - '0');
    }
  }
  ++pos;
  w = values[0];
  h = values[1];
  return Pixels(s.begin() + static_cast<long>(pos), s.end());
}

void loadImageRecord(transaction::NistFile& f, const std::string& data) {
  test::Type14 r;
  r.type = 10;
  r.compression = "JP2";
  r.data = data;
  test::loadTagged(f, {r});
}

TEST(ReferenceDecoders, JpegTwoThousandMatchesOpjDecompress) {
  ASSERT_TRUE(test::haveTool("opj_decompress")) << "opj_decompress (libopenjp2-tools) is needed";
  for (const char* name : {"imageHeader_test.jp2", "img.jp2"}) {
    const std::string src = std::string(VARNEL_TEST_DATA) + "/imaging/" + name;
    transaction::NistFile f;
    loadImageRecord(f, test::readFile(src));
    RawImage img;
    ASSERT_EQ(decodeRecordImage(f, 10, 0, false, img), kOk) << name;
    const std::string out = test::tempPath(img.depth == 8 ? ".pgm" : ".ppm");
    int status = 0;
    test::runCommand("opj_decompress -quiet -i " + src + " -o " + out + " >/dev/null 2>&1", status);
    ASSERT_EQ(status, 0) << name;
    int w = 0, h = 0, c = 0;
    const Pixels ref = readPnm(out, w, h, c);
    std::remove(out.c_str());
    EXPECT_EQ(w, img.width) << name;
    EXPECT_EQ(h, img.height) << name;
    EXPECT_EQ(c * 8, img.depth) << name;
    EXPECT_TRUE(ref == img.pixels) << name << ": pixels differ from opj_decompress";
    // Classification follows the wavelet.
    EXPECT_EQ(detectImageFormat(f, 10, 0), std::string(name) == "img.jp2" ? 5 : 4) << name;
  }
}

TEST(ReferenceDecoders, PngRecordMatchesLibpng) {
  transaction::NistFile f;
  test::loadBytes(f, test::readFile(VARNEL_TEST_DATA "/imaging/type-17-iris.an2"));
  ASSERT_EQ(detectImageFormat(f, 17, 0), 6);
  RawImage img;
  ASSERT_EQ(decodeRecordImage(f, 17, 0, false, img), kOk);
  const std::string png = test::imageBytes(f, 17, 0);
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size()));
  image.format = PNG_FORMAT_GRAY;
  Pixels ref(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, ref.data(), 0, nullptr));
  EXPECT_EQ(img.width, 449);
  EXPECT_EQ(img.height, 312);
  EXPECT_TRUE(ref == img.pixels) << "pixels differ from libpng's";
}

TEST(ReferenceDecoders, Type6OneBitImageAndItsExports) {
  transaction::NistFile f;
  test::loadBytes(f, test::readFile(VARNEL_TEST_DATA "/imaging/type-6.an2"));
  RawImage img;
  ASSERT_EQ(decodeRecordImage(f, 6, 0, false, img), kOk);
  EXPECT_EQ(img.depth, 1);
  EXPECT_EQ(img.width, 804);
  EXPECT_EQ(recompressRecordImage(f, 6, 0, 6), kOneBitImage);
  const std::string png = test::tempPath(".png");
  ASSERT_EQ(exportRecordImage(f, 6, 0, png, kExportPng), kOk);
  RawImage back;
  ASSERT_EQ(pngDecode(asPixels(test::readFile(png)), back), kOk);
  std::remove(png.c_str());
  EXPECT_EQ(back.depth, 1);
  // Same bits, tight rows of 101 bytes against the layer's even rows of 102.
  for (int y = 0; y < img.height; y += 97) {
    EXPECT_EQ(0, std::memcmp(back.pixels.data() + y * 101, img.pixels.data() + y * 102, 101)) << y;
  }
}

}  // namespace
}  // namespace varnel::imaging
