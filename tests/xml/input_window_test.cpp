#include "xml/detail/input_window.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "tests/xml/test_support.h"
#include "transaction/status.h"

using varnel::xml::detail::InputWindow;
namespace support = varnel::xml::test;

namespace {

// An open file that is closed at the end of the test.
struct OpenFile {
  explicit OpenFile(const std::string& path) : fd(::open(path.c_str(), O_RDONLY)) {}
  ~OpenFile() {
    if (fd >= 0) ::close(fd);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int fd;
};

}  // namespace

// A file read block by block must answer like the same bytes in memory, across block edges and
// after the bytes before the keep mark have been dropped.
TEST(InputWindow, FileAnswersLikeMemoryAcrossBlocks) {
  std::mt19937 rng(9);
  std::string bytes(1'300'000, 'x');
  for (char& c : bytes) c = "ab<>-x"[rng() % 6];
  const std::string path = support::tempPath("window.bin");
  support::writeFile(path, bytes);
  OpenFile file(path);
  ASSERT_GE(file.fd, 0);
  InputWindow in(file.fd, bytes.size());
  InputWindow mem(bytes);
  std::uint64_t pos = 0;
  int steps = 0;
  while (pos < bytes.size()) {
    const std::uint64_t lt = in.find('<', pos);
    ASSERT_EQ(lt, mem.find('<', pos));
    const std::uint64_t close = in.find("->", pos);
    ASSERT_EQ(close, mem.find("->", pos));
    if (lt == InputWindow::npos) break;
    ASSERT_EQ(in.view(pos, lt + 3), mem.view(pos, lt + 3));
    // Keep only from here on; jump ahead now and then so that blocks are skipped over.
    in.keepFrom(pos);
    pos = lt + 1 + (++steps % 50 == 0 ? 70'000 : 0);
  }
  EXPECT_GT(steps, 500);
  EXPECT_EQ(in.view(bytes.size() - 5, bytes.size() + 10), bytes.substr(bytes.size() - 5));
  std::string all = "prefix:";
  in.appendAll(all);
  EXPECT_EQ(all, "prefix:" + bytes);
}

TEST(InputWindow, AFileShorterThanAnnouncedEndsEarly) {
  const std::string path = support::tempPath("short.bin");
  support::writeFile(path, "abc<def");
  OpenFile file(path);
  InputWindow in(file.fd, 1'000'000);
  EXPECT_EQ(in.find('<', 0), 3u);
  EXPECT_EQ(in.find('z', 0), InputWindow::npos);
  EXPECT_EQ(in.size(), 7u);
  EXPECT_EQ(in.view(4, 100), "def");
}

// Large image data read from a file (block by block) and from memory give the same records.
TEST(InputWindow, LargeImagesLoadTheSameFromAFileAndFromMemory) {
  support::XmlFile source;
  ASSERT_EQ(source.file.createDefault(), varnel::transaction::kOk);
  std::mt19937 rng(4);
  std::vector<std::vector<std::uint8_t>> images;
  for (std::size_t size : {300'000u, 5'000u, 700'000u, 200u}) {
    std::vector<std::uint8_t> img(size);
    for (auto& b : img) b = static_cast<std::uint8_t>(rng());
    ASSERT_EQ(source.file.appendTaggedRecord(14), varnel::transaction::kOk);
    ASSERT_EQ(source.file.replaceImageData(14, static_cast<int>(images.size()), img),
              varnel::transaction::kOk);
    images.push_back(std::move(img));
  }
  const std::string path = support::tempPath("large.xml");
  ASSERT_EQ(source.file.saveXml(path), varnel::transaction::kOk);
  // A comment holding a would-be data element, behind the text of the first image element:
  // stepped over by both readers.
  std::string text = support::readFile(path);
  const std::size_t cut = text.find("</", text.find("BinaryBase64Object>") + 300'000);
  ASSERT_NE(cut, std::string::npos);
  text.insert(cut, "<!-- <nc:BinaryBase64Object>" + std::string(2000, 'A') + " -->");
  support::writeFile(path, text);

  support::XmlFile fromFile;
  ASSERT_EQ(fromFile.file.load(path), varnel::transaction::kOk);
  const auto fromMemory = support::loadXml(text);
  for (int i = 0; i < static_cast<int>(images.size()); ++i) {
    std::string_view a;
    std::string_view b;
    ASSERT_EQ(fromFile.file.getFieldText(14, 999, a, i), varnel::transaction::kOk) << i;
    ASSERT_EQ(fromMemory->file.getFieldText(14, 999, b, i), varnel::transaction::kOk) << i;
    EXPECT_TRUE(a == b) << i;
    ASSERT_EQ(a.size(), images[i].size()) << i;
    EXPECT_TRUE(std::equal(a.begin(), a.end(), images[i].begin(), [](char x, std::uint8_t y) {
      return static_cast<std::uint8_t>(x) == y;
    })) << i;
  }
}
