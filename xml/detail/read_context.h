#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transaction/nist_file.h"

namespace tinyxml2 {
class XMLElement;
}

namespace varnel::xml::detail {

using Element = const tinyxml2::XMLElement*;

/// Lookups on the parsed element tree. Every one accepts a null parent or element and then finds
/// nothing. A key with a leading ":" matches any element whose qualified name ends with it; any
/// other key matches the qualified name exactly.
[[nodiscard]] Element child(Element parent, std::string_view key) noexcept;
[[nodiscard]] Element nextSibling(Element element, std::string_view key) noexcept;
/// Follows `keys` downwards, one child per key.
[[nodiscard]] Element path(Element parent, std::initializer_list<std::string_view> keys) noexcept;
/// Text of the element's first child node that is not a comment, when that node is text and not
/// empty; nothing otherwise. Borrowed from the document.
[[nodiscard]] std::optional<std::string_view> verbatimText(Element element) noexcept;
/// `text` with the traditional encoding's separator bytes (FS, GS, RS, US) replaced by spaces: an
/// XML text is one value, and such a byte would otherwise cut it into fields or items (or make
/// the value refused) when the transaction is written in the traditional encoding.
[[nodiscard]] std::string withoutSeparators(std::string_view text);
/// True when `text` holds one of those bytes.
[[nodiscard]] bool hasSeparator(std::string_view text) noexcept;

/// verbatimText without the whitespace (space, tab, CR, LF) around it; nothing when only
/// whitespace remains.
[[nodiscard]] std::optional<std::string_view> elementText(Element element) noexcept;

/// Items of one subfield, joined with US; an absent item stays empty so positions never shift.
class ItemList {
 public:
  void add(std::optional<std::string_view> item);
  void add(const std::optional<std::string>& item);
  [[nodiscard]] bool any() const noexcept { return any_; }
  [[nodiscard]] std::string text() const;

 private:
  std::vector<std::string> items_;
  bool any_ = false;
};

/// Image data decoded ahead of parsing; `valid` is false when the text was not base64.
struct DecodedBlob {
  std::string bytes;
  bool valid = true;
};

/// What one read needs besides the document: the handle and the niem-core keys of the document.
struct ReadContext {
  transaction::NistFile& file;
  std::string ncIdentificationId;
  std::string ncDate;
  std::string ncDateTime;
  std::string ncZuluDateTime;
  std::string ncOrganizationName;
  /// Decoded bytes of the long image data texts taken out of the document before parsing (see
  /// reader.cpp), referred to from the document by placeholder text; each is moved out once used.
  std::vector<DecodedBlob>* blobs = nullptr;
  /// First failure met while reading (kBadImageData); kOk while all is well.
  mutable int status = 0;
  /// Type-1 fields (bit n for field n, below 64) that the document set.
  mutable std::uint64_t type1Set = 0;
  /// Type-2 record elements met so far.
  mutable int type2Elements = 0;
  /// Record elements left unread ("itl:PackageSignatureImageRecord (type 8)"), and the Type-2
  /// domain containers nothing maps, with the number of elements in them.
  mutable std::vector<std::string> skippedRecords;
  mutable std::vector<std::string> skippedDomains;
  mutable long skippedDomainElements = 0;
  // Elements of a read record element that no table names, each name once, in document order.
  mutable std::vector<std::string> unknownElements;

  ReadContext(transaction::NistFile& f, std::string_view ncPrefix);

  /// Sets a field of the occurrence-th record of `type`; a refusal drops just this step.
  void set(int type, int field, std::string_view text, int occurrence) const noexcept;
  void set(int type, int field, const std::string& text, int occurrence) const noexcept {
    set(type, field, std::string_view(text), occurrence);
  }
  void set(int type, int field, const std::optional<std::string_view>& text,
           int occurrence) const noexcept;
  void set(int type, int field, const std::optional<std::string>& text,
           int occurrence) const noexcept;

  /// Text of the element found by following `keys` from `parent`.
  [[nodiscard]] static std::optional<std::string_view> text(
      Element parent, std::initializer_list<std::string_view> keys) noexcept;
  /// Text of NC:IdentificationID under `container`.
  [[nodiscard]] std::optional<std::string_view> idText(Element container) const noexcept;
  /// Date container: NC:Date under it, converted.
  [[nodiscard]] std::optional<std::string> dateText(Element container) const;
  /// Date-time container: NC:DateTime under it, else NC:ZuluDateTime, converted.
  [[nodiscard]] std::optional<std::string> dateTimeText(Element container) const;
};

/// Every element of a repeated key (the first child matching it and each following sibling that
/// matches) as one subfield of text, joined with RS; nothing when there is no such child.
[[nodiscard]] std::optional<std::string> repeatedText(Element parent, std::string_view key);

/// Subfields built by `build` from every occurrence of the container `key` under `parent`, joined
/// with RS; nothing when there is no occurrence.
template <typename Build>
[[nodiscard]] std::optional<std::string> eachContainer(Element parent, std::string_view key,
                                                       Build build) {
  Element e = child(parent, key);
  if (!e) return std::nullopt;
  std::string out;
  bool first = true;
  for (; e; e = nextSibling(e, key)) {
    if (!first) out.push_back('\x1E');
    first = false;
    out += build(e);
  }
  return out;
}

/// Reads the category's element tables (common block, own block) for a tagged image or minutiae
/// record at `occurrence`: E the record element, A its anchor, H its image element (may be null).
void readImageFields(const ReadContext& ctx, int category, int occurrence, Element e, Element a,
                     Element h);

/// Annotation container x.902 under E.
void readAnnotations(const ReadContext& ctx, int type, int occurrence, Element e);

/// True when an element of that local name ("FaceImage") is one the reader or writer knows.
[[nodiscard]] bool isKnownElementName(std::string_view localName);

}  // namespace varnel::xml::detail
