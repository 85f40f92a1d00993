#include "transaction/detail/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "transaction/file_io.h"

namespace varnel::transaction::detail {

namespace {
// Files up to kWholeFile are read in one go, so that a text record is in memory whole; larger
// ones (mostly image data, read straight into the tree) go through a smaller window.
constexpr std::size_t kWholeFile = std::size_t{1024} * 1024;
constexpr std::size_t kBufferSize = std::size_t{64} * 1024;
}  // namespace

ByteSource::ByteSource(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  size_ = static_cast<std::uint64_t>(st.st_size);
  bufferSize_ = size_ <= kWholeFile ? static_cast<std::size_t>(size_) : kBufferSize;
  buffer_ = std::make_unique_for_overwrite<char[]>(bufferSize_ == 0 ? 1 : bufferSize_);
  data_ = buffer_.get();
}

ByteSource::ByteSource(std::string_view bytes) : memory_(true) {
  data_ = bytes.data();
  size_ = bytes.size();
  end_ = size_;
}

ByteSource::~ByteSource() {
  if (fd_ >= 0) ::close(fd_);
}

int ByteSource::refillAndGet() {
  // The size read at opening is the end: a file that grows meanwhile is not followed.
  if (memory_ || fd_ < 0 || pos_ >= size_) return kEndOfInput;
  const std::uint64_t left = size_ - pos_;
  const std::size_t want = left < bufferSize_ ? static_cast<std::size_t>(left) : bufferSize_;
  const std::size_t n = readFileAt(fd_, pos_, buffer_.get(), want);
  base_ = pos_;
  end_ = pos_ + n;
  if (n == 0) return kEndOfInput;
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

std::size_t ByteSource::readInto(char* dst, std::size_t n) {
  std::size_t done = 0;
  if (pos_ < end_) {
    const std::size_t avail = static_cast<std::size_t>(end_ - pos_);
    const std::size_t take = avail < n ? avail : n;
    std::memcpy(dst, data_ + (pos_ - base_), take);
    pos_ += take;
    done = take;
  }
  if (done < n && !memory_) {
    const std::size_t got = readFileAt(fd_, pos_, dst + done, n - done);
    pos_ += got;
    base_ = pos_;
    end_ = pos_;
    done += got;
  }
  return done;
}

bool ByteSource::read(std::size_t n, std::string& out) {
  if (n > remaining()) return false;
  const std::size_t start = out.size();
  std::size_t done = 0;
#if defined(__cpp_lib_string_resize_and_overwrite)
  // Image data is read straight into the string, which is not cleared first: for megabytes of
  // image data clearing costs about as much as the copy from the page cache. Only the bytes
  // that arrived are kept.
  out.resize_and_overwrite(start + n, [&](char* p, std::size_t) {
    done = readInto(p + start, n);
    return start + done;
  });
#else
  out.resize(start + n);
  done = readInto(out.data() + start, n);
#endif
  return done == n;
}

int ByteSource::takeAcrossRefill(std::string& out) {
  for (;;) {
    const char* p = data_ + (pos_ - base_);
    const char* e = data_ + (end_ - base_);
    const char* q = findSeparator(p, e);
    out.append(p, static_cast<std::size_t>(q - p));
    pos_ += static_cast<std::uint64_t>(q - p);
    if (q < e) {
      ++pos_;
      return static_cast<unsigned char>(*q);
    }
    // Buffer exhausted: refill (files only) and go on scanning.
    const int c = refillAndGet();
    if (c < 0) return kEndOfInput;
    if (c >= 0x1C && c <= 0x1F) return c;
    out.push_back(static_cast<char>(c));
  }
}

namespace {
int bitCount(unsigned v) noexcept {
  int n = 0;
  for (; v != 0; v &= v - 1) ++n;
  return n;
}
}  // namespace

std::size_t countSeparatorsBefore(std::string_view bytes, std::uint8_t sep) noexcept {
  const char* p = bytes.data();
  const char* e = p + bytes.size();
  std::size_t n = 0;
#ifdef __SSE2__
  const __m128i mask = _mm_set1_epi8(static_cast<char>(0xFC));
  const __m128i seps = _mm_set1_epi8(0x1C);
  const __m128i same = _mm_set1_epi8(static_cast<char>(sep));
  const __m128i belowSep = _mm_set1_epi8(static_cast<char>(sep - 1));
  while (e - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto any =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, mask), seps)));
    const auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, same)));
    // Separators of a higher level have smaller byte values.
    const auto below =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, belowSep), v)));
    const unsigned stop = any & below;
    if (stop != 0) {
      const unsigned before = (stop & (0u - stop)) - 1;  // bits below the first stop
      return n + static_cast<std::size_t>(bitCount(hits & before));
    }
    n += static_cast<std::size_t>(bitCount(hits));
    p += 16;
  }
#endif
  for (; p < e; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == sep) {
      ++n;
    } else if (c >= 0x1C && c < sep) {
      break;
    }
  }
  return n;
}

std::size_t countByte(std::string_view bytes, std::uint8_t b) noexcept {
  const char* p = bytes.data();
  const char* e = p + bytes.size();
  std::size_t n = 0;
#ifdef __SSE2__
  // Each match subtracts -1 from its byte lane; lanes are summed before they can wrap.
  const __m128i want = _mm_set1_epi8(static_cast<char>(b));
  while (e - p >= 16) {
    __m128i lanes = _mm_setzero_si128();
    for (int k = 0; k < 255 && e - p >= 16; ++k, p += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(v, want));
    }
    const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
    n += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
         static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  }
#endif
  for (; p < e; ++p) n += static_cast<unsigned char>(*p) == b ? 1 : 0;
  return n;
}

bool ByteSource::close() {
  if (fd_ < 0) return true;
  const int rc = ::close(fd_);
  fd_ = -1;
  return rc == 0;
}

}  // namespace varnel::transaction::detail
