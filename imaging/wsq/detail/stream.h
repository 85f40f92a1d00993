#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "imaging/wsq/status.h"

namespace varnel::wsq::detail {

/// Bounds-checked big-endian reader over the input stream.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) noexcept : bytes_(bytes) {}

  [[nodiscard]] int u8(int& v) noexcept {
    if (pos_ >= bytes_.size()) return kInputEndValue;
    v = bytes_[pos_++];
    return kOk;
  }
  [[nodiscard]] int u16(int& v) noexcept {
    if (bytes_.size() - pos_ < 2) return kInputEndValue;
    v = (bytes_[pos_] << 8) | bytes_[pos_ + 1];
    pos_ += 2;
    return kOk;
  }
  [[nodiscard]] int u32(std::uint32_t& v) noexcept {
    if (bytes_.size() - pos_ < 4) return kInputEndValue;
    v = (std::uint32_t{bytes_[pos_]} << 24) | (std::uint32_t{bytes_[pos_ + 1]} << 16) |
        (std::uint32_t{bytes_[pos_ + 2]} << 8) | std::uint32_t{bytes_[pos_ + 3]};
    pos_ += 4;
    return kOk;
  }
  [[nodiscard]] int block(std::size_t n, std::span<const std::uint8_t>& out) noexcept {
    if (n > bytes_.size() - pos_) return kInputEndBlock;
    out = bytes_.subspan(pos_, n);
    pos_ += n;
    return kOk;
  }
  [[nodiscard]] std::size_t pos() const noexcept { return pos_; }
  void seek(std::size_t p) noexcept { pos_ = p < bytes_.size() ? p : bytes_.size(); }
  [[nodiscard]] std::span<const std::uint8_t> bytes() const noexcept { return bytes_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

/// Big-endian writer into a caller's buffer of fixed capacity.
class ByteWriter {
 public:
  ByteWriter(std::uint8_t* buffer, std::size_t capacity) noexcept : buf_(buffer), cap_(capacity) {}

  [[nodiscard]] int u8(int v) noexcept {
    if (size_ >= cap_) return kOutputFullValue;
    buf_[size_++] = static_cast<std::uint8_t>(v);
    return kOk;
  }
  [[nodiscard]] int u16(int v) noexcept {
    if (cap_ - size_ < 2) return kOutputFullValue;
    buf_[size_++] = static_cast<std::uint8_t>(v >> 8);
    buf_[size_++] = static_cast<std::uint8_t>(v);
    return kOk;
  }
  [[nodiscard]] int u32(std::uint32_t v) noexcept {
    if (cap_ - size_ < 4) return kOutputFullValue;
    for (int s = 24; s >= 0; s -= 8) buf_[size_++] = static_cast<std::uint8_t>(v >> s);
    return kOk;
  }
  [[nodiscard]] int block(std::span<const std::uint8_t> b) noexcept {
    if (b.size() > cap_ - size_) return kOutputFullBlock;
    if (!b.empty()) std::memcpy(buf_ + size_, b.data(), b.size());
    size_ += b.size();
    return kOk;
  }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }
  [[nodiscard]] std::size_t capacity() const noexcept { return cap_; }
  [[nodiscard]] std::uint8_t* data() noexcept { return buf_; }
  /// Takes n bytes written directly at data() + size() (n at most capacity() - size()).
  void grow(std::size_t n) noexcept { size_ += n; }

 private:
  std::uint8_t* buf_;
  std::size_t cap_;
  std::size_t size_ = 0;
};

}  // namespace varnel::wsq::detail
