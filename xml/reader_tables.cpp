// Element lookups of the reader and the element-to-field tables of the image and minutiae
// records (common block, then one block per record type).
#include <tinyxml2.h>

#include <array>
#include <string>

#include "xml/detail/read_context.h"
#include "xml/reader.h"

namespace varnel::xml::detail {

namespace {

constexpr char kRs = '\x1E';
constexpr char kUs = '\x1F';

// The namespaces that exact keys name by their usual prefix.
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> kKnownPrefixes = {{
    {"nc", "http://niem.gov/niem/niem-core/2.0"},
    {"biom", "http://niem.gov/niem/biometrics/1.0"},
    {"int-i", "http://interpol.gov/int-i/1.0"},
    {"itl", "http://biometrics.nist.gov/standard/2011"},
}};

// True when the element's prefix is bound (on it or an ancestor) to `uri`.
bool boundTo(Element e, std::string_view prefix, std::string_view uri) {
  const std::string attr = "xmlns:" + std::string(prefix);
  for (const tinyxml2::XMLNode* n = e; n; n = n->Parent()) {
    const tinyxml2::XMLElement* el = n->ToElement();
    if (!el) break;
    if (const char* v = el->Attribute(attr.c_str())) return uri == v;
  }
  return false;
}

// An exact key "p:Local" also matches an element of the same local name under another prefix
// bound to the namespace that p stands for (documents may write ansi-nist: for biom:).
bool sameNamespace(Element e, std::string_view name, std::string_view key) {
  const std::size_t kc = key.find(':');
  const std::size_t nc = name.find(':');
  if (kc == std::string_view::npos || nc == std::string_view::npos ||
      name.substr(nc) != key.substr(kc)) {
    return false;
  }
  const std::string_view keyPrefix = key.substr(0, kc);
  for (const auto& [prefix, uri] : kKnownPrefixes) {
    if (prefix == keyPrefix) return boundTo(e, name.substr(0, nc), uri);
  }
  return false;
}

bool matches(Element e, std::string_view key) {
  const char* n = e->Name();
  if (!n) return false;
  const std::string_view name(n);
  if (!key.empty() && key.front() == ':') {
    return name.size() >= key.size() && name.substr(name.size() - key.size()) == key;
  }
  return name == key || sameNamespace(e, name, key);
}

}  // namespace

// ---- Lookups ----

Element child(Element parent, std::string_view key) noexcept {
  if (!parent) return nullptr;
  for (Element e = parent->FirstChildElement(); e; e = e->NextSiblingElement()) {
    if (matches(e, key)) return e;
  }
  return nullptr;
}

Element nextSibling(Element element, std::string_view key) noexcept {
  if (!element) return nullptr;
  for (Element e = element->NextSiblingElement(); e; e = e->NextSiblingElement()) {
    if (matches(e, key)) return e;
  }
  return nullptr;
}

Element path(Element parent, std::initializer_list<std::string_view> keys) noexcept {
  Element e = parent;
  for (std::string_view key : keys) e = child(e, key);
  return e;
}

std::optional<std::string_view> verbatimText(Element element) noexcept {
  if (!element) return std::nullopt;
  const tinyxml2::XMLNode* node = element->FirstChild();
  while (node && node->ToComment()) node = node->NextSibling();
  if (!node || !node->ToText()) return std::nullopt;
  const char* v = node->Value();
  if (!v || !*v) return std::nullopt;
  return std::string_view(v);
}

std::optional<std::string_view> elementText(Element element) noexcept {
  auto text = verbatimText(element);
  if (!text) return text;
  // Whitespace around a value is layout (a pretty-printed "5" followed by a line end and
  // tabs), never part of a code, number or date.
  constexpr std::string_view kSpace = " \t\r\n";
  const std::size_t first = text->find_first_not_of(kSpace);
  if (first == std::string_view::npos) return std::nullopt;
  return text->substr(first, text->find_last_not_of(kSpace) - first + 1);
}

// ---- ItemList ----

bool hasSeparator(std::string_view text) noexcept {
  for (char ch : text) {
    if (ch >= '\x1C' && ch <= '\x1F') return true;
  }
  return false;
}

std::string withoutSeparators(std::string_view text) {
  std::string out(text);
  for (char& ch : out) {
    if (ch >= '\x1C' && ch <= '\x1F') ch = ' ';
  }
  return out;
}

void ItemList::add(std::optional<std::string_view> item) {
  items_.emplace_back(item ? withoutSeparators(*item) : std::string());
  any_ = any_ || item.has_value();
}

void ItemList::add(const std::optional<std::string>& item) {
  items_.emplace_back(item ? withoutSeparators(*item) : std::string());
  any_ = any_ || item.has_value();
}

std::string ItemList::text() const {
  std::string out;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (i) out.push_back(kUs);
    out += items_[i];
  }
  return out;
}

// ---- ReadContext ----

ReadContext::ReadContext(transaction::NistFile& f, std::string_view ncPrefix)
    : file(f),
      ncIdentificationId(std::string(ncPrefix) + ":IdentificationID"),
      ncDate(std::string(ncPrefix) + ":Date"),
      ncDateTime(std::string(ncPrefix) + ":DateTime"),
      ncZuluDateTime(std::string(ncPrefix) + ":ZuluDateTime"),
      ncOrganizationName(std::string(ncPrefix) + ":OrganizationName") {}

void ReadContext::set(int type, int field, std::string_view text, int occurrence) const noexcept {
  // A refused step (field out of range, memory) is dropped; reading goes on.
  if (file.setFieldAt(type, field, text, occurrence) == transaction::kOk && type == 1 &&
      field >= 0 && field < 64) {
    type1Set |= std::uint64_t{1} << field;
  }
}

void ReadContext::set(int type, int field, const std::optional<std::string_view>& text,
                      int occurrence) const noexcept {
  if (!text) return;
  if (hasSeparator(*text)) {
    set(type, field, std::string_view(withoutSeparators(*text)), occurrence);
  } else {
    set(type, field, *text, occurrence);
  }
}

void ReadContext::set(int type, int field, const std::optional<std::string>& text,
                      int occurrence) const noexcept {
  if (text) set(type, field, std::string_view(*text), occurrence);
}

std::optional<std::string_view> ReadContext::text(
    Element parent, std::initializer_list<std::string_view> keys) noexcept {
  return elementText(path(parent, keys));
}

std::optional<std::string_view> ReadContext::idText(Element container) const noexcept {
  return elementText(child(container, ncIdentificationId));
}

std::optional<std::string> ReadContext::dateText(Element container) const {
  auto t = elementText(child(container, ncDate));
  if (!t) return std::nullopt;
  return dateFromXml(*t);
}

std::optional<std::string> ReadContext::dateTimeText(Element container) const {
  auto t = elementText(child(container, ncDateTime));
  if (!t) t = elementText(child(container, ncZuluDateTime));
  if (!t) return std::nullopt;
  return dateTimeFromXml(*t);
}

std::optional<std::string> repeatedText(Element parent, std::string_view key) {
  return eachContainer(parent, key,
                       [](Element e) { return std::string(elementText(e).value_or("")); });
}

// ---- Tables ----

namespace {

using Keys = std::initializer_list<std::string_view>;

std::optional<std::string> itemsIfAny(Element parent, Keys keys) {
  if (!parent) return std::nullopt;
  ItemList items;
  for (std::string_view key : keys) items.add(elementText(child(parent, key)));
  if (!items.any()) return std::nullopt;
  return items.text();
}

std::string itemsOf(Element parent, Keys keys) {
  ItemList items;
  for (std::string_view key : keys) items.add(elementText(child(parent, key)));
  return items.text();
}

// Vendor and product of a quality element.
void addVendorProduct(const ReadContext& c, Element q, ItemList& items, bool measureVendor) {
  auto vendor = c.idText(child(q, ":QualityAlgorithmVendorIdentification"));
  if (!vendor && measureVendor) vendor = c.idText(child(q, ":QualityMeasureVendorIdentification"));
  if (!vendor) vendor = elementText(child(q, ":QualityAlgorithmVendorID"));
  auto product = c.idText(child(q, ":QualityAlgorithmProductIdentification"));
  if (!product) product = elementText(child(q, ":QualityAlgorithmProductID"));
  items.add(vendor);
  items.add(product);
}

std::optional<std::string> imageQuality(const ReadContext& c, Element h) {
  Element q = child(h, ":ImageQuality");
  if (!q) return std::nullopt;
  ItemList items;
  items.add(elementText(child(q, ":QualityValue")));
  addVendorProduct(c, q, items, true);
  if (!items.any()) return std::nullopt;
  return items.text();
}

// Position code, vertex count, then the coordinates of every vertex.
std::string polygon(Element p, std::string_view firstKey) {
  ItemList items;
  items.add(elementText(child(p, firstKey)));
  items.add(elementText(child(p, ":PositionPolygonVertexQuantity")));
  for (Element v = child(p, ":PositionPolygonVertex"); v;
       v = nextSibling(v, ":PositionPolygonVertex")) {
    items.add(elementText(child(v, ":PositionHorizontalCoordinateValue")));
    items.add(elementText(child(v, ":PositionVerticalCoordinateValue")));
  }
  return items.text();
}

void readCommon(const ReadContext& c, int t, int occ, Element h) {
  auto set = [&](int field, const auto& text) { c.set(t, field, text, occ); };
  const bool iris = t == 17;
  Element icd = child(h, ":ImageCaptureDetail");

  {
    Element loc = child(icd, "biom:CaptureLocation");
    Element coord = child(loc, "biom:LocationTwoDimensionalGeographicCoordinate");
    Element lat = child(coord, "nc:GeographicCoordinateLatitude");
    Element lon = child(coord, "nc:GeographicCoordinateLongitude");
    Element utm = child(loc, "nc:LocationUTMCoordinate");
    Element alt = child(loc, "biom:LocationAlternateGeographicSystemValue");
    ItemList geo;
    geo.add(c.dateTimeText(child(icd, ":CaptureUTCDateTime")));
    for (std::string_view k :
         {"nc:LatitudeDegreeValue", "nc:LatitudeMinuteValue", "nc:LatitudeSecondValue"}) {
      geo.add(elementText(child(lat, k)));
    }
    for (std::string_view k :
         {"nc:LongitudeDegreeValue", "nc:LongitudeMinuteValue", "nc:LongitudeSecondValue"}) {
      geo.add(elementText(child(lon, k)));
    }
    geo.add(ReadContext::text(loc, {"nc:LocationGeographicElevation", "nc:MeasurePointValue"}));
    // The datum code stands beside the coordinates; it is also taken directly under the location.
    auto datum = elementText(child(coord, "biom:GeodeticDatumCoordinateSystemCode"));
    if (!datum) datum = elementText(child(loc, "biom:GeodeticDatumCoordinateSystemCode"));
    geo.add(datum);
    for (std::string_view k : {"nc:UTMGridZoneID", "nc:UTMEastingValue", "nc:UTMNorthingValue"}) {
      geo.add(elementText(child(utm, k)));
    }
    geo.add(elementText(child(loc, "nc:LocationDescriptionText")));
    geo.add(elementText(child(alt, "biom:GeographicLocationSystemName")));
    geo.add(elementText(child(alt, "biom:GeographicLocationText")));
    if (geo.any()) set(998, geo.text());
  }

  Element org = child(icd, ":CaptureOrganization");
  set(4, c.idText(child(org, ":OrganizationIdentification")));
  set(993, elementText(child(org, c.ncOrganizationName)));
  set(5, c.dateText(child(icd, ":CaptureDate")));
  const int dui = iris ? 17 : 903;
  const int mms = iris ? 19 : 904;
  if (t != 9)
    set(dui, ReadContext::text(icd, {":CaptureDeviceIdentification", "nc:IdentificationID"}));
  set(mms, itemsIfAny(icd, {":CaptureDeviceMakeText", ":CaptureDeviceModelText",
                            ":CaptureDeviceSerialNumberText"}));
  Element device = child(icd, ":CaptureDevice");
  set(dui, elementText(child(device, ":DeviceID")));
  set(mms, itemsIfAny(device, {":DeviceMakeText", ":DeviceModelText", ":DeviceSerialNumberText"}));
  set(iris ? 22 : 16, elementText(child(icd, ":CaptureHorizontalPixelDensityValue")));
  set(iris ? 23 : 17, elementText(child(icd, ":CaptureVerticalPixelDensityValue")));
  set(30, elementText(child(icd, ":CaptureDeviceMonitoringModeCode")));
  if (t == 14) set(26, ReadContext::text(icd, {":CaptureIdentification", ":IdentificationID"}));

  set(3, elementText(child(h, ":ImageCategoryCode")));
  set(11, elementText(child(h, ":ImageCompressionAlgorithmText")));
  if (auto code = elementText(child(h, ":ImageCompressionAlgorithmCode"))) {
    static constexpr std::array<std::string_view, 7> kNames = {"",    "WSQ20", "JPEGB", "JPEGL",
                                                               "JP2", "JP2L",  "PNG"};
    std::string_view name = *code;
    if (code->size() == 1 && (*code)[0] >= '1' && (*code)[0] <= '6')
      name = kNames[(*code)[0] - '0'];
    set(11, name);
  }
  set(6, elementText(child(h, ":ImageHorizontalLineLengthPixelQuantity")));
  set(6, elementText(child(h, ":HorizontalLineLengthPixelQuantity")));
  set(7, elementText(child(h, ":ImageVerticalLineLengthPixelQuantity")));
  set(7, elementText(child(h, ":VerticalLineLengthPixelQuantity")));
  set(8, elementText(child(h, ":ImageScaleUnitsCode")));
  set(9, elementText(child(h, ":ImageHorizontalPixelDensityValue")));
  set(10, elementText(child(h, ":ImageVerticalPixelDensityValue")));
  for (std::string_view k : {":FingerprintImageImpressionCaptureCategoryCode",
                             ":FrictionRidgeImageImpressionCaptureCategoryCode",
                             ":FrictionRidgeImpressionCaptureCode"}) {
    set(3, elementText(child(h, k)));
  }
  for (std::string_view k : {":FingerPositionCode", ":PalmPositionCode", ":PlantarPositionCode",
                             ":FrictionRidgePositionCode", ":LatentFrictionRidgePositionCode",
                             ":ExemplarFingerPositionCode"}) {
    set(13, repeatedText(h, k));
  }
}

void readType9(const ReadContext& c, int occ, Element e, Element a, Element h) {
  auto set = [&](int field, const auto& text) { c.set(9, field, text, occ); };
  set(3, elementText(nextSibling(a, ":MinutiaeImpressionCaptureCategoryCode")));
  set(3, elementText(nextSibling(a, ":FrictionRidgeImpressionCaptureCode")));
  auto fmt = elementText(nextSibling(a, ":MinutiaeFormatNISTStandardIndicator"));
  set(4, std::string_view(fmt && *fmt == "true" ? "S" : "U"));

  Element efs = child(e, ":ExtendedFeatureSetMinutiae");
  set(320, eachContainer(efs, ":MinutiaeCore", [](Element m) {
        return itemsOf(
            m,
            {":ImageLocationHorizontalCoordinateMeasure", ":ImageLocationVerticalCoordinateMeasure",
             ":MinutiaeCoreDirectionMeasure", ":ImageLocationUncertaintyRadiusMeasure",
             ":MinutiaeCoreDirectionUncertaintyValue"});
      }));
  set(321, eachContainer(efs, ":MinutiaeDelta", [](Element m) {
        return itemsOf(
            m,
            {":ImageLocationHorizontalCoordinateMeasure", ":ImageLocationVerticalCoordinateMeasure",
             ":MinutiaeDeltaDirectionUpMeasure", ":MinutiaeDeltaDirectionLeftMeasure",
             ":MinutiaeDeltaDirectionRightMeasure", ":MinutiaeDeltaCategoryCode",
             ":ImageLocationUncertaintyRadiusMeasure", ":MinutiaeDeltaDirectionUpUncertaintyValue",
             ":MinutiaeDeltaDirectionLeftUncertaintyValue",
             ":MinutiaeDeltaDirectionRightUncertaintyValue"});
      }));
  set(331, eachContainer(efs, ":EFSMinutia", [](Element m) {
        return itemsOf(
            m,
            {":ImageLocationHorizontalCoordinateMeasure", ":ImageLocationVerticalCoordinateMeasure",
             ":ImageLocationThetaAngleMeasure", ":EFSMinutiaCategoryCode",
             ":ImageLocationUncertaintyRadiusMeasure", ":MinutiaDirectionUncertaintyValue"});
      }));

  if (auto owner = c.idText(child(h, ":CBEFFFormatOwnerIdentification"))) {
    ItemList items;
    items.add(owner);
    items.add(c.idText(child(h, ":CBEFFFormatCategoryIdentification")));
    items.add(c.idText(child(h, ":CBEFFProductIdentification")));
    set(126, items.text());
  }
  set(136, elementText(child(h, ":MinutiaeQuantity")));
  set(137, eachContainer(h, ":INCITSMinutia", [&](Element m) {
        ItemList items;
        items.add(c.idText(child(m, ":MinutiaIdentification")));
        Element loc = child(m, ":INCITSMinutiaLocation");
        items.add(elementText(child(loc, ":PositionHorizontalCoordinateValue")));
        items.add(elementText(child(loc, ":PositionVerticalCoordinateValue")));
        items.add(elementText(child(loc, ":ImageLocationThetaAngleMeasure")));
        items.add(elementText(child(m, ":INCITSMinutiaCategoryCode")));
        items.add(elementText(child(m, ":MinutiaQualityValue")));
        return items.text();
      }));
  set(139, eachContainer(h, ":FingerprintPatternCoreLocation", [](Element m) {
        return itemsOf(m, {":PositionHorizontalCoordinateValue", ":PositionVerticalCoordinateValue",
                           ":ImageLocationThetaAngleMeasure"});
      }));
  set(140, eachContainer(h, ":FingerprintPatternDeltaLocation", [](Element m) {
        if (!elementText(child(m, ":PositionHorizontalCoordinateValue"))) return std::string();
        return itemsOf(m, {":PositionHorizontalCoordinateValue", ":PositionVerticalCoordinateValue",
                           ":ImageLocationThetaAngleMeasure"});
      }));
  {
    std::string angles;
    bool anyDelta = false;
    for (Element d = child(h, ":FingerprintPatternDeltaLocation"); d;
         d = nextSibling(d, ":FingerprintPatternDeltaLocation")) {
      Element first = child(d, ":ImageLocationThetaAngleMeasure");
      Element second = nextSibling(first, ":ImageLocationThetaAngleMeasure");
      if (!second) continue;
      ItemList items;
      items.add(elementText(second));
      items.add(elementText(nextSibling(second, ":ImageLocationThetaAngleMeasure")));
      if (anyDelta) angles.push_back(kRs);
      anyDelta = true;
      angles += items.text();
    }
    if (anyDelta) set(141, std::string_view(angles));
  }
  readAnnotations(c, 9, occ, e);
  Element device = child(e, ":CaptureDevice");
  set(903, elementText(child(device, ":DeviceID")));
  set(904, itemsIfAny(device, {":DeviceMakeText", ":DeviceModelText", ":DeviceSerialNumberText"}));
  set(901, repeatedText(e, ":MinutiaeUniversalLatentWorkstationAnnotationText"));
}

void readType10(const ReadContext& c, int occ, Element e, Element h) {
  auto set = [&](int field, const auto& text) { c.set(10, field, text, occ); };
  set(18, itemsIfAny(child(h, ":ImageDistortion"),
                     {":ImageDistortionCategoryCode", ":ImageDistortionMeasurementCode",
                      ":ImageDistortionSeverityCode"}));
  set(25, itemsIfAny(child(h, ":FaceImage3DPoseAngle"),
                     {":PoseYawAngleMeasure", ":PosePitchAngleMeasure", ":PoseRollAngleMeasure",
                      ":PoseYawUncertaintyValue", ":PosePitchUncertaintyValue",
                      ":PoseRollUncertaintyValue"}));
  set(12, elementText(child(h, ":ImageColorSpaceCode")));
  set(12, elementText(child(h, ":ImageColorSpaceText")));
  set(20, elementText(child(h, ":FaceImageSubjectPoseCode")));
  set(38, elementText(child(h, ":ImageCommentText")));
  set(23, itemsIfAny(child(h, ":FaceImageAcquisitionSource"),
                     {":CaptureSourceCode", ":CaptureSourceDescriptionText"}));
  if (Element square = child(h, ":FaceImageBoundingSquare")) {
    set(14, itemsOf(square,
                    {":SegmentLeftHorizontalCoordinateValue",
                     ":SegmentRightHorizontalCoordinateValue", ":SegmentTopVerticalCoordinateValue",
                     ":SegmentBottomVerticalCoordinateValue", ":FaceImageBoundingCategoryCode"}));
  }
  set(19, repeatedText(h, ":FaceImageLightingArtifactsCode"));
  set(27, elementText(child(h, ":FaceImageEyeColorAttributeCode")));
  set(21, elementText(child(h, ":FaceImagePoseOffsetAngleMeasure")));
  set(31, elementText(child(h, ":FaceImageFeaturePointTierCode")));
  set(13, elementText(child(h, ":FaceImageAcquisitionProfileCode")));
  set(26, repeatedText(h, ":FaceImageDescriptionCode"));
  set(28, repeatedText(h, ":FaceImageHairColorAttributeCode"));
  set(44, repeatedText(h, ":ImageTransformationCode"));
  set(39, c.idText(child(h, ":PhysicalFeatureReferenceIdentification")));
  set(29, eachContainer(h, ":FaceImageFeaturePoint", [&](Element p) {
        ItemList items;
        items.add(elementText(child(p, ":FeaturePointCategoryCode")));
        items.add(c.idText(child(p, ":FeaturePointIdentification")));
        items.add(elementText(child(p, ":FeaturePointHorizontalCoordinateValue")));
        items.add(elementText(child(p, ":FeaturePointVerticalCoordinateValue")));
        return items.text();
      }));
  set(33, eachContainer(h, ":FaceImageContour",
                        [](Element p) { return polygon(p, ":FaceImageContourCategoryCode"); }));
  readAnnotations(c, 10, occ, e);
  set(24, imageQuality(c, h));
  set(40, repeatedText(h, ":PhysicalFeatureNCICCode"));
  if (Element size = child(h, ":PhysicalFeatureSize")) {
    set(41, itemsOf(size, {":PhysicalFeatureHeightMeasure", ":PhysicalFeatureWidthMeasure"}));
  }
}

void readFrictionRidge(const ReadContext& c, int t, int occ, Element e, Element h) {
  auto set = [&](int field, const auto& text) { c.set(t, field, text, occ); };
  set(12, elementText(child(h, ":ImageBitsPerPixelQuantity")));
  set(901, elementText(child(h, ":FrictionRidgeCaptureTechnology")));
  if (t != 19) set(20, elementText(child(h, ":ImageCommentText")));
  readAnnotations(c, t, occ, e);
  if (t != 14) return;
  set(22, eachContainer(h, ":FingerprintImageNISTQuality", [](Element q) {
        return itemsOf(q, {":FingerPositionCode", ":NISTQualityMeasure"});
      }));
  set(24, eachContainer(h, ":FingerprintImageQuality", [&](Element q) {
        ItemList items;
        items.add(elementText(child(q, ":FingerPositionCode")));
        items.add(elementText(child(q, ":QualityValue")));
        addVendorProduct(c, q, items, false);
        return items.text();
      }));
  set(31, elementText(child(h, ":FingerprintImageAcquisitionProfileCode")));
  set(25, eachContainer(h, ":FingerprintImageSegmentPositionPolygon",
                        [](Element p) { return polygon(p, ":FingerPositionCode"); }));
  if (auto stitched = elementText(child(h, ":FingerprintImageStitchedIndicator"))) {
    std::string_view code = *stitched;
    if (code == "true" || code == "True") code = "Y";
    if (code == "false") code = "N";
    set(27, code);
  }
  set(18, eachContainer(h, ":FingerprintImageFingerMissing", [](Element m) {
        return itemsOf(m, {":FingerPositionCode", ":FingerMissingCode"});
      }));
}

void readType16(const ReadContext& c, int occ, Element e, Element h) {
  auto set = [&](int field, const auto& text) { c.set(16, field, text, occ); };
  set(12, elementText(child(h, ":ImageBitsPerPixelQuantity")));
  set(13, elementText(child(h, ":ImageColorSpaceCode")));
  set(20, elementText(child(h, ":ImageCommentText")));
  set(24, imageQuality(c, h));
  readAnnotations(c, 16, occ, e);
}

void readType99(const ReadContext& c, int occ, Element e, Element h) {
  auto set = [&](int field, const auto& text) { c.set(99, field, text, occ); };
  set(100, c.idText(child(h, ":CBEFFVersionIdentification")));
  set(101, elementText(child(h, ":CBEFFCategoryCode")));
  set(102, eachContainer(h, ":ImageQuality", [&](Element q) {
        ItemList items;
        items.add(elementText(child(q, ":QualityValue")));
        addVendorProduct(c, q, items, true);
        return items.text();
      }));
  set(103, c.idText(child(h, ":CBEFFFormatOwnerIdentification")));
  set(104, c.idText(child(h, ":CBEFFFormatCategoryIdentification")));
  readAnnotations(c, 99, occ, e);
}

void readType17(const ReadContext& c, int occ, Element e, Element h) {
  auto set = [&](int field, const auto& text) { c.set(17, field, text, occ); };
  set(3, elementText(child(h, ":IrisEyePositionCode")));
  set(12, elementText(child(h, ":ImageBitsPerPixelQuantity")));
  set(13, elementText(child(h, ":ImageColorSpaceCode")));
  set(14, elementText(child(h, ":IrisEyeRotationAngleText")));
  set(15, elementText(child(h, ":IrisEyeRotationUncertaintyValueText")));
  readAnnotations(c, 17, occ, e);
  set(24, imageQuality(c, h));
  set(21, elementText(child(h, ":ImageCommentText")));
  set(20, elementText(child(h, ":IrisEyeColorAttributeCode")));
  set(26, elementText(child(h, ":IrisDiameterPixelQuantity")));
  set(28, elementText(child(h, ":IrisImageMissingReasonCode")));
  set(31, elementText(child(h, ":IrisImageAcquisitionProfileCode")));
  set(32, elementText(child(h, ":IrisImageStorageFormatCode")));
  set(40, elementText(child(h, ":IrisImageRangeMeasure")));
  set(41, elementText(child(h, ":IrisImageGazeAngleMeasure")));
}

void readType20(const ReadContext& c, int occ, Element e, Element h) {
  auto set = [&](int field, const auto& text) { c.set(20, field, text, occ); };
  set(3, elementText(child(e, ":SourceRecordCardinalityCode")));
  set(13, elementText(child(h, ":ImageColorSpaceCode")));
  set(12, elementText(child(h, ":ImageBitsPerPixelQuantity")));
  readAnnotations(c, 20, occ, e);
  // What the writer puts in a Type-20 element beyond the table above is read back as well.
  set(14, ReadContext::text(e, {":SourceAcquisition", ":AcquisitionSourceCode"}));
  set(15, itemsIfAny(child(e, ":SourceFileFormat"),
                     {":SourceFileCategoryText", ":SourceFileDecodingInstructionsText"}));
  set(21, c.idText(child(e, ":SourceIdentification")));
  set(24, imageQuality(c, h));
  set(38, elementText(child(h, ":ImageCommentText")));
}

// Source agency (x.004) and its name (x.993) from a capture organization.
void readCaptureOrganization(const ReadContext& c, int t, int occ, Element org) {
  c.set(t, 4, c.idText(child(org, ":OrganizationIdentification")), occ);
  c.set(t, 993, elementText(child(org, c.ncOrganizationName)), occ);
}

void readType21(const ReadContext& c, int occ, Element e) {
  auto set = [&](int field, const auto& text) { c.set(21, field, text, occ); };
  set(15, itemsIfAny(child(e, ":ContextFileFormat"),
                     {":ContextFileCategoryText", ":ContextFileDecodingInstructionsText"}));
  set(20, elementText(child(e, ":ContextCommentText")));
  set(21, c.idText(child(e, ":ContextIdentification")));
  set(994, elementText(child(e, ":ContextExternalFileReferenceText")));
  readAnnotations(c, 21, occ, e);
}

void readType22(const ReadContext& c, int occ, Element e, Element h) {
  auto set = [&](int field, const auto& text) { c.set(22, field, text, occ); };
  Element capture = child(h, ":BiometricCaptureDetail");
  set(3, c.dateText(child(capture, ":CaptureDate")));
  readCaptureOrganization(c, 22, occ, child(capture, ":CaptureOrganization"));
  set(20, elementText(child(h, ":NonPhotographicImageryCommentText")));
  set(46, itemsIfAny(child(h, ":SubjectExistentialDetails"),
                     {":SubjectExistentialStatusCode", ":SubjectBodyStatusCode",
                      ":SubjectBodyClassCode"}));
  set(101, elementText(child(h, ":NonPhotographicImageTypeCode")));
  set(102, elementText(child(h, ":NonPhotographicImageFormatCode")));
  set(103, itemsIfAny(child(h, ":DentalRadiographImageInformation"),
                      {":RadiographSize", ":RadiographImageSeries", ":RadiographImageSeriesText",
                       ":RadiographImageInformationText"}));
  readAnnotations(c, 22, occ, e);
}

void readType98(const ReadContext& c, int occ, Element e) {
  auto set = [&](int field, const auto& text) { c.set(98, field, text, occ); };
  set(3, c.idText(child(e, ":AssuranceFormatOwnerIdentification")));
  readCaptureOrganization(c, 98, occ, child(e, ":AssuranceOrganization"));
  set(5, c.idText(child(e, ":AssuranceFormatIdentification")));
  set(6, c.dateTimeText(child(e, ":AssuranceDateTime")));
  set(900, eachContainer(e, ":AssuranceLogEntry", [](Element l) {
        return itemsOf(l, {":AssuranceLogEventCode", ":AssuranceLogEventReasonText",
                           ":AssuranceLogEventLocationText", ":AssuranceLogAgentText",
                           ":AssuranceLogEventOriginalValueText"});
      }));
  set(901, c.idText(child(e, ":AssuranceAuditRevisionIdentification")));
}

}  // namespace

void readAnnotations(const ReadContext& c, int type, int occurrence, Element e) {
  bool dated = false;
  auto value = eachContainer(e, ":ProcessAnnotation", [&](Element p) {
    auto date = c.dateTimeText(child(p, ":ProcessUTCDate"));
    if (!date) return std::string();
    dated = true;
    ItemList items;
    items.add(date);
    items.add(elementText(child(p, ":ProcessName")));
    items.add(elementText(child(p, ":ProcessOwnerText")));
    items.add(elementText(child(p, ":ProcessDescriptionText")));
    return items.text();
  });
  if (dated) c.set(type, 902, value, occurrence);
}

void readImageFields(const ReadContext& c, int category, int occurrence, Element e, Element a,
                     Element h) {
  // The dental, DNA, non-photographic imagery and assurance records have no image element of the
  // common layout.
  if (category != 12 && category != 18 && category != 22 && category != 98) {
    readCommon(c, category, occurrence, h);
  }
  switch (category) {
    case 9:
      readType9(c, occurrence, e, a, h);
      break;
    case 10:
      readType10(c, occurrence, e, h);
      break;
    case 13:
    case 14:
    case 15:
    case 19:
      readFrictionRidge(c, category, occurrence, e, h);
      break;
    case 16:
      readType16(c, occurrence, e, h);
      break;
    case 17:
      readType17(c, occurrence, e, h);
      break;
    case 20:
      readType20(c, occurrence, e, h);
      break;
    case 12:
    case 18:
      readCaptureOrganization(
          c, category, occurrence,
          path(h, {category == 12 ? ":DentalCaptureDetail" : ":BiometricCaptureDetail",
                   ":CaptureOrganization"}));
      readAnnotations(c, category, occurrence, e);
      break;
    case 21:
      readType21(c, occurrence, e);
      break;
    case 22:
      readType22(c, occurrence, e, h);
      break;
    case 98:
      readType98(c, occurrence, e);
      break;
    case 99:
      readType99(c, occurrence, e, h);
      break;
    default:
      break;
  }
}

}  // namespace varnel::xml::detail
