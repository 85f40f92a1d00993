#pragma once

// The names of the files a run converts, in byte order, kept compactly so that the memory of a
// run does not grow by a string object and a heap block per file: the names lie one after the
// other in blocks, with a 4-byte offset per name. Names are sorted while
// they are gathered, in batches that are merged at the end, so that sorting never holds two
// copies of the listing. The run hands back the blocks of the names it has finished with
// (release), and the memory goes to what the run keeps of later files.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::rules::detail {

class FileListing {
 public:
  FileListing() = default;
  FileListing(FileListing&&) noexcept = default;
  FileListing& operator=(FileListing&&) noexcept = default;
  FileListing(const FileListing&) = delete;
  FileListing& operator=(const FileListing&) = delete;

  /// Adds a name (any order). Throws std::bad_alloc. Only before finish.
  void add(std::string_view name);
  /// Sorts the names added in byte order; with `unique` a repeated name is kept once. Throws
  /// std::bad_alloc.
  void finish(bool unique);

  /// Number of names (after finish).
  [[nodiscard]] std::size_t size() const noexcept { return offsets_.size(); }
  /// The i-th name in byte order, borrowed until release passes it or the listing goes. Safe to
  /// call from several threads while one thread releases names before every `i` being read.
  [[nodiscard]] std::string_view operator[](std::size_t i) const noexcept;
  /// Frees the blocks that hold only names before `i`; those names may no longer be read.
  void release(std::size_t i) noexcept;

  /// A listing of the names at positions first, first + step, first + 2 * step... in order.
  /// Throws std::bad_alloc.
  [[nodiscard]] FileListing every(std::size_t first, std::size_t step) const;

 private:
  struct Block {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
    std::size_t used = 0;
  };
  // Names in one sorted order, each after its 4-byte length, read front to back; each block is
  // freed once read.
  struct Run {
    std::vector<Block> blocks;
    std::size_t count = 0;
    std::size_t block = 0;
    std::size_t pos = 0;
    [[nodiscard]] bool done() const noexcept { return block >= blocks.size(); }
    [[nodiscard]] std::string_view head() const noexcept;
    void next() noexcept;
  };

  // Appends `bytes` to the last block (a new one when they do not fit); returns their offset.
  static std::size_t append(std::vector<Block>& blocks, std::string_view bytes,
                            std::string_view more = {});
  void flushBatch();
  void appendSorted(std::string_view name);

  std::vector<std::string> batch_;
  std::vector<Run> runs_;
  std::vector<Block> blocks_;
  std::vector<std::size_t> blockFirst_;  // index of the first name of each block
  std::vector<std::uint32_t> offsets_;   // of each name in its block
  std::size_t released_ = 0;             // blocks freed
};

}  // namespace varnel::rules::detail
