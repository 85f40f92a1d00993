#include "app/viewer_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <new>
#include <utility>

#include "imaging/image_layer.h"
#include "imaging/status.h"
#include "rules/feature_actions.h"
#include "rules/run.h"
#include "transaction/field_table.h"
#include "transaction/printable.h"
#include "transaction/status.h"
#include "transaction/traditional.h"
#include "transaction/tree.h"
#include "xml/xml_codec.h"

namespace varnel::app {
namespace {

using transaction::Field;
using transaction::NistFile;
using transaction::Record;

// Bytes of a value shown in the field table and item list before it is cut.
constexpr std::size_t kValueShown = 200;

std::string number(long long v) { return std::to_string(v); }

// Text of item 0 of subfield 0 of a field, or "" when absent.
std::string_view firstItem(const Record& rec, int fieldNumber) {
  const Field* f = transaction::findField(rec, fieldNumber);
  if (f == nullptr || f->subfields.empty() || f->subfields[0].items.empty()) return {};
  return f->subfields[0].items[0].value;
}

int subfieldCount(const Record& rec, int fieldNumber) {
  const Field* f = transaction::findField(rec, fieldNumber);
  return f == nullptr ? 0 : static_cast<int>(f->subfields.size());
}

// Field of the finger, palm or plantar position, by record type; 0 when the type has none.
int positionField(int type) {
  if (type >= 3 && type <= 7) return 4;
  if (type == 13 || type == 14 || type == 15 || type == 19) return 13;
  return 0;
}

// "right thumb" for the position code 1: the code table's text, first letter lowered and cut
// before any parenthesised remark.
std::string positionText(std::string_view code) {
  std::uint64_t value = 0;
  if (!transaction::parseUnsigned(code, value) || value > 99) return {};
  char padded[4];
  (void)std::snprintf(padded, sizeof padded, "%02d", static_cast<int>(value));
  for (const auto& c : transaction::codeDefinitions()) {
    if (c.table != "FGP" || c.code != padded) continue;
    std::string text(c.description.substr(0, c.description.find(" (")));
    // "Right thumb" becomes "right thumb"; an acronym such as "EJI" keeps its case.
    if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' &&
        !(text[1] >= 'A' && text[1] <= 'Z')) {
      text[0] = static_cast<char>(text[0] + ('a' - 'A'));
    }
    return text;
  }
  return {};
}

// The part of a summary that describes the image: "WSQ20 804x752 500 ppi".
std::string imageText(const NistFile& file, int type, int occurrence) {
  const int code = imaging::detectImageFormat(file, type, occurrence);
  if (code == imaging::kNoImageData) return "no image data";
  int w = 0, h = 0, depth = 0;
  if (code < 0 || imaging::getImageInfo(file, type, occurrence, w, h, depth) < 0) {
    // A BMP container or unreadable data: the layer's own description says which.
    return imaging::describeRecordImage(file, type, occurrence);
  }
  std::string out(imaging::compressionName(code));
  out += " " + number(w) + "x" + number(h);
  if (depth == 24) out += " colour";
  // Tagged records state a resolution only in pixels per inch or per centimetre (scale units 1
  // or 2); other units give an aspect ratio, which is not shown as a resolution.
  if (transaction::isTaggedType(type)) {
    std::string_view units;
    if (file.getFieldText(type, 8, units, occurrence) < 0 || (units != "1" && units != "2")) {
      return out;
    }
  }
  out += " " + number(imaging::recordResolutionPpi(file, type, occurrence)) + " ppi";
  return out;
}

// "57 minutiae (FBI IAFIS)" for a Type-9 record, by the first block it carries.
std::string minutiaeText(const Record& rec) {
  struct Block {
    int field;
    const char* name;
  };
  static constexpr Block kBlocks[] = {
      {137, "INCITS 378"}, {23, "FBI IAFIS"}, {331, "extended"}, {12, "legacy"}};
  for (const Block& b : kBlocks) {
    const int n = subfieldCount(rec, b.field);
    if (n > 0) return number(n) + " minutiae (" + b.name + ")";
  }
  return "no minutiae";
}

bool sameField(const Field& a, const Field& b) {
  if (a.subfields.size() != b.subfields.size()) return false;
  for (std::size_t s = 0; s < a.subfields.size(); ++s) {
    const auto& ia = a.subfields[s].items;
    const auto& ib = b.subfields[s].items;
    if (ia.size() != ib.size()) return false;
    for (std::size_t i = 0; i < ia.size(); ++i) {
      if (ia[i].value != ib[i].value) return false;
    }
  }
  return true;
}

std::vector<FieldDiff> diffFields(const Record* left, const Record* right) {
  std::map<int, std::pair<const Field*, const Field*>> byNumber;
  if (left) {
    for (const auto& f : left->fields) byNumber[f.fieldNumber].first = &f;
  }
  if (right) {
    for (const auto& f : right->fields) byNumber[f.fieldNumber].second = &f;
  }
  std::vector<FieldDiff> out;
  out.reserve(byNumber.size());
  for (const auto& [n, pair] : byNumber) {
    FieldDiff d;
    d.number = n;
    if (pair.first == nullptr) {
      d.kind = DiffKind::kOnlyRight;
    } else if (pair.second == nullptr) {
      d.kind = DiffKind::kOnlyLeft;
    } else {
      d.kind = sameField(*pair.first, *pair.second) ? DiffKind::kSame : DiffKind::kChanged;
    }
    out.push_back(d);
  }
  return out;
}

// Occurrence of each record among the records of its type, by position.
std::vector<int> occurrences(const transaction::Transaction& tx) {
  std::map<int, int> seen;
  std::vector<int> out;
  out.reserve(tx.records.size());
  for (const auto& r : tx.records) out.push_back(seen[r.type]++);
  return out;
}

// Minutiae of an INCITS 378 block (9.137): pixels already, angles in units of two degrees.
std::vector<MinutiaMark> incitsMinutiae(const Record& rec) {
  std::vector<MinutiaMark> out;
  const Field* f = transaction::findField(rec, 137);
  if (f == nullptr) return out;
  for (const auto& sf : f->subfields) {
    if (sf.items.size() < 4) continue;
    MinutiaMark m;
    m.x = static_cast<double>(transaction::parseLeadingInt(sf.items[1].value));
    m.y = static_cast<double>(transaction::parseLeadingInt(sf.items[2].value));
    // Reduced to a turn first, so that an absurd value cannot overflow the doubling.
    m.theta = static_cast<int>(transaction::parseLeadingInt(sf.items[3].value) % 180) * 2;
    if (sf.items.size() > 4)
      m.kind = static_cast<int>(transaction::parseLeadingInt(sf.items[4].value));
    out.push_back(m);
  }
  return out;
}

}  // namespace

std::string readerReason(int status) {
  switch (status) {
    case transaction::kMissingArgument:
      return "No file was named.";
    case transaction::kCannotOpen:
      return "The file cannot be opened.";
    case transaction::kReadFailed:
      return "The file is not a well-formed transaction in the traditional encoding.";
    case transaction::kIsXml:
      return "The file is in the XML encoding, which this build cannot read.";
    case transaction::kNotType1:
      return "The file is not a transaction: its first record is not a Type-1 record.";
    default:
      return "The file cannot be read (status " + number(status) + ").";
  }
}

int openTransaction(const std::string& path, std::shared_ptr<const ViewedTransaction>& out,
                    std::string& reason) noexcept {
  try {
    auto viewed = std::make_shared<ViewedTransaction>();
    viewed->path = path;
    static const xml::XmlCodecImpl kXml;
    viewed->file.setXmlCodec(&kXml);
    transaction::ReadDetail detail;
    const int rc = viewed->file.load(path, &detail);
    if (rc != 0) {
      reason = readerReason(rc);
      // The reader's precise cause helps when reporting a file.
      if (rc == transaction::kReadFailed) {
        reason +=
            " (reader status " + number(detail.code) + ": " + std::string(detail.reason) + ")";
      }
      return rc;
    }
    out = std::move(viewed);
    return 0;
  } catch (const std::bad_alloc&) {
    reason = "The file is too large to be held in memory.";
    return transaction::kAllocFailed;
  }
}

std::string_view recordTypeName(int type) noexcept {
  switch (type) {
    case 1:
      return "Transaction information";
    case 2:
      return "User-defined descriptive text";
    case 3:
      return "Low-resolution grayscale fingerprint image";
    case 4:
      return "High-resolution grayscale fingerprint image";
    case 5:
      return "Low-resolution binary fingerprint image";
    case 6:
      return "High-resolution binary fingerprint image";
    case 7:
      return "User-defined image";
    case 8:
      return "Signature image";
    case 9:
      return "Minutiae data";
    case 10:
      return "Photographic body part image";
    case 11:
      return "Forensic and investigatory voice data";
    case 12:
      return "Forensic dental and oral data";
    case 13:
      return "Variable-resolution latent friction ridge image";
    case 14:
      return "Variable-resolution fingerprint image";
    case 15:
      return "Variable-resolution palm print image";
    case 16:
      return "User-defined variable-resolution testing image";
    case 17:
      return "Iris image";
    case 18:
      return "DNA data";
    case 19:
      return "Variable-resolution plantar image";
    case 20:
      return "Source representation";
    case 21:
      return "Associated context";
    case 22:
      return "Non-photographic imagery";
    case 98:
      return "Information assurance";
    case 99:
      return "CBEFF biometric data";
    default:
      return {};
  }
}

std::vector<RecordSummary> summarizeRecords(const NistFile& file) {
  std::vector<RecordSummary> out;
  const transaction::Transaction* tx = file.transaction();
  if (tx == nullptr) return out;
  const std::vector<int> occ = occurrences(*tx);
  out.reserve(tx->records.size());
  for (std::size_t i = 0; i < tx->records.size(); ++i) {
    const Record& rec = tx->records[i];
    RecordSummary s;
    s.position = static_cast<int>(i);
    s.type = rec.type;
    s.occurrence = occ[i];
    if (rec.type != 1) s.idc = std::string(firstItem(rec, 2));

    std::string what;
    if (const int pf = positionField(rec.type); pf != 0) what = positionText(firstItem(rec, pf));
    if (rec.type == 10) what = transaction::printableText(firstItem(rec, 3), 20);
    if (rec.type == 17) {
      const std::string_view eye = firstItem(rec, 3);
      what = eye == "1" ? "right eye" : eye == "2" ? "left eye" : "";
    }
    if (what.empty()) what = std::string(recordTypeName(rec.type));
    s.detail = what;

    if (rec.type == 1) {
      s.detail += ", TOT " + transaction::printableText(firstItem(rec, 4), 20) + ", VER " +
                  transaction::printableText(firstItem(rec, 2), 10);
    } else if (rec.type == 9) {
      s.detail += ", " + minutiaeText(rec);
    } else if (transaction::isImageType(rec.type)) {
      s.hasImage = true;
      s.detail += ", " + imageText(file, rec.type, s.occurrence);
    } else {
      s.detail += ", " + number(static_cast<long long>(rec.fields.size())) + " fields";
    }
    // A type without a name starts with the details.
    if (s.detail.rfind(", ", 0) == 0) s.detail.erase(0, 2);
    s.text = "Type-" + number(rec.type) + " " + s.detail;
    out.push_back(std::move(s));
  }
  return out;
}

std::vector<FieldRow> fieldRows(const Record& record) {
  std::vector<FieldRow> out;
  out.reserve(record.fields.size());
  for (const Field& f : record.fields) {
    FieldRow row;
    row.number = f.fieldNumber;
    char tag[32];
    (void)std::snprintf(tag, sizeof tag, "%d.%03d", record.type, f.fieldNumber);
    row.tag = tag;
    row.mnemonic = std::string(transaction::fieldMnemonic(record.type, f.fieldNumber));
    if (const auto* def = transaction::findFieldDefinition(record.type, f.fieldNumber)) {
      row.description = std::string(def->description);
    }
    row.subfields = static_cast<int>(f.subfields.size());
    row.imageData = transaction::isImageDataField(record.type, f.fieldNumber);
    if (row.imageData) {
      std::size_t bytes = 0;
      for (const auto& sf : f.subfields) {
        for (const auto& item : sf.items) bytes += item.value.size();
      }
      // Built in its own string: g++ 12 warns falsely (-Wrestrict) when a short literal is
      // assigned to or prepended onto one.
      std::string shown(1, '<');
      shown += number(static_cast<long long>(bytes));
      shown += " bytes of image data>";
      row.value = std::move(shown);
    } else if (f.subfields.size() == 1) {
      const auto& items = f.subfields[0].items;
      for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) row.value += " | ";
        row.value += transaction::printableText(items[i].value, kValueShown);
      }
    } else {
      row.value = number(static_cast<long long>(f.subfields.size())) + " subfields";
    }
    out.push_back(std::move(row));
  }
  return out;
}

std::vector<std::string> itemTexts(const Field& field, int subfield) {
  std::vector<std::string> out;
  if (subfield < 0 || static_cast<std::size_t>(subfield) >= field.subfields.size()) return out;
  for (const auto& item : field.subfields[subfield].items)
    out.push_back(transaction::printableText(item.value, kValueShown));
  return out;
}

std::string itemMnemonic(int recordType, int field, int item) {
  if (item < 0 || item >= 26) return {};
  const char letter[2] = {static_cast<char>('A' + item), '\0'};
  const auto* def = transaction::findItemDefinition(recordType, field, letter);
  return def == nullptr ? std::string() : std::string(def->mnemonic);
}

std::vector<RecordDiff> diffTransactions(const transaction::Transaction& left,
                                         const transaction::Transaction& right) {
  const std::vector<int> lo = occurrences(left);
  const std::vector<int> ro = occurrences(right);
  std::map<std::pair<int, int>, int> rightAt;
  for (std::size_t i = 0; i < right.records.size(); ++i) {
    rightAt[{right.records[i].type, ro[i]}] = static_cast<int>(i);
  }
  std::vector<bool> rightUsed(right.records.size(), false);
  std::vector<RecordDiff> out;
  auto finish = [&out](RecordDiff d, const Record* l, const Record* r) {
    d.fields = diffFields(l, r);
    if (l == nullptr) {
      d.kind = DiffKind::kOnlyRight;
    } else if (r == nullptr) {
      d.kind = DiffKind::kOnlyLeft;
    } else {
      d.kind = DiffKind::kSame;
      for (const auto& f : d.fields) {
        if (f.kind != DiffKind::kSame) d.kind = DiffKind::kChanged;
      }
    }
    out.push_back(std::move(d));
  };
  for (std::size_t i = 0; i < left.records.size(); ++i) {
    RecordDiff d;
    d.type = left.records[i].type;
    d.occurrence = lo[i];
    d.leftPosition = static_cast<int>(i);
    const Record* r = nullptr;
    if (auto it = rightAt.find({d.type, d.occurrence}); it != rightAt.end()) {
      d.rightPosition = it->second;
      rightUsed[it->second] = true;
      r = &right.records[it->second];
    }
    finish(std::move(d), &left.records[i], r);
  }
  for (std::size_t i = 0; i < right.records.size(); ++i) {
    if (rightUsed[i]) continue;
    RecordDiff d;
    d.type = right.records[i].type;
    d.occurrence = ro[i];
    d.rightPosition = static_cast<int>(i);
    finish(std::move(d), nullptr, &right.records[i]);
  }
  return out;
}

namespace {

// File name without its last extension.
std::string_view stem(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace

std::vector<RunFile> pairRunFiles(const std::string& sourceFolder, const std::string& destFolder) {
  std::vector<std::string> inputs;
  std::vector<std::string> outputs;
  if (!rules::listTransactionFiles(sourceFolder, inputs)) inputs.clear();
  if (!rules::listTransactionFiles(destFolder, outputs)) outputs.clear();
  std::sort(inputs.begin(), inputs.end());
  std::vector<RunFile> out;
  out.reserve(inputs.size());
  for (const std::string& name : inputs) {
    RunFile f;
    f.name = name;
    f.input = joinPath(sourceFolder, name);
    const std::string_view base = stem(name);
    const std::string* sameName = nullptr;
    const std::string* sameStem = nullptr;
    const std::string* renamed = nullptr;
    int stems = 0;
    int renames = 0;
    for (const std::string& o : outputs) {
      const std::string_view ob = stem(o);
      if (o == name) {
        sameName = &o;
      } else if (ob == base) {
        sameStem = &o;
        ++stems;
      } else if (ob.size() > base.size() + 1 && ob.substr(0, base.size()) == base &&
                 (ob[base.size()] == '_' || ob[base.size()] == '-')) {
        renamed = &o;
        ++renames;
      }
    }
    const std::string* chosen =
        sameName ? sameName
                 : (stems == 1 ? sameStem : (stems == 0 && renames == 1 ? renamed : nullptr));
    if (chosen != nullptr) f.output = joinPath(destFolder, *chosen);
    out.push_back(std::move(f));
  }
  return out;
}

int decodeForView(const NistFile& file, int type, int occurrence, imaging::RawImage& out,
                  std::string& reason) noexcept {
  std::string why;
  const int rc = imaging::decodeRecordImage(file, type, occurrence, false, out, why);
  if (rc == 0) return 0;
  try {
    switch (rc) {
      case imaging::kUndecodable:  // also kNoDataField, which the same words cover
        reason = why.empty() ? "The image data cannot be decoded."
                             : "The image data cannot be decoded: " + why + ".";
        break;
      case imaging::kBadCompression:
        reason = "The compression field names no known format.";
        break;
      case imaging::kNoWidth:
        reason = "The raw image has no width field.";
        break;
      case imaging::kNoHeight:
        reason = "The raw image has no height field.";
        break;
      default:
        reason = "The image cannot be shown (status " + number(rc) + ").";
        break;
    }
  } catch (...) {
    reason.clear();
  }
  return rc;
}

std::vector<MinutiaMark> minutiaeForImage(const NistFile& file, int type, int occurrence,
                                          std::string& source) {
  std::vector<MinutiaMark> out;
  source.clear();
  const transaction::Transaction* tx = file.transaction();
  if (tx == nullptr) return out;
  const int count = file.countRecords(9);
  for (int n = 0; n < count; ++n) {
    rules::FeatureGeometry g;
    if (rules::findFeatureGeometry(file, n, g) != 1) continue;
    if (g.imageType != type || g.imageIndex != occurrence) continue;
    const int pos = file.findRecord(9, n);
    if (pos < 0) continue;
    std::vector<MinutiaMark> marks = incitsMinutiae(tx->records[pos]);
    std::string from = "INCITS 378";
    for (const char* block : {"FBI IAFIS", "Extended", "Legacy"}) {
      if (!marks.empty()) break;
      rules::FeatureSet fs;
      if (rules::parseFeatureBlock(file, n, block, g.heightHmm, fs) != 0) continue;
      // The same arithmetic as the conversion to the INCITS 378 block.
      const double p = g.pitch;
      for (const auto& m : fs.minutiae) {
        MinutiaMark mark;
        mark.x = static_cast<double>(std::lround(m.x / p));
        mark.y = static_cast<double>(g.height - std::lround(m.y / p));
        mark.theta = m.theta;
        mark.kind = m.kind;
        marks.push_back(mark);
      }
      from = block;
    }
    if (marks.empty()) continue;
    if (source.empty()) source = from;
    out.insert(out.end(), marks.begin(), marks.end());
  }
  return out;
}

}  // namespace varnel::app
