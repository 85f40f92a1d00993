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

using detail::ByteSource;

// Why a read stopped: a named cause and a few words for the operator. No code means no fault.
struct Fault {
  int code = kOk;
  const char* reason = "";
  explicit operator bool() const noexcept { return code != kOk; }
};

// How a tagged field ended.
enum class End { Gs, Fs };

// Parses a tag ("digits.digits:") from the bytes `next` returns (negative at the end). `len`
// receives the bytes taken, at most kMaxTagLength on success.
template <class Next>
Fault parseTag(Next&& next, std::uint64_t& type, std::uint64_t& number, std::size_t& len) {
  len = 0;
  type = 0;
  int digits = 0;
  for (;;) {
    const int c = next();
    if (c < 0) return {kReadTagEndsInType, "the input ends inside a tag"};
    ++len;
    if (c == '.') break;
    if (c < '0' || c > '9') return {kReadTagBadType, "a tag's record type is not a number"};
    if (++digits > 9) return {kReadTagTypeTooLong, "a tag's record type is too long"};
    type = type * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (digits == 0) return {kReadTagBadType, "a tag's record type is not a number"};
  number = 0;
  digits = 0;
  for (;;) {
    const int c = next();
    if (c < 0) return {kReadTagEndsInNumber, "the input ends inside a tag"};
    ++len;
    if (c == ':') break;
    if (c < '0' || c > '9') return {kReadTagBadNumber, "a tag's field number is not a number"};
    if (++digits > 9) return {kReadTagNumberTooLong, "a tag's field number is too long"};
    number = number * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (digits == 0) return {kReadTagBadNumber, "a tag's field number is not a number"};
  if (len > kMaxTagLength) return {kReadTagTooLong, "a tag is too long"};
  return {};
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

Fault readTag(ByteSource& src, Tag& t) {
  std::size_t len = 0;
  const std::string_view ahead = src.buffered();
  if (ahead.size() >= kTagLookahead) {
    // The whole tag is buffered: parse it in place.
    const char* p = ahead.data();
    std::size_t i = 0;
    const Fault f = parseTag([&] { return static_cast<int>(static_cast<unsigned char>(p[i++])); },
                             t.type, t.number, len);
    src.skip(i);
    if (f) return f;
    t.text = std::string_view(p, len);
    t.readableEnd = ahead.data() + ahead.size();
  } else {
    std::size_t n = 0;
    const Fault f = parseTag(
        [&] {
          const int c = src.get();
          if (c >= 0 && n < sizeof t.spare) t.spare[n++] = static_cast<char>(c);
          return c;
        },
        t.type, t.number, len);
    if (f) return f;
    t.text = std::string_view(t.spare, len);
    t.readableEnd = t.spare + sizeof t.spare;
  }
  return {};
}

// Reads the body of one tagged field into `f`, the record's fresh last field (`at` names the
// record and the field), so that nothing is moved once built. `allowed` is the number of bytes
// the record may still hold. A separator's byte is counted when the member after it is appended.
Fault readTaggedField(ByteSource& src, bool imageRecord, std::int64_t allowed, const TreePath& at,
                      End& end) {
  Field& f = *at.field;
  if (imageRecord && f.fieldNumber == 999) {
    const std::int64_t len = allowed - static_cast<std::int64_t>(f.tag.size()) - 1;
    if (len < 0) return {kReadDataNoRoom, "a record's length leaves no room for its image data"};
    const Fault pastEnd{kReadDataPastEnd, "image data run past the end of the file"};
    if (static_cast<std::uint64_t>(len) > src.remaining()) return pastEnd;
    std::string bytes;
    if (!src.read(static_cast<std::size_t>(len), bytes)) return pastEnd;
    Subfield& sf = appendEmptySubfield(at);
    appendItem({nullptr, at.record, &f, &sf}, makeDataItem(std::move(bytes)));
    const int c = src.get();
    if (c < 0) return {kReadDataUnended, "the file ends after image data"};
    if (c != kFs) return {kReadDataNotFs, "image data are not followed by a record separator"};
    end = End::Fs;
    return {};
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
      if (c < 0) return {kReadValueUnended, "the file ends inside a field"};
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
    return {};
  }
}

// Reads the next field into a new last field of `rec`, which counts its bytes.
Fault readNextField(ByteSource& src, Record& rec, bool imageRecord, std::int64_t allowed,
                    End& end) {
  Tag tag;
  if (const Fault f = readTag(src, tag)) return f;
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
Fault readType1(ByteSource& src, Record& rec, std::uint32_t& version) {
  rec = makeTaggedRecord(1);
  End end = End::Gs;
  // The first field decides whether this is a transaction at all.
  if (const Fault f = readNextField(src, rec, false, 1LL << 40, end)) return f;
  const Field& len = rec.fields.back();
  if (len.recordType != 1) return {kNotType1, "the first record is not Type 1"};
  if (len.fieldNumber != 1) return {kReadType1NoLen, "Type 1 does not begin with its length"};
  if (!parseDeclared(len, rec.declaredLength))
    return {kReadType1BadLen, "the length of Type 1 is not a number"};
  if (end != End::Gs) return {kReadType1LenEndsRecord, "Type 1 ends after its length"};
  reserveFields(src, rec);
  if (const Fault f = readNextField(src, rec, false, 1LL << 40, end)) return f;
  const Field& ver = rec.fields.back();
  if (ver.fieldNumber != 2 || ver.subfields.size() != 1 || ver.subfields[0].items.size() != 1)
    return {kReadType1NoVersion, "the second field of Type 1 is not its version"};
  if (end != End::Gs) return {kReadType1VersionEndsRecord, "Type 1 ends after its version"};
  {
    std::uint64_t v = 0;
    const std::string& t = ver.subfields[0].items[0].value;
    version = parseUnsigned(t, v) ? static_cast<std::uint32_t>(v)
                                  : static_cast<std::uint32_t>(parseLeadingInt(t));
  }
  while (end != End::Fs) {
    if (rec.byteTotal >= rec.declaredLength)
      return {kReadType1PastLen, "the fields of Type 1 run past its length"};
    if (const Fault f = readNextField(src, rec, false, rec.declaredLength - rec.byteTotal, end))
      return f;
  }
  if (rec.byteTotal != rec.declaredLength)
    return {kReadType1ShortOfLen, "the fields of Type 1 stop short of its length"};
  return {};
}

Fault readTaggedRecord(ByteSource& src, int type, Record& rec) {
  rec = makeTaggedRecord(type);
  const bool image = isTaggedImageType(type);
  End end = End::Gs;
  if (const Fault f = readNextField(src, rec, image, 1LL << 40, end)) return f;
  const Field& len = rec.fields.back();
  if (len.fieldNumber != 1 || len.recordType != type)
    return {kReadRecordNoLen, "a record does not begin with its length"};
  if (!parseDeclared(len, rec.declaredLength))
    return {kReadRecordBadLen, "a record's length is not a number"};
  if (end != End::Fs) reserveFields(src, rec);
  while (end != End::Fs) {
    // The FS still to come is part of the declared length.
    if (rec.byteTotal >= rec.declaredLength)
      return {kReadRecordPastLen, "a record's fields run past its length"};
    if (const Fault f = readNextField(src, rec, image, rec.declaredLength - rec.byteTotal, end))
      return f;
  }
  if (rec.byteTotal != rec.declaredLength)
    return {kReadRecordShortOfLen, "a record's fields stop short of its length"};
  return {};
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

// The binary header ends inside value i (0-based).
Fault headerCut(int i) {
  return {kReadBinaryHeaderCut - i, "the file ends inside a binary record's header"};
}

Fault readBinaryRecord(ByteSource& src, int type, Record& rec) {
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
  }
  const Fault badLength{kReadBinaryBadLength, "a binary record's length does not fit its header"};
  if (type == 7) {
    const std::uint64_t start = src.tell();
    std::uint32_t len = 0;
    if (!readBigEndian(src, 4, len)) return headerCut(0);
    if (len < 18) return badLength;
    std::uint32_t a = 0, b = 0, c = 0, d = 0;
    bool extended = false;
    // The extended layout's header is 33 bytes: a shorter record cannot have it, and the bytes
    // the test looks at would belong to the next record.
    if (len >= 33 && src.seek(start + 13) && readBigEndian(src, 2, a) && readBigEndian(src, 2, b) &&
        src.seek(start + 28) && readBigEndian(src, 2, c) && readBigEndian(src, 2, d)) {
      extended = a == 0 && b == 0 && c > 0 && d > 0;
    }
    if (!src.seek(start)) return headerCut(0);
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
      if (!readBigEndian(src, w, v)) return headerCut(i);
      if (i == 0) {
        len = v;
        if (len < static_cast<std::uint32_t>(header)) return badLength;
        if (len > 0x7FFFFFFFu) return badLength;
      }
      char buf[16];
      const int n = std::snprintf(buf, sizeof buf, "%u", v);
      appendField(at, makeBinaryField(type, fieldNo, std::string_view(buf, n), w));
    } else {
      // A value wider than 4 bytes: one item per byte.
      std::string bytes[kWidestValue];
      for (int k = 0; k < w; ++k) {
        const int c = src.get();
        if (c < 0) return headerCut(i);
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
  const Fault pastEnd{kReadBinaryDataPastEnd, "binary image data run past the end of the file"};
  if (dataLen > src.remaining()) return pastEnd;
  std::string bytes;
  if (!src.read(static_cast<std::size_t>(dataLen), bytes)) return pastEnd;
  Field data;
  (void)makeDataField(type, count + 1, std::move(bytes), false, data);
  appendField(at, std::move(data));
  rec.declaredLength = static_cast<std::int32_t>(len);
  if (rec.byteTotal != rec.declaredLength)
    return {kReadBinaryLengthMismatch, "a binary record's fields do not add up to its length"};
  return {};
}

Fault readAll(ByteSource& src, std::unique_ptr<Transaction>& out) {
  const Fault xml{kIsXml, "the file is XML"};
  const int first = src.get();
  if (first == '<') return xml;
  // An XML document may begin with the UTF-8 byte-order mark.
  if (first == 0xEF && src.get() == 0xBB && src.get() == 0xBF && src.get() == '<') return xml;
  if (first < 0) return {kReadEmpty, "the file is empty"};
  src.seek(0);
  auto tx = std::make_unique<Transaction>();
  Record type1;
  std::uint32_t version = 0;
  if (const Fault f = readType1(src, type1, version)) return f;
  tx->version = version;
  appendRecord(*tx, std::move(type1));
  const Field* cnt = findField(tx->records[0], 3);
  if (cnt == nullptr) return {kReadNoCnt, "Type 1 has no list of records (1.003)"};
  // Copy the record types first: the CNT field lives in the vector that grows below.
  std::vector<int> types;
  for (std::size_t i = 1; i < cnt->subfields.size(); ++i) {
    const Subfield& sf = cnt->subfields[i];
    if (sf.items.size() != 2)
      return {kReadBadCntEntry, "an entry of the list of records is not a type and an IDC"};
    types.push_back(static_cast<int>(parseLeadingInt(sf.items[0].value)));
  }
  tx->records.reserve(types.size() + 1);
  for (int type : types) {
    Record rec;
    Fault f;
    if (isTaggedType(type)) {
      f = readTaggedRecord(src, type, rec);
    } else if (isBinaryType(type)) {
      f = readBinaryRecord(src, type, rec);
    } else {
      f = {kReadUnknownType, "the list of records names an unknown record type"};
    }
    if (f) return f;
    appendRecord(*tx, std::move(rec));
  }
  (void)src.get();
  if (!src.close()) return {kReadCloseFailed, "the file cannot be closed"};
  out = std::move(tx);
  return {};
}

// The status of a read from its fault, which the caller may keep in `detail`.
int collapse(const Fault& f, ReadDetail* detail) {
  if (detail != nullptr) *detail = {f.code, f.reason};
  if (f.code == kOk || f.code == kIsXml || f.code == kNotType1) return f.code;
  return kReadFailed;
}

const Fault kAborted{kReadAborted, "memory ran out"};

}  // namespace

int readTraditional(const std::string& path, std::unique_ptr<Transaction>& out,
                    ReadDetail* detail) noexcept {
  out.reset();
  try {
    ByteSource src(path);
    if (!src.ok()) {
      // Not a cause of collapse: kCannotOpen shares its value with causes of a malformed file.
      if (detail != nullptr) *detail = {kCannotOpen, "the file cannot be opened"};
      return kCannotOpen;
    }
    return collapse(readAll(src, out), detail);
  } catch (...) {
    out.reset();
    return collapse(kAborted, detail);
  }
}

int readTraditionalBytes(std::string_view bytes, std::unique_ptr<Transaction>& out,
                         ReadDetail* detail) noexcept {
  out.reset();
  try {
    ByteSource src(bytes);
    return collapse(readAll(src, out), detail);
  } catch (...) {
    out.reset();
    return collapse(kAborted, detail);
  }
}

}  // namespace varnel::transaction
