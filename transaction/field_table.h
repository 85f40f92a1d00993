#pragma once

#include <span>
#include <string_view>

namespace varnel::transaction {

/// One row of the ANSI/NIST-ITL 1-2011 field definition table: a field, an information item of
/// a field, or an XML element that groups several of them. Texts are the table's own, trimmed.
struct FieldDefinition {
  /// Which encodings carry the row: "T" traditional only, "X" XML only, "TX" both; lower case
  /// marks rows the table flags as optional in the 2011 XML domain ("tx", "x").
  std::string_view encodings;
  /// Record type (1..99); 0 for rows that name no record.
  int recordType;
  /// Field number; 0 for a record-level row or a container spanning several fields.
  int field;
  /// Identifier as written in the table: "[14.014-A:X]", "[02.022:X2-A]", "[14.003_14.999]".
  std::string_view fieldId;
  /// Reference path of mnemonics: "14/PPD/DFP:X".
  std::string_view fieldRef;
  /// "" for a whole field, "SET" for a field made of information items, else the item's letter.
  std::string_view item;
  std::string_view mnemonic;
  std::string_view description;
  /// "M" mandatory, "O" optional, "D" dependent; a trailing "^" applies within the parent.
  std::string_view condition;
  /// Character type: "N", "A", "AN", "ANS", "NS", "U", "B", "H", ...
  std::string_view dataType;
  /// Lengths and occurrences: -1 when the table leaves them empty, kUnbounded for "*".
  int minLength;
  int maxLength;
  int minOccur;
  int maxOccur;
  std::string_view specialChars;
  /// Name of the code table in codeDefinitions(), possibly several joined by ';'.
  std::string_view codeTable;
  /// Value range as written: "{1..14}", "{\"JP2\",\"WSQ20\"}".
  std::string_view valueRange;
  std::string_view regex;
  /// The element that carries the row in the XML encoding, its namespace URI, schema type and
  /// path from the record element ("itl:PackageFingerprintImageRecord/biom:...").
  std::string_view xmlTag;
  std::string_view xmlNamespace;
  std::string_view xmlBaseType;
  std::string_view xmlPath;
};

/// Lengths or occurrences the table leaves without an upper limit ("*").
inline constexpr int kUnbounded = -2;

/// One entry of a code table: the code and what it means.
struct CodeDefinition {
  std::string_view table;
  std::string_view code;
  std::string_view description;
};

/// Every row of the field definition table, in the table's order.
[[nodiscard]] std::span<const FieldDefinition> fieldDefinitions() noexcept;

/// Every code of every code table, grouped by table in the table's order.
[[nodiscard]] std::span<const CodeDefinition> codeDefinitions() noexcept;

/// The whole-field row of a field as the traditional encoding carries it ("T" or "TX" rows,
/// item "" or "SET"), or nullptr when the table has no such field.
[[nodiscard]] const FieldDefinition* findFieldDefinition(int recordType, int field) noexcept;

/// The rows of one information item ("A", "B", ...) of a field, traditional encoding first;
/// nullptr when there is none.
[[nodiscard]] const FieldDefinition* findItemDefinition(int recordType, int field,
                                                        std::string_view item) noexcept;

/// Mnemonic of a field ("FGP" for 14.013), or "" when the table has none.
[[nodiscard]] std::string_view fieldMnemonic(int recordType, int field) noexcept;

}  // namespace varnel::transaction
