// Record lookups and field readers shared by the image operations.
#include "imaging/detail/record_access.h"

#include <charconv>
#include <cstdlib>
#include <string>

#include "imaging/status.h"

namespace varnel::imaging::detail {

using transaction::Record;

bool isClassifiableType(int type) noexcept {
  return (type >= 3 && type <= 8) || transaction::isTaggedImageType(type) || type == 11;
}

int lookupImageRecord(const transaction::NistFile& file, int type, int index,
                      const Record*& out) noexcept {
  const transaction::Transaction* tx = file.transaction();
  if (tx == nullptr) return kNoTransaction;
  if (!isClassifiableType(type)) return kNotImageType;
  if (index < 0) return kNegativeIndex;
  const int pos = file.findRecord(type, index);
  if (pos < 0 || static_cast<std::size_t>(pos) >= tx->records.size()) return kNotFound;
  out = &tx->records[static_cast<std::size_t>(pos)];
  return kOk;
}

int dataFieldNumber(const Record& record) noexcept {
  if (record.type == 11) return 999;
  return transaction::imageDataFieldNumber(record);
}

int compressionFieldNumber(const Record& record) noexcept {
  const int t = record.type;
  if (t == 7 && transaction::findField(record, 10) != nullptr) return 9;
  if (t >= 3 && t <= 7) return 8;
  if (t == 8) return 4;
  if (transaction::isTaggedType(t)) return 11;
  return 0;
}

std::optional<std::span<const std::uint8_t>> fieldBytes(const Record& record,
                                                        int fieldNumber) noexcept {
  const transaction::Field* f = transaction::findField(record, fieldNumber);
  if (f == nullptr || f->subfields.empty() || f->subfields[0].items.empty()) return std::nullopt;
  const std::string& v = f->subfields[0].items[0].value;
  return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(v.data()), v.size());
}

std::optional<std::string_view> fieldText(const Record& record, int fieldNumber) noexcept {
  const transaction::Field* f = transaction::findField(record, fieldNumber);
  if (f == nullptr || f->subfields.empty() || f->subfields[0].items.empty()) return std::nullopt;
  return std::string_view(f->subfields[0].items[0].value);
}

std::optional<int> parseInt(std::string_view text) noexcept {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int v = 0;
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || p != end || text.empty()) return std::nullopt;
  return v;
}

std::optional<double> parseReal(std::string_view text) noexcept {
  try {
    const std::string s(text);
    const char* begin = s.c_str();
    char* end = nullptr;
    const double v = std::strtod(begin, &end);
    if (end == begin) return std::nullopt;
    return v;
  } catch (...) {
    return std::nullopt;
  }
}

long long fieldNumberOr0(const Record& record, int fieldNumber) noexcept {
  const auto t = fieldText(record, fieldNumber);
  if (!t) return 0;
  return transaction::parseLeadingInt(*t);
}

int occurrenceAt(const transaction::Transaction& tx, std::size_t position) noexcept {
  int n = 0;
  const int type = tx.records[position].type;
  for (std::size_t i = 0; i < position; ++i) {
    if (tx.records[i].type == type) ++n;
  }
  return n;
}

std::string decimal(long long value) { return std::to_string(value); }

}  // namespace varnel::imaging::detail
