// The element names the reader knows inside a record element: every element of the field
// definition table's XML paths, INTERPOL's domain rows, and the names the reader and writer use
// beyond the table (older spellings, the elements of records the table does not cover).
#include <string_view>
#include <unordered_set>

#include "transaction/field_table.h"
#include "xml/detail/element_tables.h"
#include "xml/detail/read_context.h"

namespace varnel::xml::detail {

namespace {

constexpr std::string_view kMoreNames[] = {
    "CBEFFCategoryCode",
    "CBEFFImage",
    "CBEFFVersionIdentification",
    "ActivityReasonText",
    "AgencyName",
    "Base64BinaryObject",
    "CaptureDevice",
    "CharacterSetVersionID",
    "Context",
    "DeviceID",
    "DeviceMakeText",
    "DeviceModelText",
    "DeviceSerialNumberText",
    "DomainDefinedDescriptiveFields",
    "DomainVersionNumberID",
    "ExemplarFingerPositionCode",
    "FingerImpressionImageDetail",
    "FingerprintLegacyImageData",
    "ForensicInvestigatoryVoiceDetail",
    "FrictionRidgeDetail",
    "FrictionRidgeImageImpressionCaptureCategoryCode",
    "FrictionRidgeImpressionCaptureCode",
    "HorizontalLineLengthPixelQuantity",
    "INPOLEnummer",
    "ImageColorSpaceText",
    "IrisDiameterPixelQuantity",
    "IrisEyeColorAttributeCode",
    "IrisEyePositionCode",
    "IrisEyeRotationAngleText",
    "IrisEyeRotationUncertaintyValueText",
    "IrisImage",
    "IrisImageAcquisitionProfileCode",
    "IrisImageDetail",
    "IrisImageGazeAngleMeasure",
    "IrisImageMissingReasonCode",
    "IrisImageRangeMeasure",
    "IrisImageStorageFormatCode",
    "LatentFrictionRidgePositionCode",
    "LegacyExemplarFingerPositionCode",
    "LegacyImageCompressionAlgorithmCode",
    "OffenseDescriptionText",
    "PalmPrintImageDetail",
    "PersonalControlNumber",
    "PlantarImageDetail",
    "QualityAlgorithmProductID",
    "QualityAlgorithmVendorID",
    "QualityMeasureVendorIdentification",
    "RecordOffense",
    "RecordTransactionCategoryCode",
    "SourceMediaDetail",
    "TestImage",
    "TransactionAugmentation",
    "TransactionCategoryTOT",
    "TransactionControlNumberID",
    "TransactionControlReferenceNumberID",
    "TransactionDestinationAgency",
    "TransactionOriginatingAgency",
    "UserDefinedDescriptiveText",
    "VerticalLineLengthPixelQuantity",
    "ZuluDateTime",
    "AssuranceAuditRevisionIdentification",
    "AssuranceDateTime",
    "AssuranceFormatIdentification",
    "AssuranceFormatOwnerIdentification",
    "AssuranceLogAgentText",
    "AssuranceLogEntry",
    "AssuranceLogEventCode",
    "AssuranceLogEventLocationText",
    "AssuranceLogEventOriginalValueText",
    "AssuranceLogEventReasonText",
    "AssuranceOrganization",
    "BiometricCaptureDetail",
    "ContextCommentText",
    "ContextExternalFileReferenceText",
    "ContextFileCategoryText",
    "ContextFileDecodingInstructionsText",
    "ContextFileFormat",
    "ContextIdentification",
    "ContextImage",
    "DNASample",
    "DentalCaptureDetail",
    "DentalRadiographImageInformation",
    "ForensicDentalOralDetail",
    "NonPhotographicImageFormatCode",
    "NonPhotographicImageTypeCode",
    "NonPhotographicImageryCommentText",
    "NonPhotographicImageryDetail",
    "RadiographImageInformationText",
    "RadiographImageSeries",
    "RadiographImageSeriesText",
    "RadiographSize",
    "SubjectBodyClassCode",
    "SubjectBodyStatusCode",
    "SubjectExistentialDetails",
    "SubjectExistentialStatusCode",
};

// Adds the local name of every "prefix:Name" in `text` (paths joined by "/", alternatives by
// line breaks and "or").
void addNames(std::string_view text, std::unordered_set<std::string_view>& out) {
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t end = text.find_first_of("/ \n", i);
    const std::string_view segment = text.substr(i, end == std::string_view::npos ? end : end - i);
    if (const std::size_t colon = segment.find(':'); colon != std::string_view::npos) {
      out.insert(segment.substr(colon + 1));
    }
    if (end == std::string_view::npos) break;
    i = end + 1;
  }
}

const std::unordered_set<std::string_view>& knownNames() {
  static const std::unordered_set<std::string_view> names = [] {
    std::unordered_set<std::string_view> out;
    for (const transaction::FieldDefinition& row : transaction::fieldDefinitions()) {
      addNames(row.xmlTag, out);
      addNames(row.xmlPath, out);
    }
    for (const InterpolElement& row : kInterpolElements) addNames(row.path, out);
    for (std::string_view name : kMoreNames) out.insert(name);
    return out;
  }();
  return names;
}

}  // namespace

bool isKnownElementName(std::string_view localName) { return knownNames().count(localName) != 0; }

}  // namespace varnel::xml::detail
