#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::transaction::detail {

/// A forward byte source over a file (buffered) or over memory, with the file size known up front
/// so that declared lengths can be checked against the bytes that remain before anything is
/// allocated.
class ByteSource {
 public:
  /// Opens `path` for binary reading; ok() tells whether it worked.
  explicit ByteSource(const std::string& path);
  /// Reads from memory; the bytes must outlive the source.
  explicit ByteSource(std::string_view bytes);
  ~ByteSource();
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  [[nodiscard]] bool ok() const noexcept { return file_ != nullptr || memory_; }

  /// Next byte, or -1 at the end.
  int get() {
    if (pos_ < end_) return static_cast<std::uint8_t>(data_[pos_++ - base_ + 0]);
    return refillAndGet();
  }
  /// Absolute offset of the next byte.
  [[nodiscard]] std::uint64_t tell() const noexcept { return pos_; }
  /// Bytes left before the end.
  [[nodiscard]] std::uint64_t remaining() const noexcept { return size_ > pos_ ? size_ - pos_ : 0; }
  /// Moves to an absolute offset; false when outside the source.
  bool seek(std::uint64_t offset);
  /// Appends exactly n bytes to `out`; false (and nothing promised about `out`) when fewer remain.
  bool read(std::size_t n, std::string& out);
  /// Appends bytes to `out` up to the next separator byte (0x1C to 0x1F), which is consumed and
  /// returned; returns -1 at the end of the source.
  int takeUntilSeparator(std::string& out);
  /// Closes the file; false when closing failed.
  bool close();

 private:
  int refillAndGet();

  std::FILE* file_ = nullptr;
  bool memory_ = false;
  const char* data_ = nullptr;  // buffer start; byte at absolute offset base_
  std::vector<char> buffer_;
  std::uint64_t base_ = 0;  // absolute offset of data_[0]
  std::uint64_t pos_ = 0;   // absolute offset of the next byte
  std::uint64_t end_ = 0;   // absolute offset one past the buffered bytes
  std::uint64_t size_ = 0;
};

}  // namespace varnel::transaction::detail
