#include "transaction/field_table.h"

#include <algorithm>
#include <array>

namespace varnel::transaction {
namespace {

// Not constexpr: the table is past what clang evaluates at compile time.
const FieldDefinition kFields[] = {
#define VARNEL_FIELD_ROW(enc, type, field, id, ref, item, mn, desc, cond, dt, minl, maxl, mino, \
                         maxo, sc, ct, vr, re, tag, ns, bt, path)                               \
  {enc,  type, field, id, ref, item, mn, desc, cond, dt, minl,                                  \
   maxl, mino, maxo,  sc, ct,  vr,   re, tag,  ns,   bt, path},
#include "transaction/field_table_data.inc"
#undef VARNEL_FIELD_ROW
};

const CodeDefinition kCodes[] = {
#define VARNEL_CODE_ROW(table, code, desc) {table, code, desc},
#include "transaction/field_table_data.inc"
#undef VARNEL_CODE_ROW
};

bool traditional(const FieldDefinition& d) noexcept {
  return d.encodings.find_first_of("Tt") != std::string_view::npos;
}

}  // namespace

std::span<const FieldDefinition> fieldDefinitions() noexcept { return kFields; }

std::span<const CodeDefinition> codeDefinitions() noexcept { return kCodes; }

const FieldDefinition* findFieldDefinition(int recordType, int field) noexcept {
  for (const FieldDefinition& d : kFields) {
    if (d.recordType == recordType && d.field == field && traditional(d) &&
        (d.item.empty() || d.item == "SET"))
      return &d;
  }
  return nullptr;
}

const FieldDefinition* findItemDefinition(int recordType, int field,
                                          std::string_view item) noexcept {
  const FieldDefinition* xmlOnly = nullptr;
  for (const FieldDefinition& d : kFields) {
    if (d.recordType != recordType || d.field != field || d.item != item) continue;
    if (traditional(d)) return &d;
    if (!xmlOnly) xmlOnly = &d;
  }
  return xmlOnly;
}

std::string_view fieldMnemonic(int recordType, int field) noexcept {
  const FieldDefinition* d = findFieldDefinition(recordType, field);
  return d ? d->mnemonic : std::string_view{};
}

}  // namespace varnel::transaction
