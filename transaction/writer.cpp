// Traditional encoding writer: emits the tree exactly as it stands; LEN, CNT and separators are
// kept right by the editing operations, so nothing is computed here.
#include <cstdio>
#include <memory>
#include <string>

#include "transaction/status.h"
#include "transaction/traditional.h"

namespace varnel::transaction {

namespace {

// Collects output in memory and hands it to a file in large blocks (or keeps it all when there
// is no file). A failed write is remembered and stops further output.
class Sink {
 public:
  explicit Sink(std::FILE* file) : file_(file) {}
  void put(char c) { buffer_.push_back(c); }
  bool write(const std::string& bytes) {
    if (file_ != nullptr && bytes.size() >= kDirect) {
      if (!flush()) return false;
      return std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
    }
    buffer_.append(bytes);
    return buffer_.size() < kFlushAt || flush();
  }
  bool flush() {
    if (file_ == nullptr || buffer_.empty()) return true;
    const bool ok = std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size();
    buffer_.clear();
    return ok;
  }
  std::string& buffer() { return buffer_; }

 private:
  static constexpr std::size_t kDirect = 256 * 1024;
  static constexpr std::size_t kFlushAt = 1024 * 1024;
  std::FILE* file_;
  std::string buffer_;
};

int writeRecord(Sink& out, const Record& rec) {
  if (isTaggedType(rec.type)) {
    for (const Field& f : rec.fields) {
      if (f.tag.empty()) return -2;
      if (!out.write(f.tag)) return -2;
      for (const Subfield& sf : f.subfields) {
        for (const Item& item : sf.items) {
          if (!out.write(item.value)) return -2;
          if (item.hasUs) out.put(static_cast<char>(kUs));
        }
        if (sf.hasRs) out.put(static_cast<char>(kRs));
      }
      if (f.hasGs) out.put(static_cast<char>(kGs));
    }
    if (rec.hasFs) out.put(static_cast<char>(kFs));
    return kOk;
  }
  if (!isBinaryType(rec.type)) return -2;
  const int dataField = imageDataFieldNumber(rec);
  for (const Field& f : rec.fields) {
    // Image data is raw bytes whatever its length: data of 1, 2 or 4 bytes is not a number.
    const bool raw = f.fieldNumber == dataField;
    for (const Subfield& sf : f.subfields) {
      for (const Item& item : sf.items) {
        std::uint64_t v = 0;
        switch (raw ? -1 : item.byteCount) {
          case 1:
            if (!parseUnsigned(item.value, v)) return -41;
            out.put(static_cast<char>(v & 0xFF));
            break;
          case 2:
            if (!parseUnsigned(item.value, v)) return -31;
            out.put(static_cast<char>((v >> 8) & 0xFF));
            out.put(static_cast<char>(v & 0xFF));
            break;
          case 4:
            if (!parseUnsigned(item.value, v)) return -21;
            out.put(static_cast<char>((v >> 24) & 0xFF));
            out.put(static_cast<char>((v >> 16) & 0xFF));
            out.put(static_cast<char>((v >> 8) & 0xFF));
            out.put(static_cast<char>(v & 0xFF));
            break;
          default:
            if (!raw && item.byteCount <= 0) return -2;
            if (!out.write(item.value)) return -6;
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
  return out.flush() ? kOk : -2;
}

}  // namespace

int writeTraditional(const std::string& path, const Transaction& tx) noexcept {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return -2;
  int rc = kOk;
  try {
    Sink sink(f);
    rc = writeAll(sink, tx);
    if (rc < 0) sink.flush();  // keep what was written before the failure
  } catch (...) {
    rc = -2;
  }
  const bool closed = std::fclose(f) == 0;
  if (rc < 0) return closed ? rc : -3;
  return closed ? kOk : -4;
}

int writeTraditionalBytes(const Transaction& tx, std::string& out) noexcept {
  try {
    Sink sink(nullptr);
    const int rc = writeAll(sink, tx);
    if (rc < 0) return rc;
    out = std::move(sink.buffer());
    return kOk;
  } catch (...) {
    return -2;
  }
}

}  // namespace varnel::transaction
