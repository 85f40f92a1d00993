#pragma once

#include <array>
#include <string_view>

namespace varnel::xml::detail {

/// A field of the signature record (Type-8) and the element that carries it, in the order the
/// schema gives the elements inside biom:SignatureImage. The image data (8.008) stands first, as
/// nc:BinaryBase64Object. `path` is the element's path from the record element, as the field
/// definition table writes it.
struct SignatureElement {
  int field;
  std::string_view element;
  std::string_view path;
};
inline constexpr std::array<SignatureElement, 5> kSignatureElements = {{
    {5, "biom:CaptureResolutionCode",
     "itl:PackageSignatureImageRecord/biom:SignatureImage/biom:ImageCaptureDetail/"
     "biom:CaptureResolutionCode"},
    {6, "biom:ImageHorizontalLineLengthPixelQuantity",
     "itl:PackageSignatureImageRecord/biom:SignatureImage/"
     "biom:ImageHorizontalLineLengthPixelQuantity"},
    {7, "biom:ImageVerticalLineLengthPixelQuantity",
     "itl:PackageSignatureImageRecord/biom:SignatureImage/"
     "biom:ImageVerticalLineLengthPixelQuantity"},
    {4, "biom:SignatureRepresentationCode",
     "itl:PackageSignatureImageRecord/biom:SignatureImage/biom:SignatureRepresentationCode"},
    {3, "biom:SignatureCategoryCode",
     "itl:PackageSignatureImageRecord/biom:SignatureImage/biom:SignatureCategoryCode"},
}};

/// Path of the signature image data element from the record element.
inline constexpr std::string_view kSignatureDataPath =
    "itl:PackageSignatureImageRecord/biom:SignatureImage/nc:BinaryBase64Object";

}  // namespace varnel::xml::detail

namespace varnel::xml::detail {

/// How a Type-2 value of the INTERPOL domain is written: as text, as a date container (its
/// nc:Date child), or as a date container that takes nc:DateTime for a value with a time. A field
/// that is one free text or several parts takes its kWhole row when its first subfield has one
/// item, its kPart rows otherwise. kAliases is the container of one name per subfield.
enum class InterpolForm { kText, kDate, kDateOrTime, kWhole, kPart, kAliases };

/// One element of the INTERPOL domain's descriptive detail: the Type-2 field and item (-1 for
/// the whole field) it carries, and its path below int-i:DomainDefinedDescriptiveDetail. The
/// rows stand in schema order, rows that share containers side by side. The paths are those of
/// the field definition table, except that the latent identifiers (2.008, 2.009, 2.093) stand
/// in the miscellaneous identification, where the schema has them.
struct InterpolElement {
  int field;
  int item;
  std::string_view path;
  InterpolForm form = InterpolForm::kText;
};

inline constexpr std::string_view kInterpolDetail = "int-i:DomainDefinedDescriptiveDetail";

inline constexpr InterpolElement kInterpolElements[] = {
    {19, -1, "int-i:RecordActivity/biom:RecordCreationDate", InterpolForm::kDateOrTime},
    {23, 0,
     "int-i:RecordActivity/int-i:CaptureOrganization/nc:OrganizationIdentification/"
     "nc:IdentificationID"},
    {23, 1, "int-i:RecordActivity/int-i:CaptureOrganization/nc:OrganizationName"},
    {23, 2,
     "int-i:RecordActivity/int-i:CaptureOrganization/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationStreet/nc:StreetNumberText"},
    {23, 3,
     "int-i:RecordActivity/int-i:CaptureOrganization/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationStreet/nc:StreetName"},
    {23, 4,
     "int-i:RecordActivity/int-i:CaptureOrganization/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationCityName"},
    {23, 5,
     "int-i:RecordActivity/int-i:CaptureOrganization/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationCountyName"},
    {23, 6,
     "int-i:RecordActivity/int-i:CaptureOrganization/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationStateName"},
    {23, 7,
     "int-i:RecordActivity/int-i:CaptureOrganization/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationCountryISO3166Alpha3Code"},
    {23, 8,
     "int-i:RecordActivity/int-i:CaptureOrganization/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationPostalCode"},
    {35, -1, "int-i:RecordSubject/nc:PersonBirthDate", InterpolForm::kDate},
    {37, -1, "int-i:RecordSubject/nc:PersonBirthLocation/nc:LocationAddress/nc:AddressFullText",
     InterpolForm::kWhole},
    {37, 0,
     "int-i:RecordSubject/nc:PersonBirthLocation/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationStreet/nc:StreetNumberText",
     InterpolForm::kPart},
    {37, 1,
     "int-i:RecordSubject/nc:PersonBirthLocation/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationStreet/nc:StreetName",
     InterpolForm::kPart},
    {37, 2,
     "int-i:RecordSubject/nc:PersonBirthLocation/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationCityName",
     InterpolForm::kPart},
    {37, 3,
     "int-i:RecordSubject/nc:PersonBirthLocation/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationCountyName",
     InterpolForm::kPart},
    {37, 4,
     "int-i:RecordSubject/nc:PersonBirthLocation/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationStateName",
     InterpolForm::kPart},
    {37, 5,
     "int-i:RecordSubject/nc:PersonBirthLocation/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationCountryISO3166Alpha3Code",
     InterpolForm::kPart},
    {37, 6,
     "int-i:RecordSubject/nc:PersonBirthLocation/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationPostalCode",
     InterpolForm::kPart},
    {38, -1, "int-i:RecordSubject/nc:PersonCitizenshipISO3166Alpha3Code"},
    {30, 0, "int-i:RecordSubject/int-i:PersonName/nc:PersonNamePrefixText"},
    {30, 1, "int-i:RecordSubject/int-i:PersonName/nc:PersonGivenName"},
    {30, 2, "int-i:RecordSubject/int-i:PersonName/nc:PersonMiddleName"},
    {30, 3, "int-i:RecordSubject/int-i:PersonName/nc:PersonSurName"},
    {30, 4, "int-i:RecordSubject/int-i:PersonName/nc:PersonNameSuffixText"},
    {30, 5, "int-i:RecordSubject/int-i:PersonName/nc:PersonMaidenName"},
    {30, 6, "int-i:RecordSubject/int-i:PersonName/int-i:PersonExtendedName"},
    {34, -1, "int-i:RecordSubject/int-i:PersonAliases", InterpolForm::kAliases},
    {36, 0, "int-i:RecordSubject/int-i:PersonBirthDateRange/nc:StartDate", InterpolForm::kDate},
    {36, 1, "int-i:RecordSubject/int-i:PersonBirthDateRange/nc:EndDate", InterpolForm::kDate},
    {39, -1, "int-i:RecordSubject/int-i:PersonSexCode"},
    {75, 0, "int-i:RecordSubject/int-i:PersonFather/nc:PersonNamePrefixText"},
    {75, 1, "int-i:RecordSubject/int-i:PersonFather/nc:PersonGivenName"},
    {75, 2, "int-i:RecordSubject/int-i:PersonFather/nc:PersonMiddleName"},
    {75, 3, "int-i:RecordSubject/int-i:PersonFather/nc:PersonSurName"},
    {75, 4, "int-i:RecordSubject/int-i:PersonFather/nc:PersonNameSuffixText"},
    {75, 5, "int-i:RecordSubject/int-i:PersonFather/nc:PersonMaidenName"},
    {75, 6, "int-i:RecordSubject/int-i:PersonFather/int-i:PersonExtendedName"},
    {76, 0, "int-i:RecordSubject/int-i:PersonMother/nc:PersonNamePrefixText"},
    {76, 1, "int-i:RecordSubject/int-i:PersonMother/nc:PersonGivenName"},
    {76, 2, "int-i:RecordSubject/int-i:PersonMother/nc:PersonMiddleName"},
    {76, 3, "int-i:RecordSubject/int-i:PersonMother/nc:PersonSurName"},
    {76, 4, "int-i:RecordSubject/int-i:PersonMother/nc:PersonNameSuffixText"},
    {76, 5, "int-i:RecordSubject/int-i:PersonMother/nc:PersonMaidenName"},
    {76, 6, "int-i:RecordSubject/int-i:PersonMother/int-i:PersonExtendedName"},
    {21, -1, "int-i:RecordOffence/int-i:OffenceDescriptionCode"},
    {54, -1, "int-i:RecordOffence/int-i:OffenceDescriptionText"},
    {22, 0,
     "int-i:RecordOffence/int-i:ArrestLocation/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationStreet/nc:StreetNumberText"},
    {22, 1,
     "int-i:RecordOffence/int-i:ArrestLocation/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationStreet/nc:StreetName"},
    {22, 2,
     "int-i:RecordOffence/int-i:ArrestLocation/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationCityName"},
    {22, 3,
     "int-i:RecordOffence/int-i:ArrestLocation/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationCountyName"},
    {22, 4,
     "int-i:RecordOffence/int-i:ArrestLocation/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationStateName"},
    {22, 5,
     "int-i:RecordOffence/int-i:ArrestLocation/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationCountryISO3166Alpha3Code"},
    {22, 6,
     "int-i:RecordOffence/int-i:ArrestLocation/nc:LocationAddress/nc:StructuredAddress/"
     "nc:LocationPostalCode"},
    {55, -1, "int-i:RecordOffence/int-i:OffenceDateTime", InterpolForm::kDateOrTime},
    {56, 0, "int-i:RecordOffence/int-i:OffenceDateTimeRange/nc:StartDate",
     InterpolForm::kDateOrTime},
    {56, 1, "int-i:RecordOffence/int-i:OffenceDateTimeRange/nc:EndDate", InterpolForm::kDateOrTime},
    {95, -1, "int-i:RecordCivil/int-i:CivilDescriptionCode"},
    {96, -1, "int-i:RecordCivil/int-i:CivilDescriptionText"},
    {90, -1,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/int-i:InterpolReferenceNumber"},
    {10, 0,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/int-i:NationalPersonIdentifier/"
     "int-i:LocationCountryISO3166Alpha3Code"},
    {10, 1,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/int-i:NationalPersonIdentifier/"
     "nc:IdentificationID"},
    {91, 0,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/"
     "int-i:NationalPersonInquiryIdentifier/int-i:LocationCountryISO3166Alpha3Code"},
    {91, 1,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/"
     "int-i:NationalPersonInquiryIdentifier/nc:IdentificationID"},
    {7, 0,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/int-i:NationalCaseIdentifier/"
     "int-i:LocationCountryISO3166Alpha3Code"},
    {7, 1,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/int-i:NationalCaseIdentifier/"
     "nc:IdentificationID"},
    {8, -1,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/int-i:LatentCaseEvidenceIdentifier"},
    {9, -1, "int-i:RecordMetadata/int-i:MiscellaneousIdentification/int-i:LatentIdentifier"},
    {93, -1, "int-i:RecordMetadata/int-i:MiscellaneousIdentification/int-i:LatentUniqueIdentifier"},
    {11, 0,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/int-i:NationalBusinessReference/"
     "int-i:LocationCountryISO3166Alpha3Code"},
    {11, 1,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/int-i:NationalBusinessReference/"
     "nc:IdentificationID"},
    {12, 0,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/"
     "int-i:MiscellaneousIdentificationID1/int-i:MiscIDType"},
    {12, 1,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/"
     "int-i:MiscellaneousIdentificationID1/nc:IdentificationID"},
    {13, 0,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/"
     "int-i:MiscellaneousIdentificationID2/int-i:MiscIDType"},
    {13, 1,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/"
     "int-i:MiscellaneousIdentificationID2/nc:IdentificationID"},
    {14, 0,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/"
     "int-i:MiscellaneousIdentificationID3/int-i:MiscIDType"},
    {14, 1,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/"
     "int-i:MiscellaneousIdentificationID3/nc:IdentificationID"},
    {15, 0,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/"
     "int-i:MiscellaneousIdentificationID4/int-i:MiscIDType"},
    {15, 1,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/"
     "int-i:MiscellaneousIdentificationID4/nc:IdentificationID"},
    {16, 0,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/"
     "int-i:MiscellaneousIdentificationID5/int-i:MiscIDType"},
    {16, 1,
     "int-i:RecordMetadata/int-i:MiscellaneousIdentification/"
     "int-i:MiscellaneousIdentificationID5/nc:IdentificationID"},
    {63, 0,
     "int-i:RecordMetadata/int-i:ContactInformation/nc:ContactTelephoneNumber/"
     "nc:FullTelephoneNumber/nc:TelephoneNumberFullID"},
    {63, 1, "int-i:RecordMetadata/int-i:ContactInformation/nc:OrganizationName"},
    {63, 2, "int-i:RecordMetadata/int-i:ContactInformation/nc:PersonFullName"},
    {63, 3, "int-i:RecordMetadata/int-i:ContactInformation/int-i:AdditionalContactInformationText"},
    {92, -1, "int-i:RecordMetadata/nc:ExpirationDate", InterpolForm::kDate},
    {4, -1, "int-i:RecordMetadata/int-i:RecordCreationDate", InterpolForm::kDate},
    {5, -1, "int-i:RecordMetadata/int-i:RecordLastUpdateDate", InterpolForm::kDate},
    {74, 0, "int-i:TransactionResponseData/int-i:ErrorMessage/int-i:ErrorCode"},
    {74, 1, "int-i:TransactionResponseData/int-i:ErrorMessage/int-i:ErrorFieldMnemonicCode"},
    {74, 2, "int-i:TransactionResponseData/int-i:ErrorMessage/int-i:ErrorMessageText"},
    {64, 0,
     "int-i:TransactionResponseData/int-i:RespondentsList/int-i:TransactionCandidate/"
     "int-i:CandidateSequenceID/nc:IdentificationID"},
    {64, 1,
     "int-i:TransactionResponseData/int-i:RespondentsList/int-i:TransactionCandidate/"
     "int-i:TransactionCandidateManualVerificationIndicator"},
    {64, 2,
     "int-i:TransactionResponseData/int-i:RespondentsList/"
     "int-i:TransactionCandidatesTotalQuantity"},
    {64, 3, "int-i:TransactionResponseData/int-i:RespondentsList/int-i:TransactionCategoryCode"},
    {64, 4,
     "int-i:TransactionResponseData/int-i:RespondentsList/int-i:TransactionSearchResultsCode"},
    {77, 0,
     "int-i:TransactionResponseData/int-i:LatentMatchingPosition/"
     "int-i:LatentMatchingPositionSearch"},
    {77, 1,
     "int-i:TransactionResponseData/int-i:LatentMatchingPosition/"
     "int-i:LatentMatchingPositionCandidate"},
    {94, -1, "int-i:TransactionMetadata/int-i:ResultDeterminationMode"},
};

/// Items that must all be present for a field's elements to be written: the schema requires
/// both the country and the number of a national identifier, the number of a miscellaneous one,
/// every part of a respondents list and both latent matching positions. Fields not listed need
/// none in particular.
struct InterpolRequired {
  int field;
  int items;  // bit k set: item k required
};
inline constexpr InterpolRequired kInterpolRequired[] = {
    {7, 3},  {10, 3}, {11, 3},  {12, 2}, {13, 2}, {14, 2},
    {15, 2}, {16, 2}, {64, 31}, {77, 3}, {91, 3},
};

}  // namespace varnel::xml::detail
