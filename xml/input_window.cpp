#include "xml/detail/input_window.h"

#include <algorithm>
#include <cstring>

#include "transaction/file_io.h"

namespace varnel::xml::detail {

namespace {
// Bytes read at a time: small enough for the buffer to stay in the cache.
constexpr std::size_t kBlock = std::size_t{256} * 1024;
}  // namespace

InputWindow::InputWindow(std::string_view bytes) noexcept
    : data_(bytes.data()), length_(bytes.size()), size_(bytes.size()) {}

InputWindow::InputWindow(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

bool InputWindow::fillTo(std::uint64_t to) {
  if (fd_ < 0) return false;
  to = std::min(to, size_);
  if (to <= end()) return true;
  // Drop what lies before the keep mark, then make room for the bytes wanted plus a block.
  if (keep_ > base_) {
    const auto drop = static_cast<std::size_t>(std::min<std::uint64_t>(keep_ - base_, length_));
    std::memmove(buffer_.get(), buffer_.get() + drop, length_ - drop);
    length_ -= drop;
    base_ += drop;
  }
  const auto need = static_cast<std::size_t>(to - base_);
  const std::size_t want = std::min<std::uint64_t>(need + kBlock, size_ - base_);
  if (want > capacity_) {
    const std::size_t grown = std::max(want, capacity_ * 2);
    auto fresh = std::make_unique_for_overwrite<char[]>(grown);
    if (length_ > 0) std::memcpy(fresh.get(), buffer_.get(), length_);
    buffer_ = std::move(fresh);
    capacity_ = grown;
  }
  data_ = buffer_.get();
  const std::size_t got =
      transaction::readFileAt(fd_, end(), buffer_.get() + length_, want - length_);
  length_ += got;
  if (length_ < want) size_ = end();  // the file ended early
  return end() >= to;
}

std::uint64_t InputWindow::find(char c, std::uint64_t from) {
  for (;;) {
    if (from < end()) {
      const char* start = data_ + (from - base_);
      const auto* hit = static_cast<const char*>(std::memchr(start, c, end() - from));
      if (hit != nullptr) return base_ + static_cast<std::uint64_t>(hit - data_);
      from = end();
    }
    if (from >= size_ || !fillTo(from + 1)) return npos;
  }
}

std::uint64_t InputWindow::find(std::string_view s, std::uint64_t from) {
  if (s.empty()) return from <= size_ ? from : npos;
  for (;;) {
    const std::uint64_t at = find(s.front(), from);
    if (at == npos) return npos;
    if (view(at, at + s.size()) == s) return at;
    from = at + 1;
  }
}

std::string_view InputWindow::view(std::uint64_t from, std::uint64_t to) {
  to = std::min(to, size_);
  if (to > end()) fillTo(to);
  to = std::min(to, end());
  if (from < base_ || from >= to) return {};
  return {data_ + (from - base_), static_cast<std::size_t>(to - from)};
}

void InputWindow::appendAll(std::string& out) {
  if (fd_ < 0) {
    out.append(data_, length_);
    return;
  }
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(size_));
  out.resize(start +
             transaction::readFileAt(fd_, 0, out.data() + start, static_cast<std::size_t>(size_)));
}

}  // namespace varnel::xml::detail
