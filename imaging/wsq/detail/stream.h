#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

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

/// Big-endian writer into a buffer of fixed capacity.
class ByteWriter {
 public:
  ByteWriter(std::vector<std::uint8_t>& out, std::size_t capacity) noexcept
      : out_(out), cap_(capacity) {}

  [[nodiscard]] int u8(int v) noexcept {
    if (out_.size() >= cap_) return kOutputFullValue;
    out_.push_back(static_cast<std::uint8_t>(v));
    return kOk;
  }
  [[nodiscard]] int u16(int v) noexcept {
    if (cap_ - out_.size() < 2) return kOutputFullValue;
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
    out_.push_back(static_cast<std::uint8_t>(v));
    return kOk;
  }
  [[nodiscard]] int u32(std::uint32_t v) noexcept {
    if (cap_ - out_.size() < 4) return kOutputFullValue;
    for (int s = 24; s >= 0; s -= 8) out_.push_back(static_cast<std::uint8_t>(v >> s));
    return kOk;
  }
  [[nodiscard]] int block(std::span<const std::uint8_t> b) noexcept {
    if (b.size() > cap_ - out_.size()) return kOutputFullBlock;
    out_.insert(out_.end(), b.begin(), b.end());
    return kOk;
  }
  [[nodiscard]] std::size_t size() const noexcept { return out_.size(); }
  [[nodiscard]] std::size_t capacity() const noexcept { return cap_; }
  std::vector<std::uint8_t>& buffer() noexcept { return out_; }

 private:
  std::vector<std::uint8_t>& out_;
  std::size_t cap_;
};

}  // namespace varnel::wsq::detail
