#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "transaction/detail/short_text.h"
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
  explicit Item(std::string&& text) noexcept
      : value(std::move(text)), byteCount(static_cast<std::int32_t>(value.size())) {}
  /// Copies `text` with detail::copyShortText (bytes up to `readableEnd` may be read), building
  /// the value where it stays.
  Item(std::string_view text, const char* readableEnd)
      : value(detail::copyShortText(text, readableEnd)),
        byteCount(static_cast<std::int32_t>(value.size())) {}

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
  /// A field holding only its tag, copied with detail::copyShortText.
  Field(std::string_view tagText, const char* readableEnd)
      : tag(detail::copyShortText(tagText, readableEnd)),
        byteTotal(static_cast<std::int32_t>(tag.size())) {}

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
/// A binary header value wider than 4 bytes (or a list of values): one subfield holding one item
/// per text, each counting `width` bytes.
[[nodiscard]] Field makeBinaryField(int type, int field, std::span<const std::string> texts,
                                    int width);
/// An image data field: one subfield, one item holding `bytes`, which count as they are. A tagged
/// field (`tagged`) gets the tag "%d.%03d:"; a field of a binary record has none. Returns kOk, or
/// kTagTooLong.
[[nodiscard]] int makeDataField(int type, int field, std::string bytes, bool tagged, Field& out);

/// The values of a binary image record (Types 3 to 7) in header order; LEN is computed from the
/// data. Texts are decimal; `fingers` holds the six finger positions.
struct BinaryImageValues {
  std::string idc;
  std::string impression;
  std::string fingers[6];
  std::string scanResolution;
  std::string width;
  std::string height;
  std::string compression;
};
/// Builds a binary image record of `type` from its values and its image data. Returns kOk, or
/// kDataTooLong when the record would not fit a 4-byte LEN.
[[nodiscard]] int makeBinaryImageRecord(int type, const BinaryImageValues& values, std::string data,
                                        Record& out);

/// Formats the tag "%d.%03d:" into `out`. Returns kOk, or kTagTooLong when longer than
/// kMaxTagLength.
[[nodiscard]] int formatTag(int type, int field, std::string& out);

/// A text item: byte count equals the text length.
[[nodiscard]] Item makeTextItem(std::string_view text);
/// An item taking over `bytes` (text or image data): byte count equals their length.
[[nodiscard]] Item makeDataItem(std::string bytes);
/// A field tagged "%d.%03d:" with one subfield holding one text item. Returns kOk or kTagTooLong.
[[nodiscard]] int makeTextField(int type, int field, std::string_view text, Field& out);
/// A field tagged "%d.%03d:" with one one-item subfield per text (at least one). Returns kOk or
/// kTagTooLong.
[[nodiscard]] int makeTextField(int type, int field, std::span<const std::string> subfieldTexts,
                                Field& out);

/// A field tagged "%d.%03d:" whose text is split at RS into subfields and at US into items, as
/// it would be when read back. Returns kOk or kTagTooLong.
[[nodiscard]] int makeSplitTextField(int type, int field, std::string_view text, Field& out);

/// The nodes above the one an operation changes: the operation adds its change of bytes to the
/// total of every level that is set. The innermost level set is the parent the operation works
/// on; levels left null are not linked (a node still being built). These operations, with the
/// builders above, are the only writers of byte totals and separator flags.
struct TreePath {
  Transaction* tx = nullptr;
  Record* record = nullptr;
  Field* field = nullptr;
  Subfield* subfield = nullptr;
};

/// Appends behind the last member of the parent (`at.subfield`, `at.field` or `at.record`),
/// setting the previous member's separator flag (fields only in tagged records). Returns the
/// growth, already added to every level of `at`.
std::int32_t appendItem(const TreePath& at, Item item);
std::int32_t appendSubfield(const TreePath& at, Subfield subfield);
std::int32_t appendField(const TreePath& at, Field field);
/// Appends an empty subfield to `at.field` and returns it, for items to be appended to.
Subfield& appendEmptySubfield(const TreePath& at);
/// Appends a field holding only its tag (copied from `tag`, with bytes up to `readableEnd`
/// readable) to `at.record` and returns it, for subfields to be appended to: a reader builds each
/// field where it will stay.
Field& appendEmptyField(const TreePath& at, std::string_view tag, const char* readableEnd,
                        int recordType, int fieldNumber);
/// Appends a text item built where it stays from Item's constructor arguments and returns it;
/// the same as appendItem(at, Item(args...)).
template <class... Args>
Item& appendNewItem(const TreePath& at, Args&&... args);

/// Inserts before member `index` (appends when `index` is the member count).
std::int32_t insertItem(const TreePath& at, std::size_t index, Item item);
std::int32_t insertSubfield(const TreePath& at, std::size_t index, Subfield subfield);
/// Removes member `index`; the new last member loses its separator. Returns the bytes removed
/// (negative growth), already taken from every level of `at`.
std::int32_t removeItem(const TreePath& at, std::size_t index);
std::int32_t removeSubfield(const TreePath& at, std::size_t index);
std::int32_t removeField(const TreePath& at, std::size_t index);
/// Replaces field `index` of `at.record` where it stands, keeping its separator.
std::int32_t replaceField(const TreePath& at, std::size_t index, Field field);

/// Sets the text of an item whose byte count follows its text (tagged text, image data).
/// `at.subfield` holds the item. Returns the change of bytes.
std::int32_t setItemText(const TreePath& at, Item& item, std::string text);
/// Sets the text of a binary header value, whose byte count is its fixed width.
void setBinaryValue(Item& item, std::string text);

/// Inserts a record at `position` (appends when it is the record count), or removes one,
/// keeping the Transaction's total.
void insertRecord(Transaction& tx, std::size_t position, Record record);
void appendRecord(Transaction& tx, Record record);
void removeRecord(Transaction& tx, std::size_t position);

/// Detached building (no levels above the parent): same as the TreePath forms with only the
/// parent set.
std::int32_t appendItem(Subfield& subfield, Item item);
std::int32_t appendSubfield(Field& field, Subfield subfield);
std::int32_t appendField(Record& record, Field field);

/// Inserts a field before the first field whose number is greater, and always before the image
/// data field of a tagged image record, which stays last. Returns kOk, or kFieldExists when a
/// field with that number exists. `at.record` and every level above it grow.
[[nodiscard]] int insertFieldOrdered(const TreePath& at, Field field);
/// Same for a detached record; `growth` receives the change of its total.
[[nodiscard]] int insertFieldOrdered(Record& record, Field field, std::int32_t& growth);

/// What findFieldIndex returns when the record has no such field.
inline constexpr int kNoFieldIndex = -1;
/// Index of the field with that number in the record, or kNoFieldIndex.
[[nodiscard]] int findFieldIndex(const Record& record, int fieldNumber) noexcept;
[[nodiscard]] const Field* findField(const Record& record, int fieldNumber) noexcept;
[[nodiscard]] Field* findField(Record& record, int fieldNumber) noexcept;

/// Brings x.001 in line with the record's byte total (a tagged LEN may gain digits, which are
/// counted in turn). Returns kOk, or kBadLengthField when field 1 is not one subfield with one
/// item. `growth` receives the change of the record's total, for the caller to add to the
/// Transaction.
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

namespace detail {
// Adds `d` to the total of every level of `at`.
inline void carryTotals(const TreePath& at, std::int32_t d) noexcept {
  if (at.subfield != nullptr) at.subfield->byteTotal += d;
  if (at.field != nullptr) at.field->byteTotal += d;
  if (at.record != nullptr) at.record->byteTotal += d;
  if (at.tx != nullptr) at.tx->byteTotal += d;
}
}  // namespace detail

template <class... Args>
Item& appendNewItem(const TreePath& at, Args&&... args) {
  Subfield& sf = *at.subfield;
  std::int32_t growth = 0;
  if (!sf.items.empty() && !sf.items.back().hasUs) {
    Item& prev = sf.items.back();
    prev.hasUs = true;
    prev.byteCount += 1;
    growth = 1;
  }
  Item& item = sf.items.emplace_back(std::forward<Args>(args)...);
  growth += item.byteCount;
  detail::carryTotals(at, growth);
  return item;
}

}  // namespace varnel::transaction
