// Traditional encoding reader: tagged records parsed byte by byte, binary records by their fixed
// headers, image data read in one block whose length is checked against the bytes that remain.
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "transaction/detail/byte_source.h"
#include "transaction/detail/short_text.h"
#include "transaction/status.h"
#include "transaction/traditional.h"

namespace varnel::transaction {

namespace {

thread_local int gLastDetail = 0;

using detail::ByteSource;

// How a tagged field ended.
enum class End { Gs, Fs };

// Parses a tag ("digits.digits:") from the bytes `next` returns (-1 at the end); statuses follow
// the reader's detailed codes. `len` receives the bytes taken, at most kMaxTagLength on success.
template <class Next>
int parseTag(Next&& next, std::uint64_t& type, std::uint64_t& number, std::size_t& len) {
  len = 0;
  type = 0;
  int digits = 0;
  for (;;) {
    const int c = next();
    if (c < 0) return -3;
    ++len;
    if (c == '.') break;
    if (c < '0' || c > '9') return -4;
    if (++digits > 9) return -5;
    type = type * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (digits == 0) return -4;
  number = 0;
  digits = 0;
  for (;;) {
    const int c = next();
    if (c < 0) return -6;
    ++len;
    if (c == ':') break;
    if (c < '0' || c > '9') return -7;
    if (++digits > 9) return -8;
    number = number * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (digits == 0) return -7;
  if (len > kMaxTagLength) return -8;
  return kOk;
}

// The longest input parseTag looks at before it succeeds or fails: two runs of ten bytes.
constexpr std::size_t kTagLookahead = 20;

using detail::kShortText;
static_assert(kTagLookahead > kShortText);

// A parsed tag; `text` points into the source's buffer or into `spare`, with at least
// kShortText + 1 bytes readable from its start either way, up to `readableEnd`.
struct Tag {
  std::string_view text;
  const char* readableEnd = nullptr;
  std::uint64_t type = 0;
  std::uint64_t number = 0;
  char spare[kTagLookahead] = {};
};

int readTag(ByteSource& src, Tag& t) {
  std::size_t len = 0;
  const std::string_view ahead = src.buffered();
  if (ahead.size() >= kTagLookahead) {
    // The whole tag is buffered: parse it in place.
    const char* p = ahead.data();
    std::size_t i = 0;
    const int rc = parseTag([&] { return static_cast<int>(static_cast<unsigned char>(p[i++])); },
                            t.type, t.number, len);
    src.skip(i);
    if (rc < 0) return rc;
    t.text = std::string_view(p, len);
    t.readableEnd = ahead.data() + ahead.size();
  } else {
    std::size_t n = 0;
    const int rc = parseTag(
        [&] {
          const int c = src.get();
          if (c >= 0 && n < sizeof t.spare) t.spare[n++] = static_cast<char>(c);
          return c;
        },
        t.type, t.number, len);
    if (rc < 0) return rc;
    t.text = std::string_view(t.spare, len);
    t.readableEnd = t.spare + sizeof t.spare;
  }
  return kOk;
}

// Reads the body of one tagged field into `f`, the record's fresh last field (`at` names the
// record and the field), so that nothing is moved once built. `allowed` is the number of bytes
// the record may still hold. A separator's byte is counted when the member after it is appended.
int readTaggedField(ByteSource& src, bool imageRecord, std::int64_t allowed, const TreePath& at,
                    End& end) {
  Field& f = *at.field;
  if (imageRecord && f.fieldNumber == 999) {
    const std::int64_t len = allowed - static_cast<std::int64_t>(f.tag.size()) - 1;
    if (len < 0) return -21;
    if (static_cast<std::uint64_t>(len) > src.remaining()) return -4;
    std::string bytes;
    if (!src.read(static_cast<std::size_t>(len), bytes)) return -4;
    Subfield& sf = appendEmptySubfield(at);
    appendItem({nullptr, at.record, &f, &sf}, makeDataItem(std::move(bytes)));
    const int c = src.get();
    if (c < 0) return -5;
    if (c != kFs) return -6;
    end = End::Fs;
    return kOk;
  }
  Subfield* sf = &appendEmptySubfield(at);
  for (;;) {
    std::string_view piece;
    int c = src.takeSeparated(piece);
    const TreePath atSubfield{nullptr, at.record, &f, sf};
    if (c >= 0) {
      appendNewItem(atSubfield, piece, src.bufferEnd());
    } else {
      // The item runs past the buffered bytes.
      std::string text;
      c = src.takeUntilSeparator(text);
      if (c < 0) return -2;
      appendNewItem(atSubfield, std::move(text));
    }
    if (c == kUs) {
      // A subfield of several items: size its list once from what is buffered.
      if (sf->items.size() == 1)
        sf->items.reserve(2 + detail::countSeparatorsBefore(src.buffered(), kUs));
      continue;
    }
    if (c == kRs) {
      // A field of several subfields: size its list once from what is buffered.
      if (f.subfields.size() == 1)
        f.subfields.reserve(2 + detail::countSeparatorsBefore(src.buffered(), kRs));
      sf = &appendEmptySubfield(at);
      continue;
    }
    end = c == kGs ? End::Gs : End::Fs;
    return kOk;
  }
}

// Reads the next field into a new last field of `rec`, which counts its bytes.
int readNextField(ByteSource& src, Record& rec, bool imageRecord, std::int64_t allowed, End& end) {
  Tag tag;
  if (int rc = readTag(src, tag); rc < 0) return rc;
  const TreePath atRecord{nullptr, &rec};
  Field& f = appendEmptyField(atRecord, tag.text, tag.readableEnd, static_cast<int>(tag.type),
                              static_cast<int>(tag.number));
  return readTaggedField(src, imageRecord, allowed, {nullptr, &rec, &f}, end);
}

// Sizes the field list of a text record from the field separators among the bytes already
// buffered, so that a record of thousands of fields is not moved as it grows. Only a hint: the
// list still grows if the buffer held part of the record.
void reserveFields(ByteSource& src, Record& rec) {
  if (isTaggedImageType(rec.type)) return;  // image data may hold any byte
  std::string_view ahead = src.buffered();
  const std::int64_t left = static_cast<std::int64_t>(rec.declaredLength) - rec.byteTotal;
  if (left <= 0) return;
  if (static_cast<std::uint64_t>(left) < ahead.size()) ahead = ahead.substr(0, left);
  rec.fields.reserve(rec.fields.size() + detail::countByte(ahead, kGs) + 1);
}

bool parseDeclared(const Field& f, std::int32_t& out) {
  if (f.subfields.size() != 1 || f.subfields[0].items.size() != 1) return false;
  std::uint64_t v = 0;
  const std::string& text = f.subfields[0].items[0].value;
  // Leading zeros may make the text longer than ten characters.
  std::size_t i = 0;
  while (i + 1 < text.size() && text[i] == '0') ++i;
  if (!parseUnsigned(std::string_view(text).substr(i), v)) return false;
  if (v > 0x7FFFFFFFu) return false;
  out = static_cast<std::int32_t>(v);
  return true;
}

// The record's FS is counted from the start and the GS that ended a field only once the next
// field is appended, so while fields remain the total is what the record holds so far.
int readType1(ByteSource& src, Record& rec, std::uint32_t& version) {
  rec = makeTaggedRecord(1);
  End end = End::Gs;
  // The first field decides whether this is a transaction at all.
  if (int rc = readNextField(src, rec, false, 1LL << 40, end); rc < 0) return rc;
  const Field& len = rec.fields.back();
  if (len.recordType != 1) return kNotType1;
  if (len.fieldNumber != 1) return -2;
  if (!parseDeclared(len, rec.declaredLength)) return -1;
  if (end != End::Gs) return -3;
  reserveFields(src, rec);
  if (int rc = readNextField(src, rec, false, 1LL << 40, end); rc < 0) return rc;
  const Field& ver = rec.fields.back();
  if (ver.fieldNumber != 2 || ver.subfields.size() != 1 || ver.subfields[0].items.size() != 1)
    return -2;
  if (end != End::Gs) return -4;
  {
    std::uint64_t v = 0;
    const std::string& t = ver.subfields[0].items[0].value;
    version = parseUnsigned(t, v) ? static_cast<std::uint32_t>(v)
                                  : static_cast<std::uint32_t>(parseLeadingInt(t));
  }
  while (end != End::Fs) {
    if (rec.byteTotal >= rec.declaredLength) return -1;
    if (int rc = readNextField(src, rec, false, rec.declaredLength - rec.byteTotal, end); rc < 0)
      return rc;
  }
  if (rec.byteTotal != rec.declaredLength) return -7;
  return kOk;
}

int readTaggedRecord(ByteSource& src, int type, Record& rec) {
  rec = makeTaggedRecord(type);
  const bool image = isTaggedImageType(type);
  End end = End::Gs;
  if (int rc = readNextField(src, rec, image, 1LL << 40, end); rc < 0) return rc;
  const Field& len = rec.fields.back();
  if (len.fieldNumber != 1 || len.recordType != type) return -2;
  if (!parseDeclared(len, rec.declaredLength)) return -2;
  if (end != End::Fs) reserveFields(src, rec);
  while (end != End::Fs) {
    // The FS still to come is part of the declared length.
    if (rec.byteTotal >= rec.declaredLength) return -1;
    if (int rc = readNextField(src, rec, image, rec.declaredLength - rec.byteTotal, end); rc < 0)
      return rc;
  }
  if (rec.byteTotal != rec.declaredLength) return -4;
  return kOk;
}

bool readBigEndian(ByteSource& src, int width, std::uint32_t& out) {
  std::uint32_t v = 0;
  for (int i = 0; i < width; ++i) {
    const int c = src.get();
    if (c < 0) return false;
    v = (v << 8) | static_cast<std::uint32_t>(c);
  }
  out = v;
  return true;
}

// The widest binary header value: the 11-byte field of the extended Type-7 layout.
constexpr int kWidestValue = 11;

int readBinaryRecord(ByteSource& src, int type, Record& rec) {
  static constexpr int kStandard[] = {4, 1, 1, 6, 1, 2, 2, 1};
  static constexpr int kExtended7[] = {4, 1, 1, 1, 10, 11, 2, 2, 1};
  static constexpr int kType8[] = {4, 1, 1, 1, 1, 2, 2};
  rec = makeBinaryRecord(type);

  const int* widths = kStandard;
  int count = 8;
  int header = 18;
  if (type == 8) {
    widths = kType8;
    count = 7;
    header = 12;
  } else if (type == 7) {
    const std::uint64_t start = src.tell();
    std::uint32_t len = 0;
    if (!readBigEndian(src, 4, len)) return -2;
    if (len < 18) return -17;
    std::uint32_t a = 0, b = 0, c = 0, d = 0;
    bool extended = false;
    // The extended layout's header is 33 bytes: a shorter record cannot have it, and the bytes
    // the test looks at would belong to the next record.
    if (len >= 33 && src.seek(start + 13) && readBigEndian(src, 2, a) && readBigEndian(src, 2, b) &&
        src.seek(start + 28) && readBigEndian(src, 2, c) && readBigEndian(src, 2, d)) {
      extended = a == 0 && b == 0 && c > 0 && d > 0;
    }
    if (!src.seek(start)) return -2;
    if (extended) {
      widths = kExtended7;
      count = 9;
      header = 33;
    }
  }

  const TreePath at{nullptr, &rec};
  std::uint32_t len = 0;
  for (int i = 0; i < count; ++i) {
    const int w = widths[i];
    const int fieldNo = i + 1;
    if (w <= 4) {
      std::uint32_t v = 0;
      if (!readBigEndian(src, w, v)) return i == 0 ? -2 : -(2 + i);
      if (i == 0) {
        len = v;
        if (len < static_cast<std::uint32_t>(header)) return -17;
        if (len > 0x7FFFFFFFu) return -17;
      }
      char buf[16];
      const int n = std::snprintf(buf, sizeof buf, "%u", v);
      appendField(at, makeBinaryField(type, fieldNo, std::string_view(buf, n), w));
    } else {
      // A value wider than 4 bytes: one item per byte.
      std::string bytes[kWidestValue];
      for (int k = 0; k < w; ++k) {
        const int c = src.get();
        if (c < 0) return -(2 + i);
        char buf[8];
        const int n = std::snprintf(buf, sizeof buf, "%u", static_cast<unsigned>(c));
        bytes[k].assign(buf, n);
      }
      appendField(
          at, makeBinaryField(type, fieldNo,
                              std::span<const std::string>(bytes, static_cast<std::size_t>(w)), 1));
    }
  }
  const std::uint64_t dataLen = len - static_cast<std::uint32_t>(header);
  if (dataLen > src.remaining()) return -10;
  std::string bytes;
  if (!src.read(static_cast<std::size_t>(dataLen), bytes)) return -10;
  Field data;
  (void)makeDataField(type, count + 1, std::move(bytes), false, data);
  appendField(at, std::move(data));
  rec.declaredLength = static_cast<std::int32_t>(len);
  if (rec.byteTotal != rec.declaredLength) return -4;
  return kOk;
}

int readAll(ByteSource& src, std::unique_ptr<Transaction>& out) {
  const int first = src.get();
  if (first == '<') return kIsXml;
  // An XML document may begin with the UTF-8 byte-order mark.
  if (first == 0xEF && src.get() == 0xBB && src.get() == 0xBF && src.get() == '<') return kIsXml;
  if (first < 0) return -1;
  src.seek(0);
  auto tx = std::make_unique<Transaction>();
  Record type1;
  std::uint32_t version = 0;
  if (int rc = readType1(src, type1, version); rc < 0) return rc;
  tx->version = version;
  appendRecord(*tx, std::move(type1));
  const Field* cnt = findField(tx->records[0], 3);
  if (cnt == nullptr) return -4;
  // Copy the record types first: the CNT field lives in the vector that grows below.
  std::vector<int> types;
  for (std::size_t i = 1; i < cnt->subfields.size(); ++i) {
    const Subfield& sf = cnt->subfields[i];
    if (sf.items.size() != 2) return -5;
    types.push_back(static_cast<int>(parseLeadingInt(sf.items[0].value)));
  }
  tx->records.reserve(types.size() + 1);
  for (int type : types) {
    Record rec;
    int rc = 0;
    if (isTaggedType(type)) {
      rc = readTaggedRecord(src, type, rec);
    } else if (isBinaryType(type)) {
      rc = readBinaryRecord(src, type, rec);
    } else {
      rc = -2;
    }
    if (rc < 0) return rc;
    appendRecord(*tx, std::move(rec));
  }
  (void)src.get();
  if (!src.close()) return -5;
  out = std::move(tx);
  return kOk;
}

int collapse(int rc) {
  gLastDetail = rc;
  if (rc == kOk || rc == kIsXml || rc == kNotType1) return rc;
  return kReadFailed;
}

}  // namespace

int lastReadDetail() noexcept { return gLastDetail; }

int readTraditional(const std::string& path, std::unique_ptr<Transaction>& out) noexcept {
  out.reset();
  try {
    ByteSource src(path);
    if (!src.ok()) {
      gLastDetail = kCannotOpen;
      return kCannotOpen;
    }
    return collapse(readAll(src, out));
  } catch (const std::bad_alloc&) {
    out.reset();
    return collapse(-9);
  } catch (...) {
    out.reset();
    return collapse(-9);
  }
}

int readTraditionalBytes(std::string_view bytes, std::unique_ptr<Transaction>& out) noexcept {
  out.reset();
  try {
    ByteSource src(bytes);
    return collapse(readAll(src, out));
  } catch (...) {
    out.reset();
    return collapse(-9);
  }
}

}  // namespace varnel::transaction
