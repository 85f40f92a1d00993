#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "transaction/status.h"
#include "transaction/traditional.h"
#include "transaction/tree.h"

namespace varnel::transaction {

class NistFile;

/// The XML encoding, reached through this interface so that the transaction library does not
/// depend on the XML library. The XML library implements it; the owner of a NistFile hands it in.
class XmlCodec {
 public:
  virtual ~XmlCodec() = default;
  /// Fills the Transaction held by `file` (which already holds the default Type-1 record) from
  /// the XML document at `path`. Returns 0 or a negative status.
  [[nodiscard]] virtual int read(const std::string& path, NistFile& file) const noexcept = 0;
  /// Writes the Transaction held by `file` to `path` in the XML encoding. Returns 0 or negative.
  [[nodiscard]] virtual int write(const std::string& path, const NistFile& file) const noexcept = 0;
  /// Writes the Transaction held by `file` in the XML encoding to the open descriptor `fd` (left
  /// open). Returns 0 or negative; `err` receives the system's error number of a failed write,
  /// else 0. A codec without it refuses (kIsXml).
  [[nodiscard]] virtual int writeTo(int fd, const NistFile& file, int& err) const noexcept;
};

/// Number of Type-9 feature blocks addressable by deleteFeatureBlock (0 to 8).
inline constexpr int kFeatureBlockCount = 9;
/// First and last field number of feature block `block`, or false for an unknown block.
[[nodiscard]] bool featureBlockRange(int block, int& first, int& last) noexcept;

/// Library banner: "tavrix version 2.4.0.0 - April 13, 2024\n".
[[nodiscard]] std::string_view versionBanner() noexcept;

/// The library handle: owns at most one Transaction and offers every load, query, edit and save
/// operation. Every editing operation keeps byte totals, separator flags, field order, the LEN of
/// the touched record, and CNT and IDCs when records come and go. Every operation returns
/// kNoTransaction when no Transaction is held. Text results are borrowed views into the tree, valid
/// until the next change of the node they point into. Not thread-safe; one thread at a time.
class NistFile {
 public:
  /// `xml` (borrowed, may be null) must outlive the handle; without it XML files fail with kIsXml.
  explicit NistFile(const XmlCodec* xml = nullptr) noexcept;
  ~NistFile();
  NistFile(const NistFile&) = delete;
  NistFile& operator=(const NistFile&) = delete;
  NistFile(NistFile&&) noexcept;
  NistFile& operator=(NistFile&&) noexcept;

  void setXmlCodec(const XmlCodec* xml) noexcept { xml_ = xml; }

  // ---- Loading and saving ----

  /// Replaces the held Transaction with the file at `path` (traditional, or XML when the first
  /// byte is "<"). Returns kOk; kMissingArgument for an empty path; the reader's status otherwise
  /// (the handle then holds nothing): kCannotOpen, kReadFailed (malformed), kIsXml (XML without a
  /// codec), kNotType1. When `detail` is given it receives the precise cause (see ReadDetail);
  /// after a failed XML read its code is the XML reader's status.
  [[nodiscard]] int load(const std::string& path, ReadDetail* detail = nullptr) noexcept;
  /// Writes the Transaction in the traditional encoding; the writer's status.
  [[nodiscard]] int saveTraditional(const std::string& path) const noexcept;
  /// Writes the Transaction in the XML encoding; the XML writer's status, kIsXml without a codec.
  [[nodiscard]] int saveXml(const std::string& path) const noexcept;
  /// Writes the Transaction in the traditional or XML encoding to the open descriptor `fd` (left
  /// open): the writer's status (kIsXml for XML without a codec), with the system's error number
  /// of a failed write in `err` (else 0).
  [[nodiscard]] int saveTraditional(int fd, int& err) const noexcept;
  [[nodiscard]] int saveXml(int fd, int& err) const noexcept;
  /// True when the held Transaction was loaded from XML.
  [[nodiscard]] bool isXml() const noexcept;
  /// Warnings of the last load or save, one report row each: what the XML encoding could not
  /// carry, or placeholder values it filled in. load and both saves clear the list first.
  /// Borrowed until the next load or save.
  [[nodiscard]] const std::vector<std::string>& warnings() const noexcept { return warnings_; }
  /// Adds one warning (called by the XML codec during load and saveXml); dropped when memory
  /// runs out.
  void addWarning(std::string_view text) const noexcept;

  /// Drops the held Transaction.
  void clear() noexcept;
  /// Holds a new empty Transaction (no records).
  void createEmpty() noexcept;
  /// Holds a new Transaction with the default Type-1 record that XML loads start from
  /// (1.002 "0201", CNT "1" US "0", 1.004 "MAP", ...). Returns 0 or a negative status.
  [[nodiscard]] int createDefault() noexcept;
  /// Takes ownership of a Transaction built elsewhere (tests, readers).
  void adopt(std::unique_ptr<Transaction> tx) noexcept;
  /// The held Transaction, or null. Callers that edit it directly must keep the invariants
  /// (use the tree helpers and updateRecordLength).
  [[nodiscard]] const Transaction* transaction() const noexcept { return tx_.get(); }
  [[nodiscard]] Transaction* transaction() noexcept { return tx_.get(); }

  // ---- Queries ----

  /// Number of records of `type` (0 if none, or when nothing is held).
  [[nodiscard]] int countRecords(int type) const noexcept;
  /// Type of the record at `position`; kRecordNotFound outside the Transaction.
  [[nodiscard]] int recordTypeAt(int position) const noexcept;
  /// Position of the `occurrence`-th record of `type`, or kRecordNotFound.
  [[nodiscard]] int findRecord(int type, int occurrence) const noexcept;
  /// Text of item 0 of subfield 0. kNotFound and an empty `out` when record or field is missing.
  [[nodiscard]] int getFieldText(int type, int field, std::string_view& out,
                                 int occurrence = 0) const noexcept;
  /// byteCount of item 0 of subfield 0, or kNotFound.
  [[nodiscard]] int getFieldByteCount(int type, int field, int occurrence = 0) const noexcept;
  /// Number of subfields, or kNotFound.
  [[nodiscard]] int getSubfieldCount(int type, int field, int occurrence = 0) const noexcept;
  /// Number of items of a subfield, or kNotFound (kBadArgument for a negative index).
  [[nodiscard]] int getItemCount(int type, int field, int occurrence, int subfield) const noexcept;
  /// Text of one item. kBadArgument for a negative index, kNotFound when anything is missing.
  [[nodiscard]] int getItemText(int type, int field, int occurrence, int subfield, int item,
                                std::string_view& out) const noexcept;
  /// The whole field as traditional text: items joined by US, subfields by RS. kNotFound if
  /// missing.
  [[nodiscard]] int getFieldFullText(int type, int field, int occurrence,
                                     std::string& out) const noexcept;

  // ---- Editing ----
  // Every edit of a tagged field refuses: -97 (kStructuralField) for LEN (x.001), for removing the
  // version (1.002) or a record's IDC (x.002 of Types 3 to 99), or for splitting them into
  // subfields or items; -96 (kSeparatorInValue) for an FS or GS in a text, or an RS or US in a
  // single item; -95 (kValueTooLong) for a text longer than kMaxFieldText. The tree is then
  // unchanged.

  /// Sets a field of the first record of `type` to `text`, creating the record (Types 1, 2, 9)
  /// when missing; RS and US split it as in setFieldAt. kProtected, kFieldNumberRange for a field
  /// number out of range.
  [[nodiscard]] int setField(int type, int field, std::string_view text) noexcept;
  /// Sets a field of the `occurrence`-th record. RS and US in `text` split it into subfields and
  /// items; the whole field is replaced by the new value. Binary records take decimal digits only
  /// and keep the field's width (kBadArgument when the number does not fit; kNoBinaryRecord,
  /// kNoBinaryField when missing).
  [[nodiscard]] int setFieldAt(int type, int field, std::string_view text, int occurrence) noexcept;
  /// Sets or appends one item (a missing field, subfield or item is appended when it is the next
  /// one). On an image data field the text is a path whose file bytes become the item's value.
  [[nodiscard]] int setItem(int type, int field, int occurrence, int subfield, int item,
                            std::string_view text) noexcept;
  /// Deletes a field of the first record of `type`. 1.004, 1.007, 1.008, 1.009 are emptied
  /// instead. Deleting the only field deletes the record.
  [[nodiscard]] int deleteField(int type, int field) noexcept;
  [[nodiscard]] int deleteFieldAt(int type, int field, int occurrence) noexcept;
  /// Deletes a record and its CNT entry, renumbering IDCs above the removed one when no other
  /// record shares it. Types 1 and 2: kProtected; missing: kNotFound.
  [[nodiscard]] int deleteRecord(int type, int occurrence) noexcept;
  /// Deletes every field of a Type-9 feature block present in the `occurrence`-th Type-9 record.
  /// kBadFeatureBlock for an unknown block.
  [[nodiscard]] int deleteFeatureBlock(int block, int occurrence) noexcept;
  /// Inserts a built record at `position` with its CNT entry. With `assignIdc` the record gets one
  /// more than the greatest IDC before it and later IDCs move up. kInsertType1, kBadRecordPosition.
  [[nodiscard]] int insertRecord(int position, Record record, bool assignIdc) noexcept;
  /// Appends a tagged record holding LEN and IDC (`idc`, or the record count minus one when null).
  [[nodiscard]] int appendTaggedRecord(int type, const std::string_view* idc = nullptr) noexcept;
  /// Appends a binary record in the standard 18-byte layout.
  [[nodiscard]] int appendBinaryImageRecord(int type, const std::string_view* idcText,
                                            int idcNumber, int imp, const std::uint8_t fgp[6],
                                            int isr, int hll, int vll, int gca,
                                            std::span<const std::uint8_t> data) noexcept;

  /// Finds the first value of a binary record header that the traditional writer cannot store: not
  /// decimal digits, or too large for its width. Returns 1 with the record's position, the field
  /// number, the text and the width (1, 2 or 4 bytes); 0 when every value fits.
  [[nodiscard]] int findUnfitBinaryValue(int& position, int& field, std::string& text,
                                         int& width) const noexcept;

  // ---- Image data ----

  /// Writes the image data field's bytes to `path` (Type 11: decoded from base64 first).
  /// kNotImageType, kMissingArgument (empty path), kRecordNotFound, kNoImageField,
  /// kExportWriteFailed (the file is removed; `err` receives the system's error number, taken
  /// where the create, write or close failed, and is 0 otherwise).
  [[nodiscard]] int exportImageData(int type, int occurrence, const std::string& path,
                                    int& err) const noexcept;
  [[nodiscard]] int exportImageData(int type, int occurrence,
                                    const std::string& path) const noexcept;
  /// Replaces the image data bytes. Binary records: field 9 (8 for Type 8) changes in place.
  /// Tagged records: a new field 999 is appended (the caller deletes any old one first).
  [[nodiscard]] int replaceImageData(int type, int occurrence,
                                     std::span<const std::uint8_t> bytes) noexcept;
  /// Same, moving `bytes` into the record instead of copying them (`bytes` is unspecified after).
  [[nodiscard]] int replaceImageData(int type, int occurrence, std::string&& bytes) noexcept;

 private:
  Record* recordAt(int type, int occurrence) noexcept;
  const Record* recordAt(int type, int occurrence) const noexcept;
  int createRecordForSet(int type, Record*& out) noexcept;
  int placeField(Record& rec, Field field);
  int setFieldOnRecord(Record& rec, int type, int field, std::string_view text) noexcept;
  int setSplitField(Record& rec, int type, int field, std::string_view text) noexcept;
  int deleteFieldFromRecord(int position, int field) noexcept;
  int deleteRecordAt(int position) noexcept;
  void syncCntIdc(int position) noexcept;
  void rewriteLeadingZeroLengths() noexcept;
  int buildDefaultType1() noexcept;

  std::unique_ptr<Transaction> tx_;
  const XmlCodec* xml_ = nullptr;
  // Filled while a const save runs, hence mutable.
  mutable std::vector<std::string> warnings_;
};

}  // namespace varnel::transaction
