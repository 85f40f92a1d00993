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
