#include "xml/writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <span>

#include "transaction/base64.h"
#include "transaction/file_io.h"
#include "transaction/status.h"
#include "xml/detail/element_tables.h"
#include "xml/status.h"

namespace varnel::xml {

using detail::kSignatureElements;
using detail::SignatureElement;
using transaction::encodeBase64;
using transaction::NistFile;

namespace {

using Text = std::optional<std::string_view>;

bool digits(std::string_view text, std::size_t count);

constexpr std::string_view kProlog = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
constexpr std::string_view kRootStart =
    "<itl:NISTBiometricInformationExchangePackage"
    " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
    " xsi:schemaLocation=\"http://biometrics.nist.gov/standard/2011"
    " XMLschemas_Updated/exchange/itl.xsd\""
    " xmlns:biom=\"http://niem.gov/niem/biometrics/1.0\""
    " xmlns:itl=\"http://biometrics.nist.gov/standard/2011\""
    " xmlns:ext=\"http://varnel.example/ext/1.0\""
    " xmlns:s=\"http://niem.gov/niem/structures/2.0\""
    " xmlns:nc=\"http://niem.gov/niem/niem-core/2.0\""
    " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">";
constexpr std::string_view kInterpolDetailStart =
    "int-i:DomainDefinedDescriptiveDetail xmlns:int-i=\"http://interpol.gov/int-i/1.0\"";
constexpr std::string_view kRootEnd = "</itl:NISTBiometricInformationExchangePackage>";
// The buffer goes to the file whenever it grows past this size.
constexpr std::size_t kFlushBytes = std::size_t{1} << 20;

// Writes one element per line, indented by depth, into a buffer that is passed on to the file
// (when there is one) as it fills.
class XmlLineWriter {
 public:
  // `fd` < 0: everything stays in `out`.
  XmlLineWriter(std::string& out, int fd) : out_(out), fd_(fd) {}

  void open(std::string_view name) {
    indent();
    out_.push_back('<');
    out_.append(name);
    out_.append(">\n");
    ++depth_;
  }
  void close(std::string_view name) {
    --depth_;
    indent();
    out_.append("</");
    out_.append(name);
    out_.append(">\n");
    flushIfFull();
  }
  void leaf(std::string_view name, std::string_view value) {
    indent();
    out_.push_back('<');
    out_.append(name);
    out_.push_back('>');
    appendEscaped(value, out_);
    out_.append("</");
    out_.append(name);
    out_.append(">\n");
  }
  void leaf(std::string_view name, const std::string& value) {
    leaf(name, std::string_view(value));
  }
  void leaf(std::string_view name, const Text& value) {
    if (value) leaf(name, *value);
  }
  void leaf(std::string_view name, const std::optional<std::string>& value) {
    if (value) leaf(name, std::string_view(*value));
  }
  // A leaf whose content is text needing no escapes and spanning lines (base64).
  void verbatimLeaf(std::string_view name, std::string_view content) {
    indent();
    out_.push_back('<');
    out_.append(name);
    out_.push_back('>');
    if (fd_ >= 0 && content.size() >= kFlushBytes) {
      flush();
      put(content);
    } else {
      out_.append(content);
    }
    out_.append("</");
    out_.append(name);
    out_.append(">\n");
    flushIfFull();
  }
  // Depth changes around the root element, whose start tag is written as a raw line.
  void enter() noexcept { ++depth_; }
  void leave() noexcept { --depth_; }
  void raw(std::string_view line) {
    indent();
    out_.append(line);
    out_.push_back('\n');
  }
  void flush() {
    if (fd_ < 0 || out_.empty()) return;
    put(out_);
    out_.clear();
  }
  [[nodiscard]] bool failed() const noexcept { return failed_; }
  /// The system's error number of the failed write, 0 while every write went through.
  [[nodiscard]] int error() const noexcept { return error_; }

 private:
  void indent() { out_.append(static_cast<std::size_t>(depth_ > 0 ? depth_ : 0), '\t'); }
  void flushIfFull() {
    if (out_.size() >= kFlushBytes) flush();
  }
  void put(std::string_view bytes) {
    if (failed_ || fd_ < 0) return;
    if (!transaction::writeAll(fd_, bytes.data(), bytes.size())) {
      failed_ = true;
      error_ = errno;
    }
  }

  std::string& out_;
  int fd_;
  int depth_ = 0;
  bool failed_ = false;
  int error_ = 0;
};

// Field access for one record: values are present when they exist and are not empty.
class RecordView {
 public:
  RecordView(const NistFile& f, int type, int occurrence) : f_(f), type_(type), occ_(occurrence) {}
  [[nodiscard]] int type() const noexcept { return type_; }
  [[nodiscard]] bool exists(int field) const {
    return f_.getSubfieldCount(type_, field, occ_) >= 0;
  }
  [[nodiscard]] Text field(int field) const { return item(field, 0, 0); }
  [[nodiscard]] Text item(int field, int sub, int item) const {
    std::string_view v;
    if (f_.getItemText(type_, field, occ_, sub, item, v) != transaction::kOk || v.empty()) {
      return std::nullopt;
    }
    return v;
  }
  // The whole first item, empty values included (image data).
  [[nodiscard]] std::string_view bytes(int field) const {
    std::string_view v;
    if (f_.getItemText(type_, field, occ_, 0, 0, v) != transaction::kOk) return {};
    return v;
  }
  [[nodiscard]] int subfields(int field) const {
    const int n = f_.getSubfieldCount(type_, field, occ_);
    return n > 0 ? n : 0;
  }
  [[nodiscard]] int items(int field, int sub) const {
    const int n = f_.getItemCount(type_, field, occ_, sub);
    return n > 0 ? n : 0;
  }
  [[nodiscard]] bool simple(int field) const {
    return subfields(field) == 1 && items(field, 0) == 1;
  }

 private:
  const NistFile& f_;
  int type_;
  int occ_;
};

std::optional<std::string> mapText(const Text& t, std::string (*fn)(std::string_view)) {
  if (!t) return std::nullopt;
  return fn(*t);
}

class Writer {
 public:
  Writer(const NistFile& f, XmlLineWriter& w) : f_(f), w_(w) {}

  void document() {
    w_.raw(kProlog.substr(0, kProlog.size() - 1));
    w_.raw(kRootStart);
    w_.enter();
    w_.open("itl:PackageInformationRecord");
    w_.leaf("biom:RecordCategoryCode", std::string_view("1"));
    w_.open("biom:Transaction");
    type1(RecordView(f_, 1, 0));
    w_.close("biom:Transaction");
    w_.close("itl:PackageInformationRecord");
    warnType1();
    records();
    w_.leave();
    w_.raw(kRootEnd);
  }

 private:
  static bool isFace(const RecordView& r) { return r.field(3) == std::string_view("FACE"); }

  // An indicator as the schema's boolean; a value that is neither code is written as it stands.
  static Text indicator(const Text& code, std::string_view yes, std::string_view no) {
    if (code == yes) return std::string_view("true");
    if (code == no) return std::string_view("false");
    return code;
  }

  void idLeaf(std::string_view container, const Text& id) {
    if (!id) return;
    w_.open(container);
    w_.leaf("nc:IdentificationID", *id);
    w_.close(container);
  }

  void type1(const RecordView& r) {
    if (auto dat = r.field(5)) {
      w_.open("biom:TransactionDate");
      w_.leaf("nc:Date", dateToXml(*dat));
      w_.close("biom:TransactionDate");
    }
    organization("biom:TransactionDestinationOrganization", r.field(7), r.item(17, 0, 0));
    organization("biom:TransactionOriginatingOrganization", r.field(8), r.item(17, 0, 1));
    if (auto gmt = r.field(14)) {
      w_.open("biom:TransactionUTCDate");
      w_.leaf("nc:DateTime", dateTimeToXml(*gmt));
      w_.close("biom:TransactionUTCDate");
    }
    idLeaf("biom:TransactionControlIdentification", r.field(9));
    idLeaf("biom:TransactionControlReferenceIdentification", r.field(10));
    if (r.field(13) || r.item(13, 0, 1)) {
      w_.open("biom:TransactionDomain");
      idLeaf("biom:DomainVersionNumberIdentification", r.item(13, 0, 1));
      w_.leaf("biom:TransactionDomainName", r.item(13, 0, 0));
      w_.close("biom:TransactionDomain");
    }
    // One profile per subfield.
    for (int sub = 0; sub < r.subfields(16); ++sub) {
      w_.open("biom:TransactionApplicationProfile");
      w_.leaf("biom:ApplicationProfileOrganizationName", r.item(16, sub, 0));
      w_.leaf("biom:ApplicationProfileName", r.item(16, sub, 1));
      idLeaf("biom:ApplicationProfileVersionIdentification", r.item(16, sub, 2));
      w_.close("biom:TransactionApplicationProfile");
    }
    // The resolutions the transaction states; "00.00" (no Type-4 images) when it states none.
    // With Type-4 records present, an absent value stays absent.
    const bool type4 = f_.countRecords(4) > 0;
    w_.open("biom:TransactionImageResolutionDetails");
    w_.leaf("biom:NativeScanningResolutionValue",
            type4 ? r.field(11) : Text(r.field(11).value_or("00.00")));
    w_.leaf("biom:NominalTransmittingResolutionValue",
            type4 ? r.field(12) : Text(r.field(12).value_or("00.00")));
    w_.close("biom:TransactionImageResolutionDetails");
    if (r.exists(2)) {
      // The version the transaction states, "0502" as major 05 and minor 02; a value that is
      // not four digits gives the version of this encoding, 05 01.
      const std::string_view ver = r.field(2).value_or("");
      const bool four = ver.size() == 4 && digits(ver, 4);
      w_.leaf("biom:TransactionMajorVersionValue", four ? ver.substr(0, 2) : "05");
      w_.leaf("biom:TransactionMinorVersionValue", four ? ver.substr(2, 2) : "01");
    }
    w_.leaf("biom:TransactionPriorityValue", r.field(6));
    w_.leaf("biom:TransactionCategoryCode", r.field(4));

    // The summary lists the records the document holds: those without an XML form are left out
    // of it and of the count (a warning names them).
    int leftOut = 0;
    for (int s = 1; s < r.subfields(3); ++s) {
      const auto type = r.item(3, s, 0);
      if (type && !writtenAt(s, static_cast<int>(transaction::parseLeadingInt(*type)))) ++leftOut;
    }
    w_.open("biom:TransactionContentSummary");
    w_.leaf("biom:ContentFirstRecordCategoryCode", std::string_view("1"));
    if (leftOut == 0) {
      w_.leaf("biom:ContentRecordQuantity", r.item(3, 0, 1));
    } else {
      const long long stated = transaction::parseLeadingInt(r.item(3, 0, 1).value_or("0"));
      w_.leaf("biom:ContentRecordQuantity", std::to_string(std::max(0LL, stated - leftOut)));
    }
    for (int s = 1; s < r.subfields(3); ++s) {
      const auto type = r.item(3, s, 0);
      if (type && !writtenAt(s, static_cast<int>(transaction::parseLeadingInt(*type)))) continue;
      w_.open("biom:ContentRecordSummary");
      idLeaf("biom:ImageReferenceIdentification",
             std::string_view(stripLeadingZeros(r.item(3, s, 1).value_or(""))));
      w_.leaf("biom:RecordCategoryCode", r.item(3, s, 0));
      w_.close("biom:ContentRecordSummary");
    }
    w_.close("biom:TransactionContentSummary");
    // One directory entry per subfield; none when 1.015 is absent (an empty one is invalid).
    for (int sub = 0; sub < r.subfields(15); ++sub) {
      if (!r.item(15, sub, 0)) continue;
      w_.open("biom:TransactionCharacterSetDirectory");
      w_.leaf("biom:CharacterSetCommonNameCode", r.item(15, sub, 1));
      w_.leaf("biom:CharacterSetIndexCode", r.item(15, sub, 0));
      idLeaf("biom:CharacterSetVersionIdentification", r.item(15, sub, 2));
      w_.close("biom:TransactionCharacterSetDirectory");
    }
    w_.leaf("biom:TransactionGeographicNameSetCode", r.field(18));
  }

  void organization(std::string_view container, const Text& id, const Text& name) {
    if (!id) return;
    w_.open(container);
    idLeaf("nc:OrganizationIdentification", id);
    w_.leaf("nc:OrganizationName", name);
    w_.close(container);
  }

  void records() {
    const transaction::Transaction* tx = f_.transaction();
    int counters[100] = {};
    for (std::size_t i = 1; i < tx->records.size(); ++i) {
      const int type = tx->records[i].type;
      if (type < 0 || type > 99) continue;
      const RecordView r(f_, type, counters[type]++);
      record(r, tx->records[i], i);
    }
    warnUnwritten();
  }

  // Type-1 fields past 1.018 have no element, and the package information record takes no
  // extension: one warning names them.
  void warnType1() {
    const transaction::Transaction* tx = f_.transaction();
    if (tx->records.empty()) return;
    std::string list;
    for (const transaction::Field& fld : tx->records[0].fields) {
      if (fld.fieldNumber <= 18) continue;
      char tag[24];
      const int n = std::snprintf(tag, sizeof tag, "1.%03d", fld.fieldNumber);
      if (n <= 0 || static_cast<std::size_t>(n) >= sizeof tag) continue;
      if (!list.empty()) list += ", ";
      list.append(tag, static_cast<std::size_t>(n));
    }
    if (!list.empty()) f_.addWarning("Type-1 fields not written, having no XML form: " + list);
  }

  // One warning naming the records that have no form in this writer's XML.
  void warnUnwritten() {
    if (unwritten_.empty()) return;
    std::string text = "Records not written, having no XML form: ";
    for (std::size_t k = 0; k < unwritten_.size(); ++k) {
      if (k) text += ", ";
      text += "record " + std::to_string(unwritten_[k].first + 1) + " of type " +
              std::to_string(unwritten_[k].second);
    }
    f_.addWarning(text);
  }

  // True when the exchange schema's elements written for this record carry the field whole.
  [[nodiscard]] bool carried(const RecordView& r, int field) const {
    const int type = r.type();
    if (field == 1 || field == 2 || type == 4 || type == 8) return true;
    if (type == 2) return interpol_ && interpolCarried(r, field);
    // A user-defined image record's data stands in its image element; its header values, which
    // no element names, travel as extension fields.
    if (type == 7) return field == userDefinedDataField(r);
    // Field 999 is image data except in the minutiae, DNA and information assurance records; the
    // dental chart data is text here, which an extension field gives back exactly.
    if (field == 999) return type != 9 && type != 12 && type != 18 && type != 98;
    switch (type) {
      case 9:
        return field == 3 && r.simple(field);
      case 10:
        return field >= 3 && field <= 11 && r.simple(field) && (isFace(r) || field != 3);
      case 13:
      case 14:
      case 15:
      case 17:
      case 19:
      case 20:
        return field >= 3 && field <= 11 && r.simple(field);
      case 16:
        // 16.003 names a user-defined image type, which no element carries.
        return field >= 4 && field <= 11 && r.simple(field);
      case 99:
        return (field == 100 || field == 101 || field == 103 || field == 104) && r.simple(field);
      default:
        return false;
    }
  }

  // Every field the schema's elements do not carry whole, in the project's extension namespace:
  // each field by number, its subfields and their items in order, empty items included.
  void extensionFields(const RecordView& r, const transaction::Record& record,
                       std::string_view container) {
    bool opened = false;
    for (const transaction::Field& fld : record.fields) {
      if (carried(r, fld.fieldNumber)) continue;
      if (!opened) {
        w_.open(container);
        opened = true;
      }
      char tag[40];
      const int n = std::snprintf(tag, sizeof tag, "ext:Field number=\"%d\"", fld.fieldNumber);
      if (n <= 0 || static_cast<std::size_t>(n) >= sizeof tag) continue;
      w_.open(std::string_view(tag, static_cast<std::size_t>(n)));
      for (const auto& sub : fld.subfields) {
        w_.open("ext:Subfield");
        for (const auto& item : sub.items) w_.leaf("ext:Item", std::string_view(item.value));
        w_.close("ext:Subfield");
      }
      w_.close("ext:Field");
    }
    if (opened) w_.close(container);
  }

  // Type-2 fields go in the descriptive detail: those of INTERPOL's domain as its elements (when
  // the transaction names that domain), the others as extension fields.
  void descriptiveFields(const RecordView& r, const transaction::Record& record) {
    bool any = false;
    for (const transaction::Field& fld : record.fields) any = any || fld.fieldNumber > 2;
    if (!any) return;
    w_.open("itl:UserDefinedDescriptiveDetail");
    const auto domain = RecordView(f_, 1, 0).item(13, 0, 0);
    interpol_ =
        f_.countRecords(2) > 0 && &record == firstType2() && domain == "INT-I" && interpolDetail(r);
    extensionFields(r, record, interpol_ ? "ext:OtherDescriptiveFields" : "ext:DescriptiveFields");
    interpol_ = false;
    w_.close("itl:UserDefinedDescriptiveDetail");
  }

  [[nodiscard]] const transaction::Record* firstType2() const {
    for (const transaction::Record& rec : f_.transaction()->records) {
      if (rec.type == 2) return &rec;
    }
    return nullptr;
  }

  // True when the row's field may be written: every item the schema requires of it is there.
  static bool interpolWritable(const RecordView& r, int field) {
    for (const detail::InterpolRequired& q : detail::kInterpolRequired) {
      if (q.field != field) continue;
      for (int k = 0; k < 8; ++k) {
        if ((q.items & (1 << k)) && !r.item(field, 0, k)) return false;
      }
    }
    return true;
  }

  // True when INTERPOL's elements alone give the field back unchanged: a whole-field row, one
  // value of printable ASCII without surrounding spaces (a date as its eight digits).
  static bool interpolCarried(const RecordView& r, int field) {
    const detail::InterpolElement* row = nullptr;
    for (const detail::InterpolElement& e : detail::kInterpolElements) {
      if (e.field == field && e.item < 0) row = &e;
    }
    if (row == nullptr || row->form == detail::InterpolForm::kDateOrTime ||
        row->form == detail::InterpolForm::kAliases || !r.simple(field)) {
      return false;
    }
    const auto v = r.field(field);
    if (!v || v->front() == ' ' || v->back() == ' ') return false;
    for (char ch : *v) {
      if (ch < 0x20 || ch > 0x7E) return false;
    }
    return row->form == detail::InterpolForm::kText || row->form == detail::InterpolForm::kWhole ||
           (v->size() == 8 && digits(*v, 8));
  }

  // The first value of a field of names, one per subfield; nothing when every item is empty.
  static Text firstAlias(const RecordView& r, int field) {
    for (int sub = 0; sub < r.subfields(field); ++sub) {
      for (int i = 0; i < r.items(field, sub); ++i) {
        if (auto v = r.item(field, sub, i)) return v;
      }
    }
    return std::nullopt;
  }

  // One name element per subfield that holds a value, its items as those of the subject's name.
  void aliasNames(const RecordView& r, int field) {
    static constexpr std::string_view kParts[] = {"nc:PersonNamePrefixText", "nc:PersonGivenName",
                                                  "nc:PersonMiddleName",     "nc:PersonSurName",
                                                  "nc:PersonNameSuffixText", "nc:PersonMaidenName",
                                                  "int-i:PersonExtendedName"};
    for (int sub = 0; sub < r.subfields(field); ++sub) {
      bool any = false;
      for (int i = 0; i < 7; ++i) any = any || r.item(field, sub, i).has_value();
      if (!any) continue;
      w_.open("int-i:PersonName");
      for (int i = 0; i < 7; ++i) w_.leaf(kParts[i], r.item(field, sub, i));
      w_.close("int-i:PersonName");
    }
  }

  // INTERPOL's descriptive detail, from the first subfield of each field its rows name; false
  // (nothing written) when no row has a value.
  bool interpolDetail(const RecordView& r) {
    std::vector<std::string_view> open;
    bool any = false;
    for (const detail::InterpolElement& e : detail::kInterpolElements) {
      if (!interpolWritable(r, e.field)) continue;
      const bool parts = r.items(e.field, 0) > 1;
      if ((e.form == detail::InterpolForm::kWhole && parts) ||
          (e.form == detail::InterpolForm::kPart && !parts)) {
        continue;
      }
      const bool aliases = e.form == detail::InterpolForm::kAliases;
      const Text v = aliases ? firstAlias(r, e.field) : r.item(e.field, 0, e.item < 0 ? 0 : e.item);
      if (!v) continue;
      if (!any) {
        // The domain's namespace is bound where it is used, so other documents keep their root.
        w_.open(kInterpolDetailStart);
        any = true;
      }
      std::vector<std::string_view> path;
      for (std::size_t from = 0; from <= e.path.size();) {
        const std::size_t slash = std::min(e.path.find('/', from), e.path.size());
        path.push_back(e.path.substr(from, slash - from));
        from = slash + 1;
      }
      std::string value(*v);
      std::string_view leaf = path.back();
      if (e.form == detail::InterpolForm::kText || e.form == detail::InterpolForm::kWhole ||
          e.form == detail::InterpolForm::kPart || aliases) {
        path.pop_back();
      } else if (e.form == detail::InterpolForm::kDateOrTime && digits(*v, 14)) {
        leaf = "nc:DateTime";
        value = dateTimeToXml(*v);
      } else {
        leaf = "nc:Date";
        value = dateToXml(*v);
      }
      std::size_t keep = 0;
      while (keep < open.size() && keep < path.size() && open[keep] == path[keep]) ++keep;
      while (open.size() > keep) {
        w_.close(open.back());
        open.pop_back();
      }
      for (std::size_t k = keep; k < path.size(); ++k) {
        w_.open(path[k]);
        open.push_back(path[k]);
      }
      if (aliases) {
        w_.open(leaf);
        aliasNames(r, e.field);
        w_.close(leaf);
      } else {
        w_.leaf(leaf, std::string_view(value));
      }
    }
    while (!open.empty()) {
      w_.close(open.back());
      open.pop_back();
    }
    if (any) w_.close(detail::kInterpolDetail);
    return any;
  }

  // True when the record at `position`, of the type the content summary gives, is written: its
  // type has an element here and the record holds what that element cannot do without.
  [[nodiscard]] bool writtenAt(int position, int type) const {
    if (!hasXmlForm(type)) return false;
    const transaction::Transaction* tx = f_.transaction();
    if (position < 0 || static_cast<std::size_t>(position) >= tx->records.size() ||
        tx->records[static_cast<std::size_t>(position)].type != type) {
      return true;
    }
    return hasRequiredFields(tx->records[static_cast<std::size_t>(position)]);
  }

  // A CBEFF record (Type-99) needs its header version, biometric type, format owner and format
  // type: the schema's element has no form without them.
  static bool hasRequiredFields(const transaction::Record& record) {
    if (record.type != 99) return true;
    for (int field : {100, 101, 103, 104}) {
      if (transaction::findField(record, field) == nullptr) return false;
    }
    return true;
  }

  // Record types this writer gives an element.
  static bool hasXmlForm(int type) {
    switch (type) {
      case 2:
      case 4:
      case 7:
      case 8:
      case 9:
      case 10:
      case 11:
      case 12:
      case 13:
      case 14:
      case 15:
      case 16:
      case 17:
      case 18:
      case 19:
      case 20:
      case 21:
      case 22:
      case 98:
      case 99:
        return true;
      default:
        return false;
    }
  }

  void record(const RecordView& r, const transaction::Record& record, std::size_t position) {
    std::string_view element;
    if (!hasRequiredFields(record)) {
      unwritten_.emplace_back(position, r.type());
      return;
    }
    switch (r.type()) {
      case 2:
        element = "itl:PackageDescriptiveTextRecord";
        break;
      case 4:
        element = "itl:PackageHighResolutionGrayscaleImageRecord";
        break;
      case 7:
        element = "itl:PackageUserDefinedImageRecord";
        break;
      case 8:
        element = "itl:PackageSignatureImageRecord";
        break;
      case 9:
        element = "itl:PackageMinutiaeRecord";
        break;
      case 10:
        element = "itl:PackageFacialAndSMTImageRecord";
        break;
      case 11:
        element = "itl:PackageVoiceDataRecord";
        break;
      case 12:
        element = "itl:PackageForensicDentalDataRecord";
        break;
      case 13:
        element = "itl:PackageLatentImageRecord";
        break;
      case 14:
        element = "itl:PackageFingerprintImageRecord";
        break;
      case 15:
        element = "itl:PackagePalmprintImageRecord";
        break;
      case 16:
        element = "itl:PackageUserDefinedTestingImageRecord";
        break;
      case 17:
        element = "itl:PackageIrisImageRecord";
        break;
      case 18:
        element = "itl:PackageDNARecord";
        break;
      case 19:
        element = "itl:PackagePlantarImageRecord";
        break;
      case 20:
        element = "itl:PackageSourceRepresentationRecord";
        break;
      case 21:
        element = "itl:PackageAssociatedContextRecord";
        break;
      case 22:
        element = "itl:PackageNonPhotographicImageryRecord";
        break;
      case 98:
        element = "itl:PackageInformationAssuranceRecord";
        break;
      case 99:
        element = "itl:PackageCBEFFBiometricDataRecord";
        break;
      default:
        unwritten_.emplace_back(position, r.type());
        return;
    }
    w_.open(element);
    w_.leaf("biom:RecordCategoryCode", std::string_view(std::to_string(r.type())));
    w_.open("biom:ImageReferenceIdentification");
    std::string idc(r.field(2).value_or(""));
    if (r.type() == 11) idc = stripLeadingZeros(idc);
    w_.leaf("nc:IdentificationID", std::string_view(idc));
    w_.close("biom:ImageReferenceIdentification");
    if (r.type() == 2) {
      descriptiveFields(r, record);
    } else {
      extensionFields(r, record, "ext:RecordFields");
    }
    switch (r.type()) {
      case 4:
        type4(r);
        break;
      case 8:
        type8(r);
        break;
      case 9:
        type9(r);
        break;
      case 10: {
        annotations(r);
        const bool face = isFace(r);
        imageElement(r, face ? "biom:FaceImage" : "biom:PhysicalFeatureImage",
                     [&] { type10Body(r, face); });
        break;
      }
      case 11:
        type11(r);
        break;
      case 13:
      case 15:
        annotations(r);
        imageElement(r, r.type() == 15 ? "biom:PalmprintImage" : "biom:FingerImpressionImage",
                     [&] { frictionRidgeBody(r); });
        break;
      case 14:
        // The finger image record has no place for annotations; they travel as extension
        // fields.
        imageElement(r, "biom:FingerImpressionImage", [&] {
          frictionRidgeBody(r);
          w_.leaf("biom:FingerprintImageAcquisitionProfileCode", r.field(31));
          w_.leaf("biom:FingerprintImageStitchedIndicator", indicator(r.field(27), "Y", "N"));
        });
        break;
      case 16:
        annotations(r);
        imageElement(r, "biom:TestImage", [&] { plainImageBody(r); });
        break;
      case 17:
        annotations(r);
        imageElement(r, "biom:IrisImage", [&] { type17Body(r); });
        break;
      case 19:
        annotations(r);
        imageElement(r, "biom:PlantarImage", [&] {
          plainImageBody(r);
          w_.leaf("biom:FrictionRidgeImageImpressionCaptureCategoryCode", r.field(3));
          w_.leaf("biom:FrictionRidgeCaptureTechnology", r.field(901));
          // The schema takes one position; further ones travel as extension fields.
          w_.leaf("biom:PlantarPositionCode", r.item(13, 0, 0));
        });
        break;
      case 20:
        type20(r);
        break;
      case 7:
        type7(r);
        break;
      case 12:
        type12(r);
        break;
      case 18:
        type18(r);
        break;
      case 21:
        type21(r);
        break;
      case 22:
        type22(r);
        break;
      case 98:
        type98(r);
        break;
      case 99:
        annotations(r);
        imageElement(r, "biom:CBEFFImage", [&] {
          captureDetail(r);
          for (int s = 0; s < r.subfields(102) && s < 9; ++s) {
            if (!r.item(102, s, 0)) continue;
            w_.open("biom:ImageQuality");
            idLeaf("biom:QualityAlgorithmProductIdentification", r.item(102, s, 2));
            w_.leaf("biom:QualityValue", r.item(102, s, 0));
            idLeaf("biom:QualityAlgorithmVendorIdentification", r.item(102, s, 1));
            w_.close("biom:ImageQuality");
          }
          idLeaf("biom:CBEFFFormatOwnerIdentification", r.field(103));
          idLeaf("biom:CBEFFFormatCategoryIdentification", r.field(104));
          idLeaf("biom:CBEFFVersionIdentification", r.field(100));
          w_.leaf("biom:CBEFFCategoryCode", r.field(101));
        });
        break;
      default:
        break;
    }
    w_.close(element);
  }

  void imageData(std::string_view bytes) {
    encodeBase64(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                 scratch_);
    w_.verbatimLeaf("nc:BinaryBase64Object", scratch_);
  }

  template <typename Body>
  void imageElement(const RecordView& r, std::string_view name, Body body) {
    w_.open(name);
    imageData(r.bytes(999));
    body();
    w_.close(name);
  }

  void type4(const RecordView& r) {
    w_.open("biom:FingerprintImage");
    imageData(r.bytes(9));
    w_.open("biom:ImageCaptureDetail");
    w_.leaf("biom:CaptureResolutionCode", r.field(5));
    w_.close("biom:ImageCaptureDetail");
    w_.leaf("biom:ImageCompressionAlgorithmCode", r.field(8));
    w_.leaf("biom:ImageHorizontalLineLengthPixelQuantity", r.field(6));
    w_.leaf("biom:ImageVerticalLineLengthPixelQuantity", r.field(7));
    w_.open("biom:FingerprintImagePosition");
    w_.leaf("biom:FingerPositionCode", r.item(4, 0, 0));
    // Further finger positions (255 marks an unused byte) follow, so none is lost.
    for (int i = 1; i < r.items(4, 0) && i < 6; ++i) {
      auto p = r.item(4, 0, i);
      if (p && *p != "255") w_.leaf("biom:FingerPositionCode", *p);
    }
    w_.close("biom:FingerprintImagePosition");
    w_.leaf("biom:FingerprintImageImpressionCaptureCategoryCode", r.field(3));
    w_.close("biom:FingerprintImage");
  }

  // The signature record: every field has its element (see kSignatureElements).
  void type8(const RecordView& r) {
    w_.open("biom:SignatureImage");
    imageData(r.bytes(8));
    for (const SignatureElement& e : kSignatureElements) {
      if (e.field == 5) {
        w_.open("biom:ImageCaptureDetail");
        w_.leaf(e.element, r.field(e.field));
        w_.close("biom:ImageCaptureDetail");
      } else {
        // The representation and category codes are mandatory: an absent one is written as 0.
        const bool mandatory = e.field == 3 || e.field == 4;
        w_.leaf(e.element, mandatory ? Text(r.field(e.field).value_or("0")) : r.field(e.field));
      }
    }
    w_.close("biom:SignatureImage");
  }

  // The image elements every image type has, in schema order (testing and plantar images).
  void plainImageBody(const RecordView& r) {
    w_.leaf("biom:ImageBitsPerPixelQuantity", r.field(12));
    captureDetail(r);
    if (r.type() == 16) w_.leaf("biom:ImageColorSpaceCode", r.field(13));
    w_.leaf("biom:ImageCommentText", r.field(20));
    w_.leaf("biom:ImageCompressionAlgorithmText", r.field(11));
    w_.leaf("biom:ImageHorizontalLineLengthPixelQuantity", r.field(6));
    w_.leaf("biom:ImageHorizontalPixelDensityValue", r.field(9));
    if (r.type() == 16) imageQuality(r);
    w_.leaf("biom:ImageScaleUnitsCode", r.field(8));
    w_.leaf("biom:ImageVerticalLineLengthPixelQuantity", r.field(7));
    w_.leaf("biom:ImageVerticalPixelDensityValue", r.field(10));
  }

  void type11(const RecordView& r) {
    annotations(r);
    // The voice data stands in the record itself, before the (here empty) voice detail.
    const std::string_view data = r.bytes(999);
    // The field normally holds base64 text already; anything else (raw audio read from a
    // traditional file) is encoded so the document stays well-formed.
    bool isBase64Text = true;
    for (char ch : data) {
      const bool alpha = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                         (ch >= '0' && ch <= '9') || ch == '+' || ch == '/' || ch == '=';
      if (!alpha && ch != '\r' && ch != '\n' && ch != ' ' && ch != '\t') {
        isBase64Text = false;
        break;
      }
    }
    if (isBase64Text) {
      w_.verbatimLeaf("nc:BinaryBase64Object", data);
    } else {
      imageData(data);
    }
    w_.open("biom:ForensicInvestigatoryVoiceDetail");
    w_.close("biom:ForensicInvestigatoryVoiceDetail");
  }

  void type20(const RecordView& r) {
    annotations(r);
    w_.leaf("biom:SourceRecordCardinalityCode", r.field(3));
    if (auto acq = r.field(14)) {
      w_.open("biom:SourceAcquisition");
      w_.leaf("biom:AcquisitionSourceCode", stripLeadingZeros(*acq));
      w_.close("biom:SourceAcquisition");
    }
    if (r.item(15, 0, 0) || r.item(15, 0, 1)) {
      w_.open("biom:SourceFileFormat");
      w_.leaf("biom:SourceFileCategoryText", r.item(15, 0, 0));
      w_.leaf("biom:SourceFileDecodingInstructionsText", r.item(15, 0, 1));
      w_.close("biom:SourceFileFormat");
    }
    idLeaf("biom:SourceIdentification", r.field(21));
    imageElement(r, "biom:SourceImage", [&] {
      w_.leaf("biom:ImageBitsPerPixelQuantity", r.field(12));
      captureDetail(r);
      w_.leaf("biom:ImageColorSpaceCode", r.field(13));
      w_.leaf("biom:ImageCommentText", r.field(38));
      w_.leaf("biom:ImageCompressionAlgorithmText", r.field(11));
      w_.leaf("biom:ImageHorizontalLineLengthPixelQuantity", r.field(6));
      w_.leaf("biom:ImageHorizontalPixelDensityValue", r.field(9));
      imageQuality(r);
      w_.leaf("biom:ImageScaleUnitsCode", r.field(8));
      w_.leaf("biom:ImageCategoryCode", r.field(3));
      w_.leaf("biom:ImageVerticalLineLengthPixelQuantity", r.field(7));
      w_.leaf("biom:ImageVerticalPixelDensityValue", r.field(10));
    });
  }

  // Data field of a user-defined image record: 10 in the extended header layout, else 9.
  static int userDefinedDataField(const RecordView& r) { return r.exists(10) ? 10 : 9; }

  // The user-defined image: its data in the extension's image element (the schema has no
  // element of its own for it; its header values are extension fields).
  void type7(const RecordView& r) {
    if (!r.exists(userDefinedDataField(r))) return;
    w_.open("ext:UserDefinedImage");
    imageData(r.bytes(userDefinedDataField(r)));
    w_.close("ext:UserDefinedImage");
  }

  // The capture organization: source agency (x.004) and its name (x.993).
  void captureOrganization(const RecordView& r) {
    if (!r.field(4) && !r.field(993)) return;
    w_.open("biom:CaptureOrganization");
    idLeaf("nc:OrganizationIdentification", r.field(4));
    w_.leaf("nc:OrganizationName", r.field(993));
    w_.close("biom:CaptureOrganization");
  }

  // A capture detail element that holds only the capture organization, written when there is one.
  void organizationOnlyDetail(std::string_view element, const RecordView& r) {
    if (!r.field(4) && !r.field(993)) return;
    w_.open(element);
    captureOrganization(r);
    w_.close(element);
  }

  // An identification the schema requires: an empty one when the record has no value, which the
  // reader takes as absent.
  void requiredId(std::string_view container, const Text& id) {
    w_.open(container);
    w_.leaf("nc:IdentificationID", id.value_or(std::string_view()));
    w_.close(container);
  }

  // The dental record: every field is an extension field; the capture organization is also
  // written as its element.
  void type12(const RecordView& r) {
    annotations(r);
    w_.open("biom:ForensicDentalOralDetail");
    w_.open("biom:DentalCaptureDetail");
    captureOrganization(r);
    w_.close("biom:DentalCaptureDetail");
    w_.close("biom:ForensicDentalOralDetail");
  }

  void type18(const RecordView& r) {
    annotations(r);
    w_.open("biom:DNASample");
    organizationOnlyDetail("biom:BiometricCaptureDetail", r);
    w_.close("biom:DNASample");
  }

  void type21(const RecordView& r) {
    annotations(r);
    w_.open("biom:ContextFileFormat");
    w_.leaf("biom:ContextFileCategoryText", r.item(15, 0, 0));
    w_.leaf("biom:ContextFileDecodingInstructionsText", r.item(15, 0, 1));
    w_.close("biom:ContextFileFormat");
    w_.leaf("biom:ContextCommentText", r.field(20));
    requiredId("biom:ContextIdentification", r.field(21));
    w_.leaf("biom:ContextExternalFileReferenceText", r.field(994));
    // The image element is required; its data is written when the record holds some, and of
    // the capture detail only the organization, the other numbers meaning other things here.
    w_.open("biom:ContextImage");
    if (r.exists(999)) imageData(r.bytes(999));
    organizationOnlyDetail("biom:ImageCaptureDetail", r);
    w_.close("biom:ContextImage");
  }

  void type22(const RecordView& r) {
    annotations(r);
    w_.open("biom:NonPhotographicImageryDetail");
    if (r.field(3) || r.field(4) || r.field(993)) {
      w_.open("biom:BiometricCaptureDetail");
      if (auto date = r.field(3)) {
        w_.open("biom:CaptureDate");
        w_.leaf("nc:Date", dateToXml(*date));
        w_.close("biom:CaptureDate");
      }
      captureOrganization(r);
      w_.close("biom:BiometricCaptureDetail");
    }
    w_.leaf("biom:NonPhotographicImageryCommentText", r.field(20));
    if (r.item(46, 0, 0) || r.item(46, 0, 1) || r.item(46, 0, 2)) {
      w_.open("biom:SubjectExistentialDetails");
      w_.leaf("biom:SubjectExistentialStatusCode", r.item(46, 0, 0));
      w_.leaf("biom:SubjectBodyStatusCode", r.item(46, 0, 1));
      w_.leaf("biom:SubjectBodyClassCode", r.item(46, 0, 2));
      w_.close("biom:SubjectExistentialDetails");
    }
    w_.leaf("biom:NonPhotographicImageTypeCode", r.field(101));
    w_.leaf("biom:NonPhotographicImageFormatCode", r.field(102));
    if (r.item(103, 0, 0) || r.item(103, 0, 1) || r.item(103, 0, 2) || r.item(103, 0, 3)) {
      w_.open("biom:DentalRadiographImageInformation");
      w_.leaf("biom:RadiographSize", r.item(103, 0, 0));
      w_.leaf("biom:RadiographImageSeries", r.item(103, 0, 1));
      w_.leaf("biom:RadiographImageSeriesText", r.item(103, 0, 2));
      w_.leaf("biom:RadiographImageInformationText", r.item(103, 0, 3));
      w_.close("biom:DentalRadiographImageInformation");
    }
    w_.close("biom:NonPhotographicImageryDetail");
    // The schema wants the data or an external reference; the data element stands, empty when
    // the record has none, and reads back as no data.
    imageData(r.bytes(999));
  }

  // The information assurance record. Its four required elements are written empty when the
  // record lacks their field; the reader takes an empty element as absent.
  void type98(const RecordView& r) {
    requiredId("biom:AssuranceFormatOwnerIdentification", r.field(3));
    w_.open("biom:AssuranceOrganization");
    idLeaf("nc:OrganizationIdentification", r.field(4));
    w_.leaf("nc:OrganizationName", r.field(993));
    w_.close("biom:AssuranceOrganization");
    requiredId("biom:AssuranceFormatIdentification", r.field(5));
    w_.open("biom:AssuranceDateTime");
    w_.leaf("nc:DateTime", mapText(r.field(6), dateTimeToXml));
    w_.close("biom:AssuranceDateTime");
    for (int s = 0; s < r.subfields(900); ++s) {
      w_.open("biom:AssuranceLogEntry");
      w_.leaf("biom:AssuranceLogEventCode", r.item(900, s, 0));
      w_.leaf("biom:AssuranceLogEventReasonText", r.item(900, s, 1));
      w_.leaf("biom:AssuranceLogEventLocationText", r.item(900, s, 2));
      w_.leaf("biom:AssuranceLogAgentText", r.item(900, s, 3));
      w_.leaf("biom:AssuranceLogEventOriginalValueText", r.item(900, s, 4));
      w_.close("biom:AssuranceLogEntry");
    }
    idLeaf("biom:AssuranceAuditRevisionIdentification", r.field(901));
  }

  void annotations(const RecordView& r) {
    for (int s = 0; s < r.subfields(902); ++s) {
      auto date = r.item(902, s, 0);
      if (!date) continue;
      w_.open("biom:ProcessAnnotation");
      w_.open("biom:ProcessUTCDate");
      w_.leaf("nc:DateTime", dateTimeToXml(*date));
      w_.close("biom:ProcessUTCDate");
      w_.leaf("biom:ProcessName", r.item(902, s, 1));
      w_.leaf("biom:ProcessOwnerText", r.item(902, s, 2));
      w_.leaf("biom:ProcessDescriptionText", r.item(902, s, 3));
      w_.close("biom:ProcessAnnotation");
    }
    // The image hash follows the annotations in the records whose schema type has one.
    const int t = r.type();
    if (t == 10 || (t >= 12 && t <= 22 && t != 14) || t == 99) {
      w_.leaf("biom:ImageHashValue", r.field(996));
    }
  }

  // The exchange schema's location holds only an address and the alternate geographic system;
  // the other GEO items are carried by the record's extension fields.
  void captureLocation(const RecordView& r) {
    auto geo = [&](int n) { return r.item(998, 0, n - 1); };
    if (geo(14) || geo(15)) {
      w_.open("biom:CaptureLocation");
      w_.open("biom:LocationAlternateGeographicSystemValue");
      w_.leaf("biom:GeographicLocationSystemName", geo(14));
      w_.leaf("biom:GeographicLocationText", geo(15));
      w_.close("biom:LocationAlternateGeographicSystemValue");
      w_.close("biom:CaptureLocation");
    }
    if (auto utc = geo(1)) {
      w_.open("biom:CaptureUTCDateTime");
      w_.leaf("nc:DateTime", dateTimeToXml(*utc));
      w_.close("biom:CaptureUTCDateTime");
    }
  }

  void captureDetail(const RecordView& r) {
    const bool iris = r.type() == 17;
    w_.open("biom:ImageCaptureDetail");
    captureLocation(r);
    w_.open("biom:CaptureDate");
    w_.leaf("nc:Date", mapText(r.field(5), dateToXml));
    w_.close("biom:CaptureDate");
    idLeaf("biom:CaptureDeviceIdentification", r.field(iris ? 17 : 903));
    const int mms = iris ? 19 : 904;
    if (r.item(mms, 0, 0)) {
      w_.leaf("biom:CaptureDeviceMakeText", r.item(mms, 0, 0));
      w_.leaf("biom:CaptureDeviceModelText", r.item(mms, 0, 1));
      w_.leaf("biom:CaptureDeviceSerialNumberText", r.item(mms, 0, 2));
    }
    w_.leaf("biom:CaptureHorizontalPixelDensityValue", r.field(iris ? 22 : 16));
    captureOrganization(r);
    w_.leaf("biom:CaptureVerticalPixelDensityValue", r.field(iris ? 23 : 17));
    w_.leaf("biom:CaptureDeviceMonitoringModeCode", r.field(30));
    if (r.type() == 14) idLeaf("biom:CaptureIdentification", r.field(26));
    w_.close("biom:ImageCaptureDetail");
  }

  void imageQuality(const RecordView& r) {
    if (!r.item(24, 0, 0)) return;
    w_.open("biom:ImageQuality");
    idLeaf("biom:QualityAlgorithmProductIdentification", r.item(24, 0, 2));
    w_.leaf("biom:QualityValue", r.item(24, 0, 0));
    idLeaf("biom:QualityAlgorithmVendorIdentification", r.item(24, 0, 1));
    w_.close("biom:ImageQuality");
  }

  // One leaf per subfield of a repeated field.
  void repeatedLeaves(const RecordView& r, int field, std::string_view name) {
    for (int s = 0; s < r.subfields(field); ++s) w_.leaf(name, r.item(field, s, 0));
  }

  // Containers with the listed items of every subfield whose first item is present.
  void itemContainers(const RecordView& r, int field, std::string_view container,
                      std::initializer_list<std::pair<int, std::string_view>> leaves) {
    for (int s = 0; s < r.subfields(field); ++s) {
      if (!r.item(field, s, 0)) continue;
      w_.open(container);
      for (const auto& [item, name] : leaves) w_.leaf(name, r.item(field, s, item));
      w_.close(container);
    }
  }

  void polygons(const RecordView& r, int field, std::string_view container,
                std::string_view firstName) {
    for (int s = 0; s < r.subfields(field); ++s) {
      if (!r.item(field, s, 0)) continue;
      w_.open(container);
      w_.leaf(firstName, r.item(field, s, 0));
      w_.leaf("biom:PositionPolygonVertexQuantity", r.item(field, s, 1));
      for (int i = 2; i < r.items(field, s); i += 2) {
        w_.open("biom:PositionPolygonVertex");
        w_.leaf("biom:PositionHorizontalCoordinateValue", r.item(field, s, i));
        w_.leaf("biom:PositionVerticalCoordinateValue", r.item(field, s, i + 1));
        w_.close("biom:PositionPolygonVertex");
      }
      w_.close(container);
    }
  }

  void type10Body(const RecordView& r, bool face) {
    captureDetail(r);
    w_.leaf("biom:ImageColorSpaceCode", r.field(12));
    w_.leaf("biom:ImageCommentText", r.field(38));
    w_.leaf("biom:ImageCompressionAlgorithmText", r.field(11));
    w_.leaf("biom:ImageHorizontalLineLengthPixelQuantity", r.field(6));
    w_.leaf("biom:ImageHorizontalPixelDensityValue", r.field(9));
    imageQuality(r);
    w_.leaf("biom:ImageScaleUnitsCode", r.field(8));
    w_.leaf("biom:ImageCategoryCode", r.field(3));
    w_.leaf("biom:ImageVerticalLineLengthPixelQuantity", r.field(7));
    w_.leaf("biom:ImageVerticalPixelDensityValue", r.field(10));
    if (r.item(18, 0, 0) || r.item(18, 0, 1) || r.item(18, 0, 2)) {
      w_.open("biom:ImageDistortion");
      w_.leaf("biom:ImageDistortionCategoryCode", r.item(18, 0, 0));
      w_.leaf("biom:ImageDistortionMeasurementCode", r.item(18, 0, 1));
      w_.leaf("biom:ImageDistortionSeverityCode", r.item(18, 0, 2));
      w_.close("biom:ImageDistortion");
    }
    if (!face) {
      physicalFeatureBody(r);
      return;
    }
    bool pose = false;
    for (int i = 0; i < 6; ++i) pose = pose || r.item(25, 0, i).has_value();
    if (pose) {
      w_.open("biom:FaceImage3DPoseAngle");
      w_.leaf("biom:PosePitchAngleMeasure", r.item(25, 0, 1));
      w_.leaf("biom:PosePitchUncertaintyValue", r.item(25, 0, 4));
      w_.leaf("biom:PoseRollAngleMeasure", r.item(25, 0, 2));
      w_.leaf("biom:PoseRollUncertaintyValue", r.item(25, 0, 5));
      w_.leaf("biom:PoseYawAngleMeasure", r.item(25, 0, 0));
      w_.leaf("biom:PoseYawUncertaintyValue", r.item(25, 0, 3));
      w_.close("biom:FaceImage3DPoseAngle");
    }
    w_.leaf("biom:FaceImageAcquisitionProfileCode", r.field(13));
    repeatedLeaves(r, 26, "biom:FaceImageDescriptionCode");
    w_.leaf("biom:FaceImageEyeColorAttributeCode", r.field(27));
    for (int s = 0; s < r.subfields(29); ++s) {
      if (!r.item(29, s, 0)) continue;
      w_.open("biom:FaceImageFeaturePoint");
      w_.leaf("biom:FeaturePointHorizontalCoordinateValue", r.item(29, s, 2));
      idLeaf("biom:FeaturePointIdentification", r.item(29, s, 1));
      w_.leaf("biom:FeaturePointCategoryCode", r.item(29, s, 0));
      w_.leaf("biom:FeaturePointVerticalCoordinateValue", r.item(29, s, 3));
      w_.close("biom:FaceImageFeaturePoint");
    }
    repeatedLeaves(r, 28, "biom:FaceImageHairColorAttributeCode");
    w_.leaf("biom:FaceImagePoseOffsetAngleMeasure", r.field(21));
    w_.leaf("biom:FaceImageSubjectPoseCode", r.field(20));
    if (r.item(23, 0, 0)) {
      w_.open("biom:FaceImageAcquisitionSource");
      w_.leaf("biom:CaptureSourceCode", r.item(23, 0, 0));
      w_.leaf("biom:CaptureSourceDescriptionText", r.item(23, 0, 1));
      w_.close("biom:FaceImageAcquisitionSource");
    }
    bool square = false;
    for (int i = 0; i < 5; ++i) square = square || r.item(14, 0, i).has_value();
    if (square) {
      w_.open("biom:FaceImageBoundingSquare");
      w_.leaf("biom:FaceImageBoundingCategoryCode", r.item(14, 0, 4));
      w_.leaf("biom:SegmentBottomVerticalCoordinateValue", r.item(14, 0, 3));
      w_.leaf("biom:SegmentLeftHorizontalCoordinateValue", r.item(14, 0, 0));
      w_.leaf("biom:SegmentRightHorizontalCoordinateValue", r.item(14, 0, 1));
      w_.leaf("biom:SegmentTopVerticalCoordinateValue", r.item(14, 0, 2));
      w_.close("biom:FaceImageBoundingSquare");
    }
    repeatedLeaves(r, 19, "biom:FaceImageLightingArtifactsCode");
    w_.leaf("biom:FaceImageFeaturePointTierCode", r.field(31));
    polygons(r, 33, "biom:FaceImageContour", "biom:FaceImageContourCategoryCode");
    idLeaf("biom:PhysicalFeatureReferenceIdentification", r.field(39));
    repeatedLeaves(r, 44, "biom:ImageTransformationCode");
    physicalFeatureSize(r);
  }

  void physicalFeatureSize(const RecordView& r) {
    if (r.item(41, 0, 0) || r.item(41, 0, 1)) {
      w_.open("biom:PhysicalFeatureSize");
      w_.leaf("biom:PhysicalFeatureHeightMeasure", r.item(41, 0, 0));
      w_.leaf("biom:PhysicalFeatureWidthMeasure", r.item(41, 0, 1));
      w_.close("biom:PhysicalFeatureSize");
    }
  }

  // A photograph of another body part: the face-only fields are carried as extension fields.
  void physicalFeatureBody(const RecordView& r) {
    repeatedLeaves(r, 40, "biom:PhysicalFeatureNCICCode");
    physicalFeatureSize(r);
    idLeaf("biom:PhysicalFeatureReferenceIdentification", r.field(39));
    polygons(r, 33, "biom:FaceImageContour", "biom:FaceImageContourCategoryCode");
    repeatedLeaves(r, 44, "biom:ImageTransformationCode");
  }

  void frictionRidgeBody(const RecordView& r) {
    w_.leaf("biom:ImageBitsPerPixelQuantity", r.field(12));
    captureDetail(r);
    w_.leaf("biom:ImageCommentText", r.field(20));
    w_.leaf("biom:ImageCompressionAlgorithmText", r.field(11));
    w_.leaf("biom:ImageHorizontalLineLengthPixelQuantity", r.field(6));
    w_.leaf("biom:ImageHorizontalPixelDensityValue", r.field(9));
    w_.leaf("biom:ImageScaleUnitsCode", r.field(8));
    w_.leaf("biom:ImageVerticalLineLengthPixelQuantity", r.field(7));
    w_.leaf("biom:ImageVerticalPixelDensityValue", r.field(10));
    w_.leaf("biom:FingerprintImageImpressionCaptureCategoryCode", r.field(3));
    w_.leaf("biom:FrictionRidgeCaptureTechnology", r.field(901));
    repeatedLeaves(r, 13, r.type() == 15 ? "biom:PalmPositionCode" : "biom:FingerPositionCode");
    // Palm prints have no finger elements; their quality fields are carried as extension fields.
    if (r.type() == 15) return;
    itemContainers(r, 18, "biom:FingerprintImageFingerMissing",
                   {{0, "biom:FingerPositionCode"}, {1, "biom:FingerMissingCode"}});
    for (int s = 0; s < r.subfields(22); ++s) {
      w_.open("biom:FingerprintImageNISTQuality");
      w_.leaf("biom:FingerPositionCode", r.item(22, s, 0));
      w_.leaf("biom:NISTQualityMeasure", r.item(22, s, 1));
      w_.close("biom:FingerprintImageNISTQuality");
    }
    for (int s = 0; s < r.subfields(24); ++s) {
      if (!r.item(24, s, 0)) continue;
      w_.open("biom:FingerprintImageQuality");
      w_.leaf("biom:FingerPositionCode", r.item(24, s, 0));
      idLeaf("biom:QualityAlgorithmProductIdentification", r.item(24, s, 3));
      idLeaf("biom:QualityAlgorithmVendorIdentification", r.item(24, s, 2));
      w_.leaf("biom:QualityValue", r.item(24, s, 1));
      w_.close("biom:FingerprintImageQuality");
    }
    if (r.type() == 14) {
      polygons(r, 25, "biom:FingerprintImageSegmentPositionPolygon", "biom:FingerPositionCode");
    }
  }

  void type17Body(const RecordView& r) {
    w_.leaf("biom:ImageBitsPerPixelQuantity", r.field(12));
    captureDetail(r);
    w_.leaf("biom:ImageColorSpaceCode", r.field(13));
    w_.leaf("biom:ImageCommentText", r.field(21));
    w_.leaf("biom:ImageCompressionAlgorithmText", r.field(11));
    w_.leaf("biom:ImageHorizontalLineLengthPixelQuantity", r.field(6));
    w_.leaf("biom:ImageHorizontalPixelDensityValue", r.field(9));
    imageQuality(r);
    w_.leaf("biom:ImageScaleUnitsCode", r.field(8));
    w_.leaf("biom:ImageVerticalLineLengthPixelQuantity", r.field(7));
    w_.leaf("biom:ImageVerticalPixelDensityValue", r.field(10));
    w_.leaf("biom:IrisEyePositionCode", r.field(3));
    w_.leaf("biom:IrisEyeRotationAngleText", r.field(14));
    w_.leaf("biom:IrisEyeRotationUncertaintyValueText", r.field(15));
    w_.leaf("biom:IrisEyeColorAttributeCode", r.field(20));
    w_.leaf("biom:IrisDiameterPixelQuantity", r.field(26));
    w_.leaf("biom:IrisImageMissingReasonCode", r.field(28));
    w_.leaf("biom:IrisImageAcquisitionProfileCode", r.field(31));
    w_.leaf("biom:IrisImageStorageFormatCode", r.field(32));
    w_.leaf("biom:IrisImageRangeMeasure", r.field(40));
    w_.leaf("biom:IrisImageGazeAngleMeasure", r.field(41));
  }

  void type9(const RecordView& r) {
    w_.leaf("biom:MinutiaeImpressionCaptureCategoryCode", r.field(3));
    w_.leaf("biom:MinutiaeFormatNISTStandardIndicator", indicator(r.field(4), "S", "U"));
    if (r.exists(320) || r.exists(321) || r.exists(331)) {
      w_.open("biom:ExtendedFeatureSetMinutiae");
      itemContainers(r, 320, "biom:MinutiaeCore",
                     {{0, "biom:ImageLocationHorizontalCoordinateMeasure"},
                      {1, "biom:ImageLocationVerticalCoordinateMeasure"},
                      {2, "biom:MinutiaeCoreDirectionMeasure"},
                      {3, "biom:ImageLocationUncertaintyRadiusMeasure"},
                      {4, "biom:MinutiaeCoreDirectionUncertaintyValue"}});
      itemContainers(r, 321, "biom:MinutiaeDelta",
                     {{0, "biom:ImageLocationHorizontalCoordinateMeasure"},
                      {1, "biom:ImageLocationVerticalCoordinateMeasure"},
                      {2, "biom:MinutiaeDeltaDirectionUpMeasure"},
                      {3, "biom:MinutiaeDeltaDirectionLeftMeasure"},
                      {4, "biom:MinutiaeDeltaDirectionRightMeasure"},
                      {5, "biom:MinutiaeDeltaCategoryCode"},
                      {6, "biom:ImageLocationUncertaintyRadiusMeasure"},
                      {7, "biom:MinutiaeDeltaDirectionUpUncertaintyValue"},
                      {8, "biom:MinutiaeDeltaDirectionLeftUncertaintyValue"},
                      {9, "biom:MinutiaeDeltaDirectionRightUncertaintyValue"}});
      itemContainers(r, 331, "biom:EFSMinutia",
                     {{0, "biom:ImageLocationHorizontalCoordinateMeasure"},
                      {1, "biom:ImageLocationVerticalCoordinateMeasure"},
                      {2, "biom:ImageLocationThetaAngleMeasure"},
                      {3, "biom:EFSMinutiaCategoryCode"},
                      {4, "biom:ImageLocationUncertaintyRadiusMeasure"},
                      {5, "biom:MinutiaDirectionUncertaintyValue"}});
      w_.close("biom:ExtendedFeatureSetMinutiae");
    }
    if (r.exists(126) || r.exists(136) || r.exists(137) || r.exists(139) || r.exists(140)) {
      w_.open("biom:INCITSMinutiae");
      idLeaf("biom:CBEFFFormatOwnerIdentification", r.item(126, 0, 0));
      idLeaf("biom:CBEFFFormatCategoryIdentification", r.item(126, 0, 1));
      idLeaf("biom:CBEFFProductIdentification", r.item(126, 0, 2));
      w_.leaf("biom:MinutiaeQuantity", r.field(136));
      for (int s = 0; s < r.subfields(137); ++s) {
        if (!r.item(137, s, 0)) continue;
        w_.open("biom:INCITSMinutia");
        idLeaf("biom:MinutiaIdentification", r.item(137, s, 0));
        w_.open("biom:INCITSMinutiaLocation");
        w_.leaf("biom:PositionHorizontalCoordinateValue", r.item(137, s, 1));
        w_.leaf("biom:PositionVerticalCoordinateValue", r.item(137, s, 2));
        w_.leaf("biom:ImageLocationThetaAngleMeasure", r.item(137, s, 3));
        w_.close("biom:INCITSMinutiaLocation");
        w_.leaf("biom:INCITSMinutiaCategoryCode", r.item(137, s, 4));
        w_.leaf("biom:MinutiaQualityValue", r.item(137, s, 5));
        w_.close("biom:INCITSMinutia");
      }
      itemContainers(r, 139, "biom:FingerprintPatternCoreLocation",
                     {{0, "biom:PositionHorizontalCoordinateValue"},
                      {1, "biom:PositionVerticalCoordinateValue"},
                      {2, "biom:ImageLocationThetaAngleMeasure"}});
      for (int s = 0; s < r.subfields(140); ++s) {
        if (!r.item(140, s, 0)) continue;
        w_.open("biom:FingerprintPatternDeltaLocation");
        w_.leaf("biom:PositionHorizontalCoordinateValue", r.item(140, s, 0));
        w_.leaf("biom:PositionVerticalCoordinateValue", r.item(140, s, 1));
        w_.leaf("biom:ImageLocationThetaAngleMeasure", r.item(140, s, 2));
        w_.leaf("biom:ImageLocationThetaAngleMeasure", r.item(141, s, 0));
        w_.leaf("biom:ImageLocationThetaAngleMeasure", r.item(141, s, 1));
        w_.close("biom:FingerprintPatternDeltaLocation");
      }
      w_.close("biom:INCITSMinutiae");
    }
    // The schema wants a minutiae element; with no feature set to put in one, the extension's
    // empty one stands in (the record's fields travel as extension fields).
    if (!(r.exists(320) || r.exists(321) || r.exists(331) || r.exists(126) || r.exists(136) ||
          r.exists(137) || r.exists(139) || r.exists(140))) {
      w_.raw("<ext:Minutiae/>");
    }
  }

  const NistFile& f_;
  XmlLineWriter& w_;
  // Position and type of each record left out.
  std::vector<std::pair<std::size_t, int>> unwritten_;
  std::string scratch_;
  // Set while the Type-2 record in hand is written with INTERPOL's elements.
  bool interpol_ = false;
};

// Writes the document into `buffer`, passing it on to `fd` as it fills when `fd` >= 0; `err`
// receives the system's error number of a failed write (0 when all went through).
void writeAll(const NistFile& file, std::string& buffer, int fd, int& err) {
  XmlLineWriter w(buffer, fd);
  Writer(file, w).document();
  w.flush();
  err = w.failed() ? (w.error() != 0 ? w.error() : EIO) : 0;
}

// Length of the UTF-8 sequence starting at s[i], or 0 when the bytes there do not form one.
std::size_t utf8Length(std::string_view s, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  std::size_t n = 0;
  std::uint32_t cp = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (n > s.size() - i) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF; U+FFFE and U+FFFF are not XML characters.
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
      (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) {
    return 0;
  }
  return n;
}

}  // namespace

void appendEscaped(std::string_view text, std::string& out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      if (ch == '&') {
        out.append("&amp;");
      } else if (ch == '<') {
        out.append("&lt;");
      } else if (ch == '>' && i >= 2 && text[i - 1] == ']' && text[i - 2] == ']') {
        out.append("&gt;");
      } else if (b >= 0x20 || ch == '\t' || ch == '\n' || ch == '\r') {
        out.push_back(ch);
      }
      continue;
    }
    if (const std::size_t n = utf8Length(text, i); n > 0) {
      out.append(text.substr(i, n));
      i += n - 1;
    } else {
      // A byte that is not part of UTF-8: Latin-1, two bytes in UTF-8.
      out.push_back(static_cast<char>(0xC0 | (b >> 6)));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
}

namespace {
bool digits(std::string_view text, std::size_t count) {
  if (text.size() < count) return false;
  for (std::size_t i = 0; i < count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}
}  // namespace

std::string dateToXml(std::string_view text) {
  // Only a value that starts with the eight digits YYYYMMDD is rearranged; anything else (a date
  // already in XML form, a short or free-text value) is written as it stands.
  if (!digits(text, 8)) return std::string(text);
  std::string out;
  out.reserve(10);
  out.append(text.substr(0, 4)).append("-").append(text.substr(4, 2)).append("-");
  out.append(text.substr(6, 2));
  return out;
}

std::string dateTimeToXml(std::string_view text) {
  if (!digits(text, 14)) return std::string(text);
  std::string out;
  out.reserve(20);
  out.append(text.substr(0, 4)).append("-").append(text.substr(4, 2)).append("-");
  out.append(text.substr(6, 2)).append("T").append(text.substr(8, 2)).append(":");
  out.append(text.substr(10, 2)).append(":").append(text.substr(12, 2)).append("Z");
  return out;
}

std::string stripLeadingZeros(std::string_view text) {
  std::size_t i = 0;
  while (i + 1 < text.size() && text[i] == '0') ++i;
  if (i + 1 == text.size() && text[i] == '0') return "0";
  return std::string(text.substr(i));
}

int writeXmlToString(const NistFile& file, std::string& out) noexcept {
  if (file.transaction() == nullptr) return kNoTransaction;
  try {
    std::string buffer;
    int err = 0;
    writeAll(file, buffer, -1, err);
    out = std::move(buffer);
    return kOk;
  } catch (const std::bad_alloc&) {
    return transaction::kAllocFailed;
  }
}

int writeXml(int fd, const NistFile& file, int& err) noexcept {
  err = 0;
  if (file.transaction() == nullptr) return kNoTransaction;
  try {
    std::string buffer;
    buffer.reserve(kFlushBytes + 4096);
    writeAll(file, buffer, fd, err);
  } catch (const std::bad_alloc&) {
    err = ENOMEM;
  }
  return err == 0 ? kOk : kWriteFailed;
}

int writeXml(const std::string& path, const NistFile& file) noexcept {
  if (file.transaction() == nullptr) return kNoTransaction;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return kCannotCreate;
  int err = 0;
  bool failed = writeXml(fd, file, err) != kOk;
  if (::close(fd) != 0) failed = true;
  if (failed) {
    // A half-written document would read back as a different transaction, so it is removed;
    // only ever a regular file, never a device or anything else the path may name.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) (void)std::remove(path.c_str());
    return kWriteFailed;
  }
  return kOk;
}

}  // namespace varnel::xml
