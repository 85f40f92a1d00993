#pragma once

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::transaction::detail {

/// What get() and takeUntilSeparator() return at the end of the source.
inline constexpr int kEndOfInput = -1;
/// What takeSeparated() returns when no separator lies within the buffered bytes.
inline constexpr int kNoSeparatorBuffered = -1;

/// First separator byte (0x1C to 0x1F) in [p, e), or e when there is none.
inline const char* findSeparator(const char* p, const char* e) noexcept {
#ifdef __SSE2__
  // x & 0xFC == 0x1C picks exactly the four separators.
  const __m128i mask = _mm_set1_epi8(static_cast<char>(0xFC));
  const __m128i seps = _mm_set1_epi8(0x1C);
  while (e - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, mask), seps));
    if (hits != 0) return p + __builtin_ctz(static_cast<unsigned>(hits));
    p += 16;
  }
#endif
  while (p < e && static_cast<unsigned char>(static_cast<unsigned char>(*p) - 0x1C) >= 4) ++p;
  return p;
}

/// Number of `sep` bytes (a separator) in `bytes` before the first separator of a higher level
/// (a smaller byte value), or in all of it: items left in a subfield for US, subfields left in a
/// field for RS.
std::size_t countSeparatorsBefore(std::string_view bytes, std::uint8_t sep) noexcept;

/// Number of bytes equal to `b` in `bytes`.
std::size_t countByte(std::string_view bytes, std::uint8_t b) noexcept;

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

  [[nodiscard]] bool ok() const noexcept { return fd_ >= 0 || memory_; }

  /// Next byte, or kEndOfInput at the end.
  int get() {
    if (pos_ < end_) return static_cast<std::uint8_t>(data_[pos_++ - base_ + 0]);
    return refillAndGet();
  }
  /// Absolute offset of the next byte.
  [[nodiscard]] std::uint64_t tell() const noexcept { return pos_; }
  /// The bytes from the current offset to the end of what is buffered (all that remains of a
  /// source in memory); may be empty.
  [[nodiscard]] std::string_view buffered() const noexcept {
    return {data_ + (pos_ - base_), static_cast<std::size_t>(end_ - pos_)};
  }
  /// One past the last buffered byte.
  [[nodiscard]] const char* bufferEnd() const noexcept { return data_ + (end_ - base_); }
  /// Moves past n bytes of buffered() (n at most its size).
  void skip(std::size_t n) noexcept { pos_ += n; }
  /// Bytes left before the end.
  [[nodiscard]] std::uint64_t remaining() const noexcept { return size_ > pos_ ? size_ - pos_ : 0; }
  /// Moves to an absolute offset; false when outside the source.
  bool seek(std::uint64_t offset);
  /// Appends exactly n bytes to `out`; false (and nothing promised about `out`) when fewer remain.
  bool read(std::size_t n, std::string& out);
  /// Appends bytes to `out` up to the next separator byte (0x1C to 0x1F), which is consumed and
  /// returned; returns kEndOfInput at the end of the source.
  int takeUntilSeparator(std::string& out) {
    std::string_view piece;
    const int c = takeSeparated(piece);
    if (c >= 0) {
      out.append(piece);
      return c;
    }
    return takeAcrossRefill(out);
  }
  /// When a separator byte lies within the buffered bytes: sets `piece` to the bytes before it
  /// (valid until the next call that moves or refills), consumes both and returns the separator.
  /// Otherwise consumes nothing and returns kNoSeparatorBuffered; takeUntilSeparator then does the
  /// slow work.
  int takeSeparated(std::string_view& piece) {
    const char* p = data_ + (pos_ - base_);
    const char* e = data_ + (end_ - base_);
    const char* q = findSeparator(p, e);
    if (q == e) return kNoSeparatorBuffered;
    piece = std::string_view(p, static_cast<std::size_t>(q - p));
    pos_ += static_cast<std::uint64_t>(q - p) + 1;
    return static_cast<unsigned char>(*q);
  }
  /// Closes the file; false when closing failed.
  bool close();

 private:
  // Copies up to n bytes from the position on into `dst` (the buffer first, then the file);
  // returns how many arrived.
  std::size_t readInto(char* dst, std::size_t n);
  int refillAndGet();
  int takeAcrossRefill(std::string& out);

  int fd_ = -1;
  bool memory_ = false;
  const char* data_ = nullptr;  // buffer start; byte at absolute offset base_
  std::unique_ptr<char[]> buffer_;
  std::size_t bufferSize_ = 0;
  std::uint64_t base_ = 0;  // absolute offset of data_[0]
  std::uint64_t pos_ = 0;   // absolute offset of the next byte
  std::uint64_t end_ = 0;   // absolute offset one past the buffered bytes
  std::uint64_t size_ = 0;
};

}  // namespace varnel::transaction::detail
