#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace varnel::xml::detail {

/// Forward access to a document held in memory or read from a file block by block. Only the bytes
/// from the keep mark on stay available, so a file is read through a buffer about as large as the
/// largest piece the caller needs at once, which stays in the cache, instead of all at once.
class InputWindow {
 public:
  static constexpr std::uint64_t npos = ~std::uint64_t{0};

  /// Over bytes in memory, which must outlive the window.
  explicit InputWindow(std::string_view bytes) noexcept;
  /// Over an open file of `size` bytes (not owned); a file that turns out shorter ends early.
  InputWindow(int fd, std::uint64_t size);

  /// Bytes in the input (lowered when a file ends early).
  [[nodiscard]] std::uint64_t size() const noexcept { return size_; }
  /// Offset of the first `c` at or after `from`, or npos.
  std::uint64_t find(char c, std::uint64_t from);
  /// Offset of the first occurrence of `s` at or after `from`, or npos.
  std::uint64_t find(std::string_view s, std::uint64_t from);
  /// The bytes [from, to), to clipped to the size; `from` must not lie before the keep mark.
  std::string_view view(std::uint64_t from, std::uint64_t to);
  /// Bytes before `offset` are no longer needed.
  void keepFrom(std::uint64_t offset) noexcept {
    if (offset > keep_) keep_ = offset;
  }
  /// Appends the whole input to `out` (reading it again from the start for a file).
  void appendAll(std::string& out);

 private:
  // Makes bytes up to `to` present (or all that remain); false when nothing more could be read.
  bool fillTo(std::uint64_t to);
  [[nodiscard]] std::uint64_t end() const noexcept { return base_ + length_; }

  int fd_ = -1;
  const char* data_ = nullptr;  // buffered bytes; data_[0] is at offset base_
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t length_ = 0;
  std::uint64_t base_ = 0;
  std::uint64_t keep_ = 0;
  std::uint64_t size_ = 0;
};

}  // namespace varnel::xml::detail
