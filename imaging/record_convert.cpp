// Record conversions: Type-4/6 records to Type-14/13 and back, and new Type-7 records from
// image files.
#include <cmath>
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "imaging/detail/codecs.h"
#include "imaging/detail/record_access.h"
#include "imaging/image_layer.h"
#include "imaging/status.h"

namespace varnel::imaging {

using detail::fieldBytes;
using detail::fieldText;
using transaction::Field;
using transaction::Item;
using transaction::Record;
using transaction::Subfield;

namespace {

// Lowest resolution (pixels per millimetre) converted in either direction: the double just
// above 19.49.
constexpr double kMinPpmm = 19.490000000000002;
// Highest resolution converted from Type 14 to Type 4.
constexpr double kMaxPpmm = 19.89;
// Resolution that counts as the native 500 ppi of a Type-4 record (ISR "0").
constexpr double kNativePpmm = 19.7;

constexpr int kNotConverted = 1;
// The record holds a value its binary counterpart cannot store.
constexpr int kValueDoesNotFit = 2;

// Replaces the record at `position` by `built` (same place, its IDC from its field 2).
int replaceRecordAt(transaction::NistFile& file, std::size_t position, Record built) {
  const transaction::Transaction& tx = *file.transaction();
  const int oldType = tx.records[position].type;
  const int pos = static_cast<int>(position);
  if (int rc = file.insertRecord(pos, std::move(built), false); rc < 0) return rc;
  const int occurrence = detail::occurrenceAt(*file.transaction(), position + 1);
  return file.deleteRecord(oldType, occurrence);
}

// Builds the Type-14 (or Type-13) record from a Type-4/6 record. Returns 0 with `out`,
// kNotConverted, or a negative status.
int buildTaggedFromBinary(const transaction::NistFile& file, const Record& old, Record& out) {
  const std::string bpx = old.type == 4 ? "8" : "1";
  const auto gca = fieldText(old, 8);
  std::string cga;
  if (gca && *gca == "0") {
    cga = "NONE";
  } else if (gca && *gca == "1") {
    cga = "WSQ20";
  } else {
    return kNotConverted;
  }
  std::string_view ntrText;
  if (file.getFieldText(1, 12, ntrText) < 0) return kT4NoResolution;
  const double ntr = detail::parseReal(ntrText).value_or(0.0);
  if (!(ntr >= kMinPpmm)) return kNotConverted;
  const auto imp = fieldText(old, 3);
  if (!imp) return kT4NoImpression;
  const long long impValue = transaction::parseLeadingInt(*imp);
  if (impValue > 7) return kT4BadImpression;
  const int newType = impValue >= 4 ? 13 : 14;

  const auto idc = fieldText(old, 2);
  if (!idc) return kT4NoIdc;
  std::string_view ori, dat;
  if (file.getFieldText(1, 8, ori) < 0) return kT4NoOri;
  if (file.getFieldText(1, 5, dat) < 0) return kT4NoDate;
  const auto hll = fieldText(old, 6);
  if (!hll) return kT4NoWidth;
  const auto vll = fieldText(old, 7);
  if (!vll) return kT4NoHeight;
  const Field* fgp = transaction::findField(old, 4);
  if (fgp == nullptr || fgp->subfields.empty() || fgp->subfields[0].items.empty()) {
    return kT4NoFingers;
  }
  const auto data = fieldBytes(old, 9);
  if (!data) return kT4NoData;

  char idcText[16];
  (void)std::snprintf(idcText, sizeof idcText, "%02d",
                      static_cast<int>(transaction::parseLeadingInt(*idc)));
  const std::string scale = detail::decimal(static_cast<long long>(std::floor(ntr * 10 + 0.5)));
  std::vector<std::string> fingers;
  const auto& items = fgp->subfields[0].items;
  fingers.push_back(items[0].value);
  for (std::size_t i = 1; i < items.size() && items[i].value != "255"; ++i) {
    fingers.push_back(items[i].value);
  }

  Record r = transaction::makeTaggedRecord(newType);
  const transaction::TreePath at{nullptr, &r};
  const std::pair<int, std::vector<std::string>> texts[] = {{1, {"0"}},
                                                            {2, {idcText}},
                                                            {3, {std::string(*imp)}},
                                                            {4, {std::string(ori)}},
                                                            {5, {std::string(dat)}},
                                                            {6, {std::string(*hll)}},
                                                            {7, {std::string(*vll)}},
                                                            {8, {"2"}},
                                                            {9, {scale}},
                                                            {10, {scale}},
                                                            {11, {cga}},
                                                            {12, {bpx}},
                                                            {13, std::move(fingers)}};
  for (const auto& [number, subfields] : texts) {
    Field f;
    if (transaction::makeTextField(newType, number, subfields, f) < 0) return kT4TagTooLong;
    transaction::appendField(at, std::move(f));
  }
  Field dataField;
  if (transaction::makeDataField(
          newType, 999, std::string(reinterpret_cast<const char*>(data->data()), data->size()),
          true, dataField) < 0) {
    return kT4TagTooLong;
  }
  transaction::appendField(at, std::move(dataField));
  std::int32_t growth = 0;
  if (transaction::updateRecordLength(r, growth) < 0) return kT4NoData;
  out = std::move(r);
  return kOk;
}

// Builds the binary Type-4 (or Type-6) record from a Type-14/13 record. A value that does not
// fit its binary field gives kValueDoesNotFit with the field in `unfit`.
int buildBinaryFromTagged(const Record& old, Record& out, UnfitValue& unfit) {
  const auto cga = fieldText(old, 11);
  if (!cga) return kT14NoCompressionOrUnits;
  std::string gca;
  if (*cga == "NONE") {
    gca = "0";
  } else if (*cga == "WSQ20") {
    gca = "1";
  } else {
    return kNotConverted;
  }
  const auto slc = fieldText(old, 8);
  if (!slc) return kT14NoCompressionOrUnits;
  if (!fieldText(old, 9)) return kT14NoHorizontalScale;
  const auto tvps = fieldText(old, 10);
  if (!tvps) return kT14NoVerticalScale;
  const long long units = transaction::parseLeadingInt(*slc);
  const double vps = detail::parseReal(*tvps).value_or(0.0);
  double ppmm = 0;
  if (units == 1) {
    ppmm = vps / 25.4;
  } else if (units == 2) {
    ppmm = vps / 10;
  } else if (units == 0) {
    return kNotConverted;
  } else {
    return kT14BadUnitsOrNoDepth;
  }
  if (!(ppmm >= kMinPpmm && ppmm <= kMaxPpmm)) return kNotConverted;
  const auto bpx = fieldText(old, 12);
  if (!bpx) return kT14BadUnitsOrNoDepth;
  int newType = 0;
  if (*bpx == "1") {
    newType = 6;
  } else if (*bpx == "8") {
    newType = 4;
  } else {
    return kNotConverted;
  }
  if (!fieldText(old, 1)) return kT14NoLength;
  const auto idc = fieldText(old, 2);
  if (!idc) return kT14NoIdc;
  const auto imp = fieldText(old, 3);
  if (!imp) return kT14NoImpression;
  const Field* fgp = transaction::findField(old, 13);
  if (fgp == nullptr) return kT14NoFingers;
  const auto hll = fieldText(old, 6);
  if (!hll) return kT14NoWidth;
  const auto vll = fieldText(old, 7);
  if (!vll) return kT14NoHeight;
  const auto data = fieldBytes(old, 999);
  if (!data) return kT14NoData;
  if (data->size() > 0x7FFFFFFFu - 18u) return kT14NoData;

  std::vector<std::string> fingers;
  for (const Subfield& sf : fgp->subfields) {
    if (fingers.size() == 6) break;
    fingers.push_back(sf.items.empty() ? std::string("255") : sf.items[0].value);
  }
  while (fingers.size() < 6) fingers.emplace_back("255");

  // Written as they are, larger numbers would wrap to other ones.
  const std::pair<int, std::string_view> checks[] = {
      {2, *idc},        {3, *imp},        {13, fingers[0]}, {13, fingers[1]}, {13, fingers[2]},
      {13, fingers[3]}, {13, fingers[4]}, {13, fingers[5]}, {6, *hll},        {7, *vll}};
  for (const auto& [number, text] : checks) {
    const int width = number == 6 || number == 7 ? 2 : 1;
    if (transaction::fitsBinaryWidth(text, width)) continue;
    unfit.field = number;
    unfit.text = std::string(text);
    unfit.width = width;
    return kValueDoesNotFit;
  }

  transaction::BinaryImageValues values;
  values.idc = std::string(*idc);
  values.impression = std::string(*imp);
  for (std::size_t i = 0; i < 6; ++i) values.fingers[i] = std::move(fingers[i]);
  values.scanResolution = ppmm == kNativePpmm ? "0" : "1";
  values.width = std::string(*hll);
  values.height = std::string(*vll);
  values.compression = gca;
  Record r;
  if (transaction::makeBinaryImageRecord(
          newType, values, std::string(reinterpret_cast<const char*>(data->data()), data->size()),
          r) < 0) {
    return kT14NoData;
  }
  out = std::move(r);
  return kOk;
}

using Builder = int (*)(const transaction::NistFile&, const Record&, Record&, UnfitValue&);

int convertRecords(transaction::NistFile& file, int typeA, int typeB, Builder build,
                   std::vector<UnfitValue>* unfit) {
  if (file.transaction() == nullptr) return kNoTransaction;
  std::size_t pos = 1;
  while (pos < file.transaction()->records.size()) {
    const Record& rec = file.transaction()->records[pos];
    if (rec.type != typeA && rec.type != typeB) {
      ++pos;
      continue;
    }
    Record built;
    UnfitValue bad;
    const int rc = build(file, rec, built, bad);
    if (rc < 0) return rc;
    if (rc == kValueDoesNotFit && unfit != nullptr) {
      bad.type = rec.type;
      bad.occurrence = detail::occurrenceAt(*file.transaction(), pos);
      unfit->push_back(std::move(bad));
    }
    if (rc == kOk) {
      if (int ins = replaceRecordAt(file, pos, std::move(built)); ins < 0) return ins;
    }
    ++pos;
  }
  return kOk;
}

}  // namespace

int convertType4ToType14(transaction::NistFile& file) noexcept {
  try {
    return convertRecords(
        file, 4, 6,
        [](const transaction::NistFile& f, const Record& old, Record& out, UnfitValue&) {
          return buildTaggedFromBinary(f, old, out);
        },
        nullptr);
  } catch (const std::bad_alloc&) {
    return kAllocFailed;
  } catch (...) {
    return kAllocFailed;
  }
}

int convertType14ToType4(transaction::NistFile& file, std::vector<UnfitValue>* unfit) noexcept {
  try {
    return convertRecords(
        file, 13, 14,
        [](const transaction::NistFile&, const Record& old, Record& out, UnfitValue& bad) {
          return buildBinaryFromTagged(old, out, bad);
        },
        unfit);
  } catch (const std::bad_alloc&) {
    return kAllocFailed;
  } catch (...) {
    return kAllocFailed;
  }
}

int addImageRecord(transaction::NistFile& file, std::span<const std::uint8_t> image,
                   int fingerPosition, int impressionType) noexcept {
  const transaction::Transaction* tx = file.transaction();
  if (tx == nullptr) return kNoTransaction;
  try {
    int width = 0, height = 0, depth = 0, gca = 0;
    std::vector<std::uint8_t> stored;
    std::span<const std::uint8_t> data = image;
    switch (sniffStream(image)) {
      case StreamKind::kBmp: {
        RawImage raw;
        if (bmpDecodeContainer(image, raw) < 0) return kBadFormat;
        width = raw.width;
        height = raw.height;
        depth = raw.depth;
        stored = std::move(raw.pixels);
        data = stored;
        gca = 0;
        break;
      }
      case StreamKind::kWsq:
        if (wsqReadFrame(image, width, height) < 0) return kBadFormat;
        depth = 8;
        gca = 1;
        break;
      case StreamKind::kPng:
        if (pngReadHeader(image, width, height, depth) < 0) return kBadFormat;
        gca = 6;
        break;
      default:
        return kBadFormat;
    }
    if (depth != 8) return kBadDepth;
    if (width > 0xFFFF || height > 0xFFFF) return kAddBuildFailed;
    char idc[16];
    (void)std::snprintf(idc, sizeof idc, "%02d", static_cast<int>(tx->records.size()) - 1);
    const std::string_view idcText(idc);
    const std::uint8_t fgp[6] = {
        static_cast<std::uint8_t>(fingerPosition), 255, 255, 255, 255, 255};
    if (file.appendBinaryImageRecord(7, &idcText, 0, impressionType, fgp, 0, width, height, gca,
                                     data) < 0) {
      return kAddInsertFailed;
    }
    return kOk;
  } catch (...) {
    return kAddBuildFailed;
  }
}

}  // namespace varnel::imaging
