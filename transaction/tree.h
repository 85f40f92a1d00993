#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "transaction/small_vector.h"

namespace varnel::transaction {

/// Longest tag text, colon included.
inline constexpr std::size_t kMaxTagLength = 20;

/// Longest text an edit may give one field or item (256 MiB). Longer texts are refused, so that
/// chained text replacements cannot grow a field without bound.
inline constexpr std::size_t kMaxFieldText = std::size_t{1} << 28;

/// Separator bytes of the traditional encoding.
inline constexpr std::uint8_t kFs = 0x1C;
inline constexpr std::uint8_t kGs = 0x1D;
inline constexpr std::uint8_t kRs = 0x1E;
inline constexpr std::uint8_t kUs = 0x1F;

/// One item: text or raw bytes. `byteCount` is what the item occupies in the traditional encoding:
/// the text length plus one when a US follows, or the binary width (1, 2, 4) of a binary header
/// value, or the data length of image data.
struct Item {
  // Written out so that building one in a list does not first zero the whole object.
  Item() noexcept {}
  explicit Item(std::string_view text)
      : value(text), byteCount(static_cast<std::int32_t>(text.size())) {}

  std::string value;
  std::int32_t byteCount = 0;
  bool hasUs = false;

  [[nodiscard]] std::int32_t charCount() const noexcept {
    return static_cast<std::int32_t>(value.size());
  }
};

/// One subfield: `byteTotal` is the sum of its items' byte counts plus one when an RS follows.
/// A subfield of one item keeps it inline.
struct Subfield {
  Subfield() noexcept {}

  SmallVector<Item, 1> items;
  std::int32_t byteTotal = 0;
  bool hasRs = false;
};

/// One field: `byteTotal` is the tag length plus the subfields' totals plus one when a GS follows.
/// Fields of binary records have an empty tag. A field of one subfield keeps it inline.
struct Field {
  Field() noexcept {}
  explicit Field(std::string_view tagText) : tag(tagText) {}

  std::string tag;
  SmallVector<Subfield, 1> subfields;
  int recordType = 0;
  int fieldNumber = 0;
  std::int32_t byteTotal = 0;
  bool hasGs = false;
};

/// One logical record. `declaredLength` is the LEN read from a file (-1 when built in memory);
/// `hasFs` marks a tagged record.
struct Record {
  int type = -1;
  std::int32_t declaredLength = -1;
  std::int32_t byteTotal = 0;
  std::vector<Field> fields;
  bool hasFs = false;
};

/// A whole transaction. `version` is 1.002 read as a decimal number, all bits set until read.
struct Transaction {
  std::uint32_t version = 0xFFFFFFFFu;
  std::int32_t byteTotal = 0;
  std::vector<Record> records;
  bool loadedFromXml = false;
};

/// Record classes.
[[nodiscard]] bool isTaggedType(int type) noexcept;
[[nodiscard]] bool isBinaryType(int type) noexcept;
/// Types 10, 13 to 17, 19 to 22 and 99: image data in field 999.
[[nodiscard]] bool isTaggedImageType(int type) noexcept;
/// Tagged image types plus the binary image types 3 to 8.
[[nodiscard]] bool isImageType(int type) noexcept;
/// True when field `field` of a record of type `type` holds image data (not parsed for separators).
[[nodiscard]] bool isImageDataField(int type, int field) noexcept;
/// Field number of a record's image data: 9 (10 for an extended Type-7 that has a field 10),
/// 8 for Type 8, 999 for tagged image types; 0 for other types.
[[nodiscard]] int imageDataFieldNumber(const Record& record) noexcept;

/// An empty tagged record of `type`: no fields yet, `hasFs` set and its FS counted (total 1).
[[nodiscard]] Record makeTaggedRecord(int type);
/// An empty binary record of `type` (no separators, total 0).
[[nodiscard]] Record makeBinaryRecord(int type);
/// A binary header value: one subfield, one item holding the decimal text, byteCount = `width`.
[[nodiscard]] Field makeBinaryField(int type, int field, std::string_view text, int width);

/// Formats the tag "%d.%03d:" into `out`. Returns 0, or -3 when longer than kMaxTagLength.
[[nodiscard]] int formatTag(int type, int field, std::string& out);

/// A text item: byte count equals the text length.
[[nodiscard]] Item makeTextItem(std::string_view text);
/// A field tagged "%d.%03d:" with one subfield holding one text item. Returns 0 or -3.
[[nodiscard]] int makeTextField(int type, int field, std::string_view text, Field& out);

/// Appends behind the last member, setting the previous member's separator flag. The parent's
/// total grows by the member's bytes plus the separator; the return value is that growth, which
/// the caller adds to every level above the parent.
std::int32_t appendItem(Subfield& subfield, Item item);
std::int32_t appendSubfield(Field& field, Subfield subfield);
std::int32_t appendField(Record& record, Field field);

/// Inserts a field before the first field whose number is greater, and always before the image
/// data field of a tagged image record, which stays last. Returns 0, or -8 when a field
/// with that number exists. The record's total grows; `growth` receives the change.
[[nodiscard]] int insertFieldOrdered(Record& record, Field field, std::int32_t& growth);

/// Index of the field with that number in the record, or -1.
[[nodiscard]] int findFieldIndex(const Record& record, int fieldNumber) noexcept;
[[nodiscard]] const Field* findField(const Record& record, int fieldNumber) noexcept;
[[nodiscard]] Field* findField(Record& record, int fieldNumber) noexcept;

/// Brings x.001 in line with the record's byte total (a tagged LEN may gain digits, which are
/// counted in turn). Returns 0, or -4 when field 1 is not one subfield with one item. `growth`
/// receives the change of the record's total, for the caller to add to the Transaction.
[[nodiscard]] int updateRecordLength(Record& record, std::int32_t& growth);
/// Same, adding the change to the Transaction's total.
[[nodiscard]] int updateRecordLength(Transaction& tx, Record& record);

/// Sum of the record's fields' totals plus the FS; used by checks and tests.
[[nodiscard]] std::int64_t computeRecordBytes(const Record& record) noexcept;

/// Parses an unsigned decimal text of at most 10 digits (no sign, no spaces). False otherwise.
[[nodiscard]] bool parseUnsigned(std::string_view text, std::uint64_t& out) noexcept;
/// True when `text` is a decimal number that fits a binary value of `width` bytes (1, 2 or 4).
[[nodiscard]] bool fitsBinaryWidth(std::string_view text, int width) noexcept;
/// Parses a decimal integer the way the engine reads numbers: leading digits, optional sign,
/// stops at the first non-digit; 0 when there are none.
[[nodiscard]] long long parseLeadingInt(std::string_view text) noexcept;

}  // namespace varnel::transaction
