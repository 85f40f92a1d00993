// Traditional encoding writer: emits the tree exactly as it stands; LEN, CNT and separators are
// kept right by the editing operations, so nothing is computed here.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "transaction/detail/short_piece.h"
#include "transaction/file_io.h"
#include "transaction/status.h"
#include "transaction/traditional.h"

namespace varnel::transaction {

namespace {

using detail::kShortPiece;
using detail::putShortPiece;

// Collects output in a fixed block and hands it on when full: to a file, or to a string when
// there is no file. Large pieces go to a file directly. A failed write is remembered, with the
// system's error number, and stops further output.
class Sink {
 public:
  Sink(int fd, std::string* memory)
      : fd_(fd), memory_(memory), block_(std::make_unique_for_overwrite<char[]>(kBlock)) {}
  void put(char c) {
    if (used_ == kBlock) flush();
    block_[used_++] = c;
  }
  bool write(const std::string& bytes) {
    const std::size_t n = bytes.size();
    if (n <= kBlock - used_) {
      std::memcpy(block_.get() + used_, bytes.data(), n);
      used_ += n;
      return ok_;
    }
    if (!flush()) return false;
    if (n >= kBlock) return emit(bytes.data(), n);
    std::memcpy(block_.get(), bytes.data(), n);
    used_ = n;
    return ok_;
  }
  /// Appends a piece and the separator byte that follows it (0 for none).
  bool piece(const std::string& bytes, char sep) {
    if (!write(bytes)) return false;
    if (sep != 0) put(sep);
    return ok_;
  }
  /// Where the next byte goes, and the end of the block: a caller may store short runs through a
  /// cursor of its own, handing it back with commit() before any other call.
  char* cursor() noexcept { return block_.get() + used_; }
  const char* limit() const noexcept { return block_.get() + kBlock; }
  void commit(const char* cursor) noexcept {
    used_ = static_cast<std::size_t>(cursor - block_.get());
  }
  bool flush() {
    const std::size_t n = used_;
    used_ = 0;
    return n == 0 ? ok_ : emit(block_.get(), n);
  }
  /// The system's error number of the failed write, 0 while every write went through.
  [[nodiscard]] int error() const noexcept { return error_; }

 private:
  static constexpr std::size_t kBlock = std::size_t{64} * 1024;

  bool emit(const char* data, std::size_t n) {
    if (!ok_) return false;
    if (fd_ >= 0) {
      if (!writeAll(fd_, data, n)) {
        error_ = errno;
        return ok_ = false;
      }
    } else {
      memory_->append(data, n);
    }
    return ok_;
  }

  int fd_;
  std::string* memory_;
  std::unique_ptr<char[]> block_;
  std::size_t used_ = 0;
  bool ok_ = true;
  int error_ = 0;
};

int writeRecord(Sink& out, const Record& rec) {
  if (isTaggedType(rec.type)) {
    // Short pieces go through a cursor held in a local, which the byte stores cannot alias, so
    // it stays in a register; anything else hands the cursor back to the sink first.
    char* o = out.cursor();
    const char* const limit = out.limit();
    auto piece = [&](const std::string& bytes, char sep) {
      const std::size_t n = bytes.size();
      if (n <= kShortPiece && limit - o > static_cast<std::ptrdiff_t>(kShortPiece)) {
        o = putShortPiece(o, bytes, sep);
        return true;
      }
      out.commit(o);
      const bool ok = out.piece(bytes, sep);
      o = out.cursor();
      return ok;
    };
    auto separator = [&](char c) {
      if (o == limit) {
        out.commit(o);
        out.put(c);
        o = out.cursor();
      } else {
        *o++ = c;
      }
    };
    for (const Field& f : rec.fields) {
      if (f.tag.empty()) {
        out.commit(o);
        return kWriteFailed;
      }
      if (!piece(f.tag, 0)) return kWriteFailed;
      for (const Subfield& sf : f.subfields) {
        for (const Item& item : sf.items) {
          if (!piece(item.value, item.hasUs ? static_cast<char>(kUs) : 0)) return kWriteFailed;
        }
        if (sf.hasRs) separator(static_cast<char>(kRs));
      }
      if (f.hasGs) separator(static_cast<char>(kGs));
    }
    if (rec.hasFs) separator(static_cast<char>(kFs));
    out.commit(o);
    return kOk;
  }
  if (!isBinaryType(rec.type)) return kWriteFailed;
  const int dataField = imageDataFieldNumber(rec);
  for (const Field& f : rec.fields) {
    // Image data is raw bytes whatever its length: data of 1, 2 or 4 bytes is not a number.
    const bool raw = f.fieldNumber == dataField;
    for (const Subfield& sf : f.subfields) {
      for (const Item& item : sf.items) {
        std::uint64_t v = 0;
        switch (raw ? -1 : item.byteCount) {
          // A value beyond its width is refused: written, it would wrap to another number.
          case 1:
            if (!fitsBinaryWidth(item.value, 1) || !parseUnsigned(item.value, v))
              return kBadByteValue;
            out.put(static_cast<char>(v & 0xFF));
            break;
          case 2:
            if (!fitsBinaryWidth(item.value, 2) || !parseUnsigned(item.value, v))
              return kBadShortValue;
            out.put(static_cast<char>((v >> 8) & 0xFF));
            out.put(static_cast<char>(v & 0xFF));
            break;
          case 4:
            if (!fitsBinaryWidth(item.value, 4) || !parseUnsigned(item.value, v))
              return kBadLongValue;
            out.put(static_cast<char>((v >> 24) & 0xFF));
            out.put(static_cast<char>((v >> 16) & 0xFF));
            out.put(static_cast<char>((v >> 8) & 0xFF));
            out.put(static_cast<char>(v & 0xFF));
            break;
          default:
            if (!raw && item.byteCount <= 0) return kWriteFailed;
            if (!out.write(item.value)) return kDataWriteFailed;
        }
      }
    }
  }
  return kOk;
}

int writeAll(Sink& out, const Transaction& tx) {
  for (const Record& rec : tx.records) {
    if (int rc = writeRecord(out, rec); rc < 0) return rc;
  }
  return out.flush() ? kOk : kWriteFailed;
}

}  // namespace

int writeTraditional(int fd, const Transaction& tx, int& err) noexcept {
  err = 0;
  try {
    Sink sink(fd, nullptr);
    const int rc = writeAll(sink, tx);
    if (rc < 0) {
      err = sink.error();
      (void)sink.flush();  // keep what was written before the failure
    }
    return rc;
  } catch (...) {
    return kWriteFailed;
  }
}

int writeTraditional(const std::string& path, const Transaction& tx) noexcept {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return kWriteFailed;
  int err = 0;
  const int rc = writeTraditional(fd, tx, err);
  const bool closed = ::close(fd) == 0;
  if (rc < 0) return closed ? rc : kCloseAfterFailure;
  return closed ? kOk : kCloseFailed;
}

int writeTraditionalBytes(const Transaction& tx, std::string& out) noexcept {
  try {
    std::string bytes;
    if (tx.byteTotal > 0) bytes.reserve(static_cast<std::size_t>(tx.byteTotal));
    Sink sink(-1, &bytes);
    const int rc = writeAll(sink, tx);
    if (rc < 0) return rc;
    out = std::move(bytes);
    return kOk;
  } catch (...) {
    return kWriteFailed;
  }
}

}  // namespace varnel::transaction
