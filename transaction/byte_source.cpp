#include "transaction/detail/byte_source.h"

#include <sys/stat.h>

#include <cstring>

namespace varnel::transaction::detail {

namespace {
constexpr std::size_t kBufferSize = 64 * 1024;
}

ByteSource::ByteSource(const std::string& path) {
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) return;
  struct stat st {};
  if (fstat(fileno(file_), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(file_);
    file_ = nullptr;
    return;
  }
  size_ = static_cast<std::uint64_t>(st.st_size);
  buffer_.resize(kBufferSize);
  data_ = buffer_.data();
}

ByteSource::ByteSource(std::string_view bytes) : memory_(true) {
  data_ = bytes.data();
  size_ = bytes.size();
  end_ = size_;
}

ByteSource::~ByteSource() {
  if (file_ != nullptr) std::fclose(file_);
}

int ByteSource::refillAndGet() {
  if (memory_ || file_ == nullptr) return -1;
  if (std::fseek(file_, static_cast<long>(pos_), SEEK_SET) != 0) return -1;
  const std::size_t n = std::fread(buffer_.data(), 1, buffer_.size(), file_);
  base_ = pos_;
  end_ = pos_ + n;
  if (n == 0) return -1;
  return static_cast<std::uint8_t>(data_[pos_++ - base_]);
}

bool ByteSource::seek(std::uint64_t offset) {
  if (offset > size_) return false;
  if (memory_) {
    pos_ = offset;
    return true;
  }
  if (offset >= base_ && offset <= end_) {
    pos_ = offset;
    return true;
  }
  // Outside the buffer: drop it, the next get() refills from the new offset.
  pos_ = offset;
  base_ = offset;
  end_ = offset;
  return true;
}

bool ByteSource::read(std::size_t n, std::string& out) {
  if (n > remaining()) return false;
  const std::size_t start = out.size();
  out.resize(start + n);
  char* dst = out.data() + start;
  std::size_t done = 0;
  if (pos_ < end_) {
    const std::size_t avail = static_cast<std::size_t>(end_ - pos_);
    const std::size_t take = avail < n ? avail : n;
    std::memcpy(dst, data_ + (pos_ - base_), take);
    pos_ += take;
    done = take;
  }
  if (done < n) {
    if (memory_) return false;
    if (std::fseek(file_, static_cast<long>(pos_), SEEK_SET) != 0) return false;
    const std::size_t got = std::fread(dst + done, 1, n - done, file_);
    pos_ += got;
    base_ = pos_;
    end_ = pos_;
    if (got != n - done) return false;
  }
  return true;
}

int ByteSource::takeUntilSeparator(std::string& out) {
  for (;;) {
    const char* p = data_ + (pos_ - base_);
    const char* e = data_ + (end_ - base_);
    const char* q = p;
    while (q < e && static_cast<unsigned char>(static_cast<unsigned char>(*q) - 0x1C) >= 4) ++q;
    out.append(p, static_cast<std::size_t>(q - p));
    pos_ += static_cast<std::uint64_t>(q - p);
    if (q < e) {
      ++pos_;
      return static_cast<unsigned char>(*q);
    }
    // Buffer exhausted: refill (files only) and go on scanning.
    const int c = refillAndGet();
    if (c < 0) return -1;
    if (c >= 0x1C && c <= 0x1F) return c;
    out.push_back(static_cast<char>(c));
  }
}

bool ByteSource::close() {
  if (file_ == nullptr) return true;
  const int rc = std::fclose(file_);
  file_ = nullptr;
  return rc == 0;
}

}  // namespace varnel::transaction::detail
