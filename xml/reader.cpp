#include "xml/reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <new>

#include "transaction/base64.h"
#include "transaction/sha256.h"
#include "transaction/tree.h"
#include "xml/detail/element_tables.h"
#include "xml/detail/input_window.h"
#include "xml/detail/read_context.h"
#include "xml/detail/set_aside.h"
#include "xml/status.h"

namespace varnel::xml {

using detail::child;
using detail::Element;
using detail::elementText;
using detail::ItemList;
using detail::nextSibling;
using detail::path;
using detail::ReadContext;
using transaction::decodeBase64Strict;

namespace {

constexpr std::string_view kNiemCoreUri = "http://niem.gov/niem/niem-core/2.0";
constexpr std::string_view kPackageSuffix = "ExchangePackage";
constexpr int kMaxRecordType = 99;

// Record element names that give a category without a RecordCategoryCode child.
struct NamedCategory {
  std::string_view name;
  int category;
};
constexpr std::array<NamedCategory, 21> kNamedCategories = {{
    {"itl:PackageInformationRecord", 1},
    {"itl:PackageDescriptiveTextRecord", 2},
    {"itl:PackageLegacyFingerprintImageRecord", 4},
    {"itl:PackageUserDefinedImageRecord", 7},
    {"itl:PackageSignatureImageRecord", 8},
    {"itl:PackageMinutiaeRecord", 9},
    {"itl:PackagePhotographicBodyPartImageRecord", 10},
    {"itl:PackageVoiceDataRecord", 11},
    {"itl:PackageForensicDentalDataRecord", 12},
    {"itl:PackageLatentImageRecord", 13},
    {"itl:PackageFingerImpressionImageRecord", 14},
    {"itl:PackagePalmPrintImageRecord", 15},
    {"itl:PackageUserDefinedTestingImageRecord", 16},
    {"itl:PackageIrisImageRecord", 17},
    {"itl:PackageDNARecord", 18},
    {"itl:PackagePlantarImageRecord", 19},
    {"itl:PackageSourceRepresentationRecord", 20},
    {"itl:PackageAssociatedContextRecord", 21},
    {"itl:PackageNonPhotographicImageryRecord", 22},
    {"itl:PackageInformationAssuranceRecord", 98},
    {"itl:PackageCBEFFBiometricDataRecord", 99},
}};
constexpr std::string_view kLegacyName = "itl:PackageLegacyFingerprintImageRecord";

std::string_view nameOf(Element e) {
  return e->Name() ? std::string_view(e->Name()) : std::string_view();
}

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// The prefix that the root binds to `uri` with an "xmlns:" attribute, else `fallback`.
std::string namespacePrefixFor(Element root, std::string_view uri, std::string_view fallback) {
  if (root) {
    for (const tinyxml2::XMLAttribute* a = root->FirstAttribute(); a; a = a->Next()) {
      std::string_view name = a->Name() ? a->Name() : "";
      std::string_view value = a->Value() ? a->Value() : "";
      if (value == uri && name.size() > 6 && name.substr(0, 6) == "xmlns:") {
        return std::string(name.substr(6));
      }
    }
  }
  return std::string(fallback);
}

long long number(const std::optional<std::string_view>& text) {
  return text ? transaction::parseLeadingInt(*text) : 0;
}

// ---- The project's extension fields ----

constexpr std::string_view kExtensionUri = "http://varnel.example/ext/1.0";

// The namespace URI the element's prefix is bound to, from its own or its ancestors' xmlns
// attributes; empty when unbound.
std::string_view namespaceOf(Element e) {
  const std::string_view name = nameOf(e);
  const std::size_t colon = name.find(':');
  std::string attr = colon == std::string_view::npos
                         ? std::string("xmlns")
                         : "xmlns:" + std::string(name.substr(0, colon));
  for (const tinyxml2::XMLNode* n = e; n; n = n->Parent()) {
    const tinyxml2::XMLElement* el = n->ToElement();
    if (!el) break;
    if (const char* v = el->Attribute(attr.c_str())) return v;
  }
  return {};
}

std::string_view localName(Element e) {
  const std::string_view name = nameOf(e);
  const std::size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

bool isExtension(Element e, std::string_view local) {
  return localName(e) == local && namespaceOf(e) == kExtensionUri;
}

// Fields kept in the extension namespace: each Field element by number, its Subfield elements
// and their Item elements, in order. LEN, IDC and image data are never taken from here (field 999
// of the records where it is text is).
void readExtensionFields(const ReadContext& c, int type, int occurrence, Element set) {
  for (Element f = set->FirstChildElement(); f; f = f->NextSiblingElement()) {
    if (localName(f) != "Field") continue;
    unsigned number = 0;
    if (f->QueryUnsignedAttribute("number", &number) != tinyxml2::XML_SUCCESS || number < 3 ||
        (number == 999 && transaction::isImageDataField(type, 999)) ||
        number > static_cast<unsigned>(INT32_MAX)) {
      continue;
    }
    std::string text;
    bool firstSub = true;
    for (Element sub = f->FirstChildElement(); sub; sub = sub->NextSiblingElement()) {
      if (localName(sub) != "Subfield") continue;
      if (!firstSub) text.push_back('\x1E');
      firstSub = false;
      bool firstItem = true;
      for (Element item = sub->FirstChildElement(); item; item = item->NextSiblingElement()) {
        if (localName(item) != "Item") continue;
        if (!firstItem) text.push_back('\x1F');
        firstItem = false;
        if (auto v = detail::verbatimText(item)) text.append(detail::withoutSeparators(*v));
      }
    }
    c.set(type, static_cast<int>(number), std::string_view(text), occurrence);
  }
}

// The record element's extension field set, when it has one.
void readRecordExtension(const ReadContext& c, int type, int occurrence, Element e) {
  for (Element k = e->FirstChildElement(); k; k = k->NextSiblingElement()) {
    if (isExtension(k, "RecordFields")) readExtensionFields(c, type, occurrence, k);
  }
}

// ---- Type-1 ----

void readType1(const ReadContext& c, Element t) {
  if (!t) return;
  auto set = [&](int field, const auto& text) { c.set(1, field, text, 0); };

  auto major = elementText(child(t, ":TransactionMajorVersionValue"));
  auto minor = elementText(child(t, ":TransactionMinorVersionValue"));
  if (major && minor) {
    char ver[48];
    const int n = std::snprintf(ver, sizeof ver, "%02lld%02lld", number(major), number(minor));
    if (n > 0 && static_cast<std::size_t>(n) < sizeof ver) set(2, std::string_view(ver));
  }

  auto tot = elementText(child(t, ":TransactionCategoryCode"));
  if (!tot) tot = elementText(child(t, ":TransactionCategoryTOT"));
  if (!tot) tot = elementText(child(t, ":RecordTransactionCategoryCode"));
  set(4, tot);
  set(4, ReadContext::text(t, {"int-i:TransactionAugmentation", "int-i:TransactionCategoryCode"}));

  if (Element dat = child(t, ":TransactionDate")) {
    if (child(dat, c.ncDate)) {
      set(5, c.dateText(dat));
    } else if (auto own = elementText(dat)) {
      set(5, dateFromXml(*own));
    }
  }
  set(6, elementText(child(t, ":TransactionPriorityValue")));

  // Destination (1.007) and originating (1.008) agencies, and their names for 1.017.
  ItemList names;
  const std::array<std::pair<std::string_view, std::string_view>, 2> sides = {{
      {":TransactionDestinationOrganization", ":TransactionDestinationAgency"},
      {":TransactionOriginatingOrganization", ":TransactionOriginatingAgency"},
  }};
  int field = 7;
  for (const auto& [orgKey, agencyKey] : sides) {
    if (Element org = child(t, orgKey)) {
      set(field, c.idText(child(org, ":OrganizationIdentification")));
      names.add(elementText(child(org, c.ncOrganizationName)));
    } else {
      Element agency = child(t, agencyKey);
      set(field, ReadContext::text(agency, {":IdentificationID"}));
      names.add(elementText(child(agency, ":AgencyName")));
    }
    ++field;
  }
  if (names.any()) set(17, names.text());

  auto tcn = c.idText(child(t, ":TransactionControlIdentification"));
  if (!tcn) tcn = elementText(child(t, ":TransactionControlNumberID"));
  set(9, tcn);
  auto tcr = c.idText(child(t, ":TransactionControlReferenceIdentification"));
  if (!tcr) tcr = elementText(child(t, ":TransactionControlReferenceNumberID"));
  set(10, tcr);

  Element res = child(t, ":TransactionImageResolutionDetails");
  set(11, elementText(child(res, ":NativeScanningResolutionValue")));
  set(12, elementText(child(res, ":NominalTransmittingResolutionValue")));
  set(14, c.dateTimeText(child(t, ":TransactionUTCDate")));

  // Each directory entry, and each profile, that has its first item gives one subfield.
  std::string dcsText;
  for (Element dcs = child(t, ":TransactionCharacterSetDirectory"); dcs;
       dcs = nextSibling(dcs, ":TransactionCharacterSetDirectory")) {
    auto index = elementText(child(dcs, ":CharacterSetIndexCode"));
    if (!index) continue;
    ItemList items;
    items.add(index);
    items.add(elementText(child(dcs, ":CharacterSetCommonNameCode")));
    auto version = c.idText(child(dcs, ":CharacterSetVersionIdentification"));
    if (!version) version = elementText(child(dcs, ":CharacterSetVersionID"));
    items.add(version);
    if (!dcsText.empty()) dcsText.push_back('\x1E');
    dcsText += items.text();
  }
  if (!dcsText.empty()) set(15, std::string_view(dcsText));

  std::string apsText;
  for (Element aps = child(t, ":TransactionApplicationProfile"); aps;
       aps = nextSibling(aps, ":TransactionApplicationProfile")) {
    auto org = elementText(child(aps, ":ApplicationProfileOrganizationName"));
    if (!org) continue;
    ItemList items;
    items.add(org);
    items.add(elementText(child(aps, ":ApplicationProfileName")));
    items.add(c.idText(child(aps, ":ApplicationProfileVersionIdentification")));
    if (!apsText.empty()) apsText.push_back('\x1E');
    apsText += items.text();
  }
  if (!apsText.empty()) set(16, std::string_view(apsText));

  if (Element dom = child(t, ":TransactionDomain")) {
    auto versionId = c.idText(child(dom, ":DomainVersionNumberIdentification"));
    if (auto name = elementText(child(dom, ":TransactionDomainName"))) {
      ItemList items;
      items.add(name);
      auto version = versionId;
      if (!version) version = elementText(child(dom, ":DomainVersionNumberID"));
      items.add(version);
      set(13, items.text());
    }
    if (auto org = elementText(child(dom, ":OrganizationName"))) {
      ItemList items;
      items.add(org);
      items.add(versionId);
      set(13, items.text());
    }
  }
  set(18, elementText(child(t, ":TransactionGeographicNameSetCode")));
}

// ---- Type-2 ----

// Prefix, given, middle and surname, suffix; then the maiden and extended names when given.
std::optional<std::string> personName(Element name) {
  if (!name) return std::nullopt;
  ItemList items;
  for (std::string_view key :
       {"nc:PersonNamePrefixText", "nc:PersonGivenName", "nc:PersonMiddleName", "nc:PersonSurName",
        "nc:PersonNameSuffixText"}) {
    items.add(elementText(child(name, key)));
  }
  auto maiden = elementText(child(name, "nc:PersonMaidenName"));
  auto extended = elementText(child(name, "int-i:PersonExtendedName"));
  if (maiden || extended) items.add(maiden);
  if (extended) items.add(extended);
  return items.text();
}

std::optional<std::string> contact(Element info) {
  if (!info) return std::nullopt;
  ItemList items;
  items.add(ReadContext::text(
      info, {"nc:ContactTelephoneNumber", "nc:FullTelephoneNumber", "nc:TelephoneNumberFullID"}));
  items.add(elementText(child(info, "nc:OrganizationName")));
  items.add(elementText(child(info, "nc:PersonFullName")));
  items.add(elementText(child(info, "int-i:AdditionalContactInformationText")));
  if (!items.any()) return std::nullopt;
  return items.text();
}

void readGsatLayout(const ReadContext& c, Element g) {
  auto set = [&](int field, const auto& text) { c.set(2, field, text, 0); };
  Element activity = child(g, "int-i:RecordActivity");
  set(21, elementText(child(activity, "nc:ActivityReasonText")));
  Element address =
      path(activity, {"int-i:ArrestLocation", "nc:LocationAddress", "nc:StructuredAddress"});
  if (auto city = elementText(child(address, "nc:LocationCityName"))) {
    ItemList items;
    items.add(city);
    items.add(elementText(child(address, "nc:LocationCountryISO3166Alpha3Code")));
    set(22, items.text());
  }
  Element subject = child(g, "gsat:RecordSubject");
  set(35, c.dateText(child(subject, ":PersonBirthDate")));
  set(39, elementText(child(subject, "int-i:PersonSexCode")));
  set(38, elementText(child(subject, "nc:PersonCitizenshipISO3166Alpha3Code")));
  set(30, personName(child(subject, "int-i:PersonName")));
  set(63, contact(path(g, {"gsat:RecordMetadata", "int-i:ContactInformation"})));
  set(54, ReadContext::text(g, {"int-i:RecordOffense", "int-i:OffenseDescriptionText"}));
  Element meta = child(g, "gsat:TransactionMetadata");
  set(201, c.idText(child(meta, "gsat:PersonalControlNumber")));
  set(12, elementText(child(meta, "gsat:INPOLEnummer")));
}

// The element a path of the INTERPOL table names below the domain's detail element.
Element interpolElement(Element d, std::string_view rowPath) {
  Element e = d;
  for (std::size_t from = 0; e && from <= rowPath.size();) {
    const std::size_t slash = std::min(rowPath.find('/', from), rowPath.size());
    e = child(e, rowPath.substr(from, slash - from));
    from = slash + 1;
  }
  return e;
}

// The INTERPOL fields that the layout above leaves, straight from the table's rows: a whole
// field, or the items of its first subfield in order.
void readInterpolRows(const ReadContext& c, Element d) {
  static constexpr int kFields[] = {7,  8,  9,  10, 11, 23, 36, 56, 64,
                                    74, 77, 90, 91, 93, 94, 95, 96};
  for (int field : kFields) {
    ItemList items;
    for (const detail::InterpolElement& row : detail::kInterpolElements) {
      if (row.field != field) continue;
      Element e = interpolElement(d, row.path);
      if (row.form == detail::InterpolForm::kDate) {
        items.add(c.dateText(e));
      } else if (row.form == detail::InterpolForm::kDateOrTime) {
        auto t = c.dateTimeText(e);
        items.add(t ? t : c.dateText(e));
      } else {
        items.add(elementText(e));
      }
    }
    if (items.any()) c.set(2, field, items.text(), 0);
  }
  // The place of birth: its free text, else the parts of its structured address.
  ItemList birthPlace;
  for (const detail::InterpolElement& row : detail::kInterpolElements) {
    if (row.field != 37) continue;
    const auto text = elementText(interpolElement(d, row.path));
    if (row.form == detail::InterpolForm::kWhole && text) {
      c.set(2, 37, text, 0);
      break;
    }
    if (row.form == detail::InterpolForm::kPart) birthPlace.add(text);
  }
  if (birthPlace.any()) c.set(2, 37, birthPlace.text(), 0);
  Element subject = child(d, "int-i:RecordSubject");
  c.set(2, 34,
        detail::eachContainer(child(subject, "int-i:PersonAliases"), "int-i:PersonName",
                              [](Element n) { return personName(n).value_or(""); }),
        0);
  c.set(2, 75, personName(child(subject, "int-i:PersonFather")), 0);
  c.set(2, 76, personName(child(subject, "int-i:PersonMother")), 0);
}

void readInterpolLayout(const ReadContext& c, Element d) {
  auto set = [&](int field, const auto& text) { c.set(2, field, text, 0); };
  auto dateOrTime = [&](Element container) {
    auto t = c.dateTimeText(container);
    return t ? t : c.dateText(container);
  };
  set(19, dateOrTime(path(d, {"int-i:RecordActivity", ":RecordCreationDate"})));
  Element subject = child(d, "int-i:RecordSubject");
  set(35, c.dateText(child(subject, ":PersonBirthDate")));
  set(39, elementText(child(subject, "int-i:PersonSexCode")));
  set(38, elementText(child(subject, "nc:PersonCitizenshipISO3166Alpha3Code")));
  set(30, personName(child(subject, "int-i:PersonName")));

  Element meta = child(d, "int-i:RecordMetadata");
  Element misc = child(meta, "int-i:MiscellaneousIdentification");
  for (int i = 1; i <= 5; ++i) {
    const std::string key = "MiscellaneousIdentificationID" + std::to_string(i);
    Element id = nullptr;
    for (Element e = misc ? misc->FirstChildElement() : nullptr; e; e = e->NextSiblingElement()) {
      if (endsWith(nameOf(e), key)) {
        id = e;
        break;
      }
    }
    if (!id) continue;
    ItemList items;
    items.add(elementText(child(id, "int-i:MiscIDType")));
    items.add(elementText(child(id, "nc:IdentificationID")));
    if (items.any()) set(11 + i, items.text());
  }
  set(4, c.dateText(child(meta, ":RecordCreationDate")));
  set(5, c.dateText(child(meta, ":RecordLastUpdateDate")));
  set(92, c.dateText(child(meta, ":ExpirationDate")));
  set(63, contact(child(meta, "int-i:ContactInformation")));

  Element offence = child(d, "int-i:RecordOffence");
  set(21, elementText(child(offence, "int-i:OffenceDescriptionCode")));
  set(54, elementText(child(offence, "int-i:OffenceDescriptionText")));
  set(55, dateOrTime(child(offence, ":OffenceDateTime")));
  Element address =
      path(offence, {"int-i:ArrestLocation", "nc:LocationAddress", "nc:StructuredAddress"});
  if (address) {
    ItemList items;
    Element street = child(address, "nc:LocationStreet");
    items.add(elementText(child(street, "nc:StreetNumberText")));
    items.add(elementText(child(street, "nc:StreetName")));
    for (std::string_view key : {"nc:LocationCityName", "nc:LocationCountyName",
                                 "nc:LocationStateName", "nc:LocationCountryISO3166Alpha3Code"}) {
      items.add(elementText(child(address, key)));
    }
    if (auto postal = elementText(child(address, "nc:LocationPostalCode"))) items.add(postal);
    if (items.any()) set(22, items.text());
  }
  readInterpolRows(c, d);
}

void readType2(const ReadContext& c, Element container, int occurrence) {
  // Setting and deleting 2.010 creates the Type-2 record when there is none yet.
  if (c.file.countRecords(2) == 0) {
    (void)c.file.setField(2, 10, "0");
    (void)c.file.deleteField(2, 10);
  }
  if (!container) return;
  if (Element g = child(container, "gsat:DomainDefinedDescriptiveFields")) readGsatLayout(c, g);
  if (Element d = child(container, "int-i:DomainDefinedDescriptiveDetail"))
    readInterpolLayout(c, d);
  for (Element k = container->FirstChildElement(); k; k = k->NextSiblingElement()) {
    if (isExtension(k, "DescriptiveFields") || isExtension(k, "OtherDescriptiveFields")) {
      readExtensionFields(c, 2, occurrence, k);
    } else if (nameOf(k) != "gsat:DomainDefinedDescriptiveFields" &&
               nameOf(k) != "int-i:DomainDefinedDescriptiveDetail") {
      // A domain no layout maps (an agency's own elements): counted for the warning.
      c.skippedDomains.emplace_back(nameOf(k));
      long n = 0;
      for (const tinyxml2::XMLNode* node = k; node;) {
        if (node->ToElement()) ++n;
        if (node->FirstChild()) {
          node = node->FirstChild();
          continue;
        }
        while (node && node != k && !node->NextSibling()) node = node->Parent();
        node = node && node != k ? node->NextSibling() : nullptr;
      }
      c.skippedDomainElements += n;
    }
  }
}

// ---- Image and minutiae records ----

// Image element keys of each category: the main key first, then the fallbacks in order.
struct ImageKeys {
  int category;
  std::array<std::string_view, 6> keys;
};
constexpr std::array<ImageKeys, 17> kImageKeys = {{
    {4, {":FingerprintImage"}},
    {8, {":SignatureImage"}},
    {9, {":INCITSMinutiae"}},
    {10, {":FaceImage", ":PhysicalFeatureImage"}},
    {11, {":ForensicInvestigatoryVoiceDetail"}},
    {13,
     {":FingerImpressionImage", ":PalmprintImage", ":FrictionRidgeImage", ":PlantarImage",
      ":FingerprintImage", ":FrictionRidgeDetail"}},
    {14, {":FingerImpressionImage", ":FingerprintImage", ":FingerImpressionImageDetail"}},
    {15, {":PalmprintImage", ":PalmPrintImageDetail"}},
    {16, {":TestImage"}},
    {17, {":IrisImage", ":IrisImageDetail"}},
    {19, {":PlantarImage", ":PlantarImageDetail"}},
    {20, {":SourceImage", ":SourceMediaDetail"}},
    {12, {":ForensicDentalOralDetail"}},
    {18, {":DNASample"}},
    {21, {":ContextImage", ":Context"}},
    {22, {":NonPhotographicImageryDetail"}},
    {99, {":CBEFFImage"}},
}};

Element findImageElement(int category, bool legacy, Element a) {
  if (category == 4 && legacy) return nextSibling(a, ":FingerprintLegacyImageData");
  for (const auto& entry : kImageKeys) {
    if (entry.category != category) continue;
    for (std::string_view key : entry.keys) {
      if (key.empty()) break;
      if (Element h = nextSibling(a, key)) return h;
    }
  }
  return nullptr;
}

Element findImageData(Element e, Element h) {
  if (!h) return nullptr;
  if (Element d = child(h, ":BinaryBase64Object")) return d;
  if (Element d = child(h, ":Base64BinaryObject")) return d;
  return child(e, ":Base64BinaryObject");
}

// The decoded bytes of an image data element: set aside before parsing (see set_aside.cpp), or
// decoded from the element's text. Text that is not base64 fails the whole read: a record
// holding a few stray bytes in place of its image would pass for a converted one.
std::string decodeImage(const ReadContext& c, Element data) {
  auto text = elementText(data);
  if (!text) return {};
  detail::DecodedBlob blob;
  if (!detail::takeSetAsideData(*text, c.blobs, blob)) {
    blob.valid = decodeBase64Strict(*text, blob.bytes);
  }
  if (!blob.valid) {
    c.status = kBadImageData;
    return {};
  }
  return std::move(blob.bytes);
}

void readType4(const ReadContext& c, int category, bool legacy, Element h, Element data,
               const std::optional<std::string_view>& idc) {
  if (!h || !data) return;
  const std::string decoded = decodeImage(c, data);
  const auto bytes =
      std::span(reinterpret_cast<const std::uint8_t*>(decoded.data()), decoded.size());
  std::uint8_t fgp[6] = {255, 255, 255, 255, 255, 255};
  int taken = 0;
  auto take = [&](Element e) {
    const long long v = number(elementText(e));
    if (taken < 6 && v >= 0 && v < 256) fgp[taken++] = static_cast<std::uint8_t>(v);
  };
  if (legacy) {
    for (Element e = child(h, ":LegacyExemplarFingerPositionCode"); e && taken < 6;
         e = nextSibling(e, ":LegacyExemplarFingerPositionCode")) {
      take(e);
    }
  } else {
    Element pos = child(h, ":FingerprintImagePosition");
    Element e = child(pos, ":FingerPositionCode");
    if (!e) e = child(pos, ":PalmPositionCode");
    for (; e && taken < 6; e = e->NextSiblingElement()) {
      const std::string_view n = nameOf(e);
      if (endsWith(n, ":FingerPositionCode") || endsWith(n, ":PalmPositionCode")) take(e);
    }
  }
  // Each header value must fit its binary width (1 or 2 bytes); one that does not counts as
  // unreadable, 0, so the record can still be written in the traditional encoding.
  auto header = [](const std::optional<std::string_view>& text, long long max) {
    const long long v = number(text);
    return static_cast<int>(v >= 0 && v <= max ? v : 0);
  };
  const int imp =
      header(elementText(child(h, ":FingerprintImageImpressionCaptureCategoryCode")), 255);
  const int isr =
      header(ReadContext::text(h, {":ImageCaptureDetail", ":CaptureResolutionCode"}), 255);
  const int hll = header(elementText(child(h, ":ImageHorizontalLineLengthPixelQuantity")), 65535);
  const int vll = header(elementText(child(h, ":ImageVerticalLineLengthPixelQuantity")), 65535);
  const int gca = header(elementText(child(h, legacy ? ":LegacyImageCompressionAlgorithmCode"
                                                     : ":ImageCompressionAlgorithmCode")),
                         255);
  const transaction::Transaction* tx = c.file.transaction();
  const int idcNumber = tx ? static_cast<int>(tx->records.size()) - 1 : 0;
  std::string_view idcText;
  if (idc) idcText = *idc;
  (void)c.file.appendBinaryImageRecord(category, idc ? &idcText : nullptr, idcNumber, imp, fgp, isr,
                                       hll, vll, gca, bytes);
}

// A signature record (Type-8) in its binary layout: LEN (4 bytes), IDC, SIG, SRT, ISR (1 byte
// each), HLL and VLL (2 bytes each), then the image data. A value that does not fit its width
// counts as 0, as in Type-4 records.
void readType8(const ReadContext& c, Element h, Element data,
               const std::optional<std::string_view>& idc) {
  if (!h) return;
  std::string bytes = data ? decodeImage(c, data) : std::string();
  if (c.status != kOk || bytes.size() > 0x7FFFFFFFu - 12u) return;
  transaction::Record rec = transaction::makeBinaryRecord(8);
  const std::size_t len = bytes.size() + 12;
  rec.fields.push_back(transaction::makeBinaryField(8, 1, std::to_string(len), 4));
  const transaction::Transaction* tx = c.file.transaction();
  const std::string idcNumber = std::to_string(tx ? tx->records.size() - 1 : 0);
  rec.fields.push_back(transaction::makeBinaryField(8, 2, idc ? *idc : idcNumber, 1));
  // Header fields 3 to 7 in field order, each from the element the table names for it.
  for (int field = 3; field <= 7; ++field) {
    const int width = field >= 6 ? 2 : 1;
    std::optional<std::string_view> text;
    for (const detail::SignatureElement& e : detail::kSignatureElements) {
      if (e.field != field) continue;
      const std::string_view key = e.element.substr(e.element.find(':'));
      text = field == 5 ? ReadContext::text(h, {":ImageCaptureDetail", key})
                        : elementText(child(h, key));
    }
    const long long v = number(text);
    const long long max = width == 1 ? 255 : 65535;
    rec.fields.push_back(
        transaction::makeBinaryField(8, field, std::to_string(v >= 0 && v <= max ? v : 0), width));
  }
  // The data field is made as a header value, then given the bytes and their count.
  transaction::Field dataField = transaction::makeBinaryField(8, 8, "", 0);
  transaction::Item& item = dataField.subfields[0].items[0];
  item.value = std::move(bytes);
  item.byteCount = item.charCount();
  dataField.subfields[0].byteTotal = item.byteCount;
  dataField.byteTotal = item.byteCount;
  rec.fields.push_back(std::move(dataField));
  rec.byteTotal = static_cast<std::int32_t>(len);
  rec.declaredLength = static_cast<std::int32_t>(len);
  (void)c.file.insertRecord(static_cast<int>(tx ? tx->records.size() : 0), std::move(rec), false);
}

// A binary header value that fits `max`, as decimal text; anything else counts as 0, as in
// Type-4 records.
std::string headerValue(std::string_view text, long long max) {
  std::uint64_t v = 0;
  if (!transaction::parseUnsigned(text, v) || v > static_cast<std::uint64_t>(max)) return "0";
  return std::to_string(v);
}

// A user-defined image record (Type-7) in its binary layout. Its header values come from the
// record's extension fields when it has them: the standard 18-byte layout, or the extended
// 33-byte one when field 9 is among them (the data then being field 10). A document without them
// gives its header in a fingerprint image element, read as for Type-4. The data is that of the
// first element after the anchor that holds base64 data.
void readType7(const ReadContext& c, Element e, Element a,
               const std::optional<std::string_view>& idc) {
  Element h = nullptr;
  for (Element k = a->NextSiblingElement(); k && !h; k = k->NextSiblingElement()) {
    if (child(k, ":BinaryBase64Object")) h = k;
  }
  std::vector<std::string> values[10];
  bool any = false;
  for (Element set = e->FirstChildElement(); set; set = set->NextSiblingElement()) {
    if (!isExtension(set, "RecordFields")) continue;
    for (Element f = set->FirstChildElement(); f; f = f->NextSiblingElement()) {
      unsigned number = 0;
      if (localName(f) != "Field" ||
          f->QueryUnsignedAttribute("number", &number) != tinyxml2::XML_SUCCESS || number < 3 ||
          number > 9) {
        continue;
      }
      any = true;
      values[number].clear();
      for (Element sub = f->FirstChildElement(); sub; sub = sub->NextSiblingElement()) {
        for (Element item = sub->FirstChildElement(); item; item = item->NextSiblingElement()) {
          if (localName(item) == "Item")
            values[number].emplace_back(elementText(item).value_or(""));
        }
      }
    }
  }
  if (!any) {
    if (h) readType4(c, 7, false, h, child(h, ":BinaryBase64Object"), idc);
    return;
  }
  std::string bytes = h ? decodeImage(c, child(h, ":BinaryBase64Object")) : std::string();
  const bool extended = !values[9].empty();
  static constexpr int kStandard[] = {4, 1, 1, 6, 1, 2, 2, 1};
  static constexpr int kExtended[] = {4, 1, 1, 1, 10, 11, 2, 2, 1};
  const int* widths = extended ? kExtended : kStandard;
  const int count = extended ? 9 : 8;
  const std::size_t headerBytes = extended ? 33 : 18;
  if (c.status != kOk || bytes.size() > 0x7FFFFFFFu - headerBytes) return;
  const std::size_t len = bytes.size() + headerBytes;
  transaction::Record rec = transaction::makeBinaryRecord(7);
  const transaction::TreePath at{nullptr, &rec};
  transaction::appendField(at, transaction::makeBinaryField(7, 1, std::to_string(len), 4));
  const transaction::Transaction* tx = c.file.transaction();
  const std::string idcNumber = std::to_string(tx ? tx->records.size() - 1 : 0);
  transaction::appendField(
      at, transaction::makeBinaryField(7, 2, headerValue(idc.value_or(idcNumber), 255), 1));
  for (int field = 3; field <= count; ++field) {
    const int w = widths[field - 1];
    const std::vector<std::string>& v = values[field];
    if (w <= 4) {
      const long long max = w == 1 ? 255 : w == 2 ? 65535 : 0x7FFFFFFF;
      transaction::appendField(
          at, transaction::makeBinaryField(7, field, headerValue(v.empty() ? "" : v[0], max), w));
    } else {
      // One byte per item; a missing one is 255 in the finger positions, else 0.
      std::vector<std::string> items;
      for (std::size_t k = 0; k < static_cast<std::size_t>(w); ++k) {
        items.push_back(k < v.size() ? headerValue(v[k], 255) : (extended ? "0" : "255"));
      }
      transaction::appendField(at, transaction::makeBinaryField(7, field, items, 1));
    }
  }
  transaction::Field data;
  if (transaction::makeDataField(7, count + 1, std::move(bytes), false, data) != transaction::kOk)
    return;
  transaction::appendField(at, std::move(data));
  rec.declaredLength = static_cast<std::int32_t>(len);
  (void)c.file.insertRecord(static_cast<int>(tx ? tx->records.size() : 0), std::move(rec), false);
}

void readTaggedRecord(const ReadContext& c, int category, Element e, Element a, Element h,
                      const std::optional<std::string_view>& idc) {
  std::string_view idcText;
  if (idc) idcText = *idc;
  if (c.file.appendTaggedRecord(category, idc ? &idcText : nullptr) != transaction::kOk) return;
  // The record just appended is the last of its type.
  const int occurrence = c.file.countRecords(category) - 1;
  c.set(category, 996, elementText(nextSibling(a, ":ImageHashValue")), occurrence);

  if (category != 9) {
    // Voice, dental chart and non-photographic image data stand in the record element itself.
    const bool ownData = category == 11 || category == 12 || category == 22;
    Element data = ownData ? child(e, ":BinaryBase64Object") : nullptr;
    if (!data) data = findImageData(e, h);
    // An empty data element of the records whose data is optional stands for no data.
    const bool optional = category == 12 || category == 21 || category == 22;
    if (data && optional && !elementText(data)) data = nullptr;
    if (data && category == 12) {
      // The dental chart data is a text field in this library.
      const std::string bytes = decodeImage(c, data);
      c.set(12, 999, std::optional<std::string_view>(bytes), occurrence);
    } else if (data) {
      std::string bytes = decodeImage(c, data);
      // A hash read from the document is replaced by the hash of the data actually held.
      std::string_view hash;
      std::string actualHash;
      if (c.file.getFieldText(category, 996, hash, occurrence) == transaction::kOk &&
          !hash.empty()) {
        (void)transaction::sha256Hex(bytes, actualHash);  // stays empty when it fails
      }
      if (c.file.replaceImageData(category, occurrence, std::move(bytes)) == transaction::kOk &&
          !actualHash.empty()) {
        c.set(category, 996, std::string_view(actualHash), occurrence);
      }
    }
  }
  detail::readImageFields(c, category, occurrence, e, a, h);
  readRecordExtension(c, category, occurrence, e);
}

// Notes the elements below a read record element that no table knows (each name once). The
// contents of the project's extension elements and of Type-2 domain detail (counted apart) are
// not looked into.
void noteUnknownElements(const ReadContext& c, Element e) {
  const tinyxml2::XMLElement* n = e->FirstChildElement();
  while (n) {
    const std::string_view local = localName(n);
    bool descend = true;
    if (local == "UserDefinedDescriptiveDetail" || local == "UserDefinedDescriptiveText") {
      descend = false;
    } else if (!detail::isKnownElementName(local)) {
      descend = false;
      if (namespaceOf(n) != kExtensionUri) {
        const std::string name(nameOf(n));
        if (std::find(c.unknownElements.begin(), c.unknownElements.end(), name) ==
            c.unknownElements.end()) {
          c.unknownElements.push_back(name);
        }
      }
    }
    if (descend && n->FirstChildElement()) {
      n = n->FirstChildElement();
      continue;
    }
    while (n && n != e && !n->NextSiblingElement()) n = n->Parent()->ToElement();
    n = n && n != e ? n->NextSiblingElement() : nullptr;
  }
}

void readRecordElement(const ReadContext& c, Element e) {
  int category = -1;
  bool legacy = false;
  Element a = nullptr;
  if (Element code = child(e, ":RecordCategoryCode")) {
    std::uint64_t v = 0;
    auto text = elementText(code);
    if (!text || !transaction::parseUnsigned(*text, v) || v > kMaxRecordType) return;
    category = static_cast<int>(v);
    a = code;
  } else {
    const std::string_view name = nameOf(e);
    for (const auto& nc : kNamedCategories) {
      if (nc.name == name) category = nc.category;
    }
    if (category < 0) return;
    legacy = name == kLegacyName;
    a = e->FirstChildElement();
    if (!a) return;
  }

  switch (category) {
    case 1:
      readType1(c, child(e, ":Transaction"));
      noteUnknownElements(c, e);
      return;
    case 2: {
      // The first Type-2 element fills the Type-2 record; each further one makes its own
      // record, which only the extension fields fill (the domain layouts go to the first).
      const auto idc = c.idText(child(e, ":ImageReferenceIdentification"));
      int occurrence = 0;
      if (c.type2Elements++ == 0) {
        // The record is made with the document's IDC, which no setter may change afterwards.
        if (idc && c.file.countRecords(2) == 0) {
          std::string_view idcText = *idc;
          (void)c.file.appendTaggedRecord(2, &idcText);
        }
      } else {
        std::string_view idcText = idc.value_or("");
        if (c.file.appendTaggedRecord(2, idc ? &idcText : nullptr) != transaction::kOk) return;
        occurrence = c.file.countRecords(2) - 1;
      }
      readType2(c, nextSibling(a, ":UserDefinedDescriptiveText"), occurrence);
      readType2(c, nextSibling(a, ":UserDefinedDescriptiveDetail"), occurrence);
      noteUnknownElements(c, e);
      return;
    }
    case 4:
    case 8:
    case 9:
    case 10:
    case 13:
    case 14:
    case 15:
    case 16:
    case 17:
    case 19:
    case 20:
    case 21:
    case 99:
    case 7:
    case 11:
    case 12:
    case 18:
    case 22:
    case 98:
      break;
    default:
      c.skippedRecords.push_back(std::string(nameOf(e)) + " (type " + std::to_string(category) +
                                 ")");
      return;
  }
  const auto idc = c.idText(child(e, ":ImageReferenceIdentification"));
  Element h = findImageElement(category, legacy, a);
  if (category == 4) {
    readType4(c, 4, legacy, h, findImageData(e, h), idc);
  } else if (category == 7) {
    readType7(c, e, a, idc);
  } else if (category == 8) {
    readType8(c, h, findImageData(e, h), idc);
  } else {
    readTaggedRecord(c, category, e, a, h, idc);
  }
  noteUnknownElements(c, e);
}

bool isPackageName(std::string_view name) { return endsWith(name, kPackageSuffix); }

// The prepared Type-1 fields that the document may leave at their placeholder values.
struct PreparedField {
  int field;
  std::string_view mnemonic;
};
constexpr std::array<PreparedField, 8> kPreparedFields = {{{2, "VER"},
                                                           {4, "TOT"},
                                                           {5, "DAT"},
                                                           {7, "DAI"},
                                                           {8, "ORI"},
                                                           {9, "TCN"},
                                                           {11, "NSR"},
                                                           {12, "NTR"}}};

// One warning naming every prepared Type-1 field the document did not give, with the value kept.
void warnPlaceholders(const ReadContext& c) {
  std::string list;
  for (const auto& [field, mnemonic] : kPreparedFields) {
    if (c.type1Set & (std::uint64_t{1} << field)) continue;
    std::string_view value;
    if (c.file.getFieldText(1, field, value) != transaction::kOk) continue;
    char tag[16];
    const int n = std::snprintf(tag, sizeof tag, "1.%03d ", field);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof tag) continue;
    if (!list.empty()) list += ", ";
    list.append(tag, static_cast<std::size_t>(n)).append(mnemonic);
    list.append(" \"").append(value).append("\"");
  }
  if (!list.empty())
    c.file.addWarning("Fields missing from the XML document got placeholder values: " + list);
}

// Joins names with ", ".
std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& n : names) {
    if (!out.empty()) out += ", ";
    out += n;
  }
  return out;
}

// One warning for the record elements left unread, one for unmapped Type-2 domain content, one
// for unknown elements inside the records read.
void warnSkipped(const ReadContext& c) {
  if (!c.skippedRecords.empty()) {
    c.file.addWarning("Record elements not read, having no form here: " + joined(c.skippedRecords));
  }
  if (c.skippedDomainElements > 0) {
    c.file.addWarning("Type-2 content of a domain that cannot be mapped was not converted: " +
                      std::to_string(c.skippedDomainElements) + " elements skipped (" +
                      joined(c.skippedDomains) + ")");
  }
  if (!c.unknownElements.empty()) {
    c.file.addWarning("Unknown elements skipped: " + joined(c.unknownElements));
  }
}

int readDocument(const tinyxml2::XMLDocument& doc, transaction::NistFile& file,
                 std::vector<detail::DecodedBlob>* blobs) {
  Element root = doc.FirstChildElement();
  if (!root) return kNotPackage;
  // The package is the root, or the first child of one wrapping element.
  Element package = root;
  if (!isPackageName(nameOf(root))) package = root->FirstChildElement();
  if (!package || !isPackageName(nameOf(package))) return kNotPackage;
  ReadContext ctx(file, namespacePrefixFor(root, kNiemCoreUri, "nc"));
  ctx.blobs = blobs;
  for (Element e = package->FirstChildElement(); e && ctx.status == kOk;
       e = e->NextSiblingElement()) {
    try {
      readRecordElement(ctx, e);
    } catch (const std::bad_alloc&) {
      // This record element is dropped; the next one may still fit.
    }
  }
  if (ctx.status != kOk) return ctx.status;
  warnPlaceholders(ctx);
  warnSkipped(ctx);
  return kOk;
}

int readInput(detail::InputWindow& in, transaction::NistFile& file, bool setAside = true) {
  std::vector<detail::DecodedBlob> blobs;
  std::string doc;
  if (setAside) {
    detail::setAsideImageData(in, doc, blobs);
  } else {
    in.appendAll(doc);
  }
  tinyxml2::XMLDocument parsed(true, tinyxml2::PRESERVE_WHITESPACE);
  if (parsed.Parse(doc.data(), doc.size()) != tinyxml2::XML_SUCCESS) return kNotWellFormed;
  return readDocument(parsed, file, setAside ? &blobs : nullptr);
}

// Closes a file descriptor when it goes out of scope.
class FdCloser {
 public:
  explicit FdCloser(int fd) noexcept : fd_(fd) {}
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;
  ~FdCloser() {
    if (fd_ >= 0) ::close(fd_);
  }

 private:
  int fd_;
};

}  // namespace

std::string dateFromXml(std::string_view text) {
  if (text.size() != 10) return std::string(text);
  std::string out;
  out.reserve(8);
  out.append(text.substr(0, 4)).append(text.substr(5, 2)).append(text.substr(8, 2));
  return out;
}

std::string dateTimeFromXml(std::string_view text) {
  if (text.size() != 20) return std::string(text);
  std::string out;
  out.reserve(15);
  out.append(text.substr(0, 4)).append(text.substr(5, 2)).append(text.substr(8, 2));
  out.append(text.substr(11, 2)).append(text.substr(14, 2)).append(text.substr(17, 2));
  out.push_back('Z');
  return out;
}

int readXmlBytes(std::string_view document, transaction::NistFile& file) noexcept {
  try {
    if (document.size() > kMaxXmlFileBytes) return kTooLarge;
    detail::InputWindow in(document);
    return readInput(in, file);
  } catch (...) {
    // Whatever was read before the failure stays in the Transaction.
    return transaction::kAllocFailed;
  }
}

namespace detail {

int readXmlBytesPlain(std::string_view document, transaction::NistFile& file) noexcept {
  try {
    if (document.size() > kMaxXmlFileBytes) return kTooLarge;
    InputWindow in(document);
    return readInput(in, file, false);
  } catch (...) {
    return transaction::kAllocFailed;
  }
}

}  // namespace detail

int readXml(const std::string& path, transaction::NistFile& file) noexcept {
  try {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kCannotOpen;
    const FdCloser closer(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return kCannotOpen;
    if (static_cast<std::uint64_t>(st.st_size) > kMaxXmlFileBytes) return kTooLarge;
    // Read block by block: the image data texts are decoded while their block is in the cache.
    detail::InputWindow in(fd, static_cast<std::uint64_t>(st.st_size));
    return readInput(in, file);
  } catch (...) {
    // Whatever was read before the failure stays in the Transaction.
    return transaction::kAllocFailed;
  }
}

}  // namespace varnel::xml
