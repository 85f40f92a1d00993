// The field actions: add, copy, move, delete, and the text edits that write a field back.
#include <cstdio>
#include <string>
#include <string_view>

#include "rules/detail/actions.h"
#include "rules/engine.h"
#include "rules/status.h"
#include "transaction/status.h"
#include "transaction/tree.h"

namespace varnel::rules {
namespace {

using transaction::NistFile;

bool hasSeparator(std::string_view text) noexcept {
  return text.find_first_of("\x1E\x1F") != std::string_view::npos;
}

bool isBinaryRecordType(int type) noexcept { return type >= 3 && type <= 8; }

// Writes a processed first item back. A field of one item is replaced whole; in a field of
// several subfields or items only the first item changes, so that the others are kept.
int writeFirstItem(NistFile& file, int t, int f, int index, std::string_view text) noexcept {
  if (!isBinaryRecordType(t)) {
    const int subfields = file.getSubfieldCount(t, f, index);
    const int items = file.getItemCount(t, f, index, 0);
    if (subfields > 1 || items > 1) return file.setItem(t, f, index, 0, 0, text);
  }
  return file.setFieldAt(t, f, text, index);
}

// Scans parameter `n` (1-based) as T.F; false when it does not scan.
bool scanParam(const ActionContext& ctx, std::size_t n, FieldAddress& a) noexcept {
  return scanFieldAddress(ctx.params[n - 1], a);
}

}  // namespace

bool detail::reportRefusedEdit(ActionContext& ctx, int status, int type, int field) {
  const char* why = nullptr;
  switch (status) {
    case transaction::kStructuralField:
      why = "the field holds the record's length, version or IDC";
      break;
    case transaction::kSeparatorInValue:
      why = "the value holds a separator character";
      break;
    case transaction::kValueTooLong:
      why = "the text would be longer than 268435456 bytes";
      break;
    default:
      return false;
  }
  char address[32];
  (void)std::snprintf(address, sizeof address, "%d.%03d", type, field);
  const std::string action = ctx.rule != nullptr ? ctx.rule->action : std::string();
  ctx.refuse("\"" + action + "\" was not applied to field " + address + ": " + why);
  return true;
}

void setFieldFromRule(ActionContext& ctx, int t, int item, int f, std::string_view tmpl) {
  NistFile& file = ctx.file;
  bool foreign = false;
  if (t == 1 || t == 2) {
    const std::string text = ctx.expand(tmpl, RecordContext{}, foreign);
    int rc = transaction::kSeparatorInValue;
    if (foreign) {
      // A separator that came from an answer or another field is data, not structure.
    } else if (item >= 0) {
      rc = file.setItem(t, f, 0, 0, item, text);
    } else if (hasSeparator(text)) {
      // RS and US in the value build subfields and items instead of landing inside one item.
      rc = file.setFieldAt(t, f, text, 0);
    } else {
      rc = file.setField(t, f, text);
    }
    (void)detail::reportRefusedEdit(ctx, rc, t, f);
    return;
  }
  if (t < 3) return;
  const int count = file.countRecords(t);
  for (int i = 0; i < count; ++i) {
    const RecordContext rc{t, i};
    const std::string text = ctx.expand(tmpl, rc, foreign);
    if (!ctx.conditionsHold(rc)) continue;
    int status = transaction::kSeparatorInValue;
    if (foreign) {
      // As above.
    } else if (item >= 0) {
      status = file.setItem(t, f, i, 0, item, text);
    } else {
      status = file.setFieldAt(t, f, text, i);
    }
    if (detail::reportRefusedEdit(ctx, status, t, f)) return;
  }
}

int removeCharacters(NistFile& file, int t, int f, int index, std::string_view set) noexcept {
  try {
    std::string_view text;
    if (int rc = file.getFieldText(t, f, text, index); rc < 0) return rc;
    // Cutting a longer text to the working buffer would lose its end; leave it as it is.
    if (text.size() > kMaxRemoveCharactersText) return kTextTooLong;
    std::string kept;
    kept.reserve(text.size());
    for (char c : text) {
      if (set.find(c) == std::string_view::npos) kept.push_back(c);
    }
    if (kept.size() == text.size()) return kOk;  // nothing removed
    return writeFirstItem(file, t, f, index, kept);
  } catch (...) {
    return kOutOfMemory;
  }
}

namespace detail {

void addField(ActionContext& ctx) {
  FieldAddress a;
  if (!scanParam(ctx, 1, a)) return;
  if (a.hasItem && a.item < 0) return;  // a letter before "a" names no item
  setFieldFromRule(ctx, a.type, a.hasItem ? a.item : -1, a.field, ctx.params[1]);
}

void addFieldIfBlank(ActionContext& ctx) {
  FieldAddress a;
  if (!scanParam(ctx, 1, a)) return;
  const int bytes = ctx.file.getFieldByteCount(a.type, a.field, 0);
  if (bytes > 0) return;
  // The value replaces the whole field, as "Add Field" with T.F does.
  setFieldFromRule(ctx, a.type, -1, a.field, ctx.params[1]);
}

void addFieldIfMissing(ActionContext& ctx) {
  FieldAddress a;
  if (!scanParam(ctx, 1, a)) return;
  if (ctx.file.getFieldByteCount(a.type, a.field, 0) >= 0) return;
  setFieldFromRule(ctx, a.type, 0, a.field, ctx.params[1]);
}

namespace {

// Copies the From field to the To field; true when the To field was written.
bool copyFieldText(ActionContext& ctx, const FieldAddress& from, const FieldAddress& to) {
  std::string_view view;
  if (ctx.file.getFieldText(from.type, from.field, view, 0) != 0) return false;
  const std::string text(view);  // the view dies with the next edit
  const int rc = ctx.file.setField(to.type, to.field, text);
  (void)reportRefusedEdit(ctx, rc, to.type, to.field);
  return rc == 0;
}

}  // namespace

void copyField(ActionContext& ctx) {
  FieldAddress from;
  FieldAddress to;
  if (!scanParam(ctx, 1, from) || !scanParam(ctx, 2, to)) return;
  (void)copyFieldText(ctx, from, to);
}

void moveField(ActionContext& ctx) {
  FieldAddress from;
  FieldAddress to;
  if (!scanParam(ctx, 1, from) || !scanParam(ctx, 2, to)) return;
  // Moving a field onto itself would delete it.
  if (from.type == to.type && from.field == to.field) return;
  if (copyFieldText(ctx, from, to)) (void)ctx.file.deleteField(from.type, from.field);
}

void deleteField(ActionContext& ctx) {
  FieldAddress a;
  if (!scanParam(ctx, 1, a)) return;
  if (a.type == 1 || a.type == 2) {
    (void)reportRefusedEdit(ctx, ctx.file.deleteField(a.type, a.field), a.type, a.field);
    return;
  }
  if (a.type < 3) return;
  int count = ctx.file.countRecords(a.type);
  for (int i = 0; i < count;) {
    if (ctx.conditionsHold(RecordContext{a.type, i})) {
      if (reportRefusedEdit(ctx, ctx.file.deleteFieldAt(a.type, a.field, i), a.type, a.field))
        return;
      const int now = ctx.file.countRecords(a.type);
      // Deleting a record's only field deletes the record: the next record moved to index i.
      if (now < count) {
        count = now;
        continue;
      }
    }
    ++i;
  }
}

void removeInvalidCharacters(ActionContext& ctx) {
  FieldAddress a;
  if (!scanParam(ctx, 1, a)) return;
  for (int i = ctx.file.countRecords(a.type) - 1; i >= 0; --i) {
    if (ctx.conditionsHold(RecordContext{a.type, i})) {
      const int rc = removeCharacters(ctx.file, a.type, a.field, i, ctx.params[1]);
      if (reportRefusedEdit(ctx, rc, a.type, a.field)) return;
    }
  }
}

void replaceStrings(ActionContext& ctx) {
  FieldAddress a;
  if (!scanParam(ctx, 1, a)) return;
  const std::string& find = ctx.params[1];
  const std::string& with = ctx.params[2];
  if (find.empty()) return;
  const int count = ctx.file.countRecords(a.type);
  for (int k = 0; k < count; ++k) {
    std::string_view text;
    if (ctx.file.getFieldText(a.type, a.field, text, k) != 0) continue;
    // The size of the result is known before it is built: one beyond the field limit is refused
    // without allocating it.
    std::size_t hits = 0;
    for (std::size_t at = text.find(find); at != std::string_view::npos;
         at = text.find(find, at + find.size())) {
      ++hits;
    }
    if (hits == 0) continue;
    const std::size_t size = text.size() - hits * find.size() + hits * with.size();
    if (size > transaction::kMaxFieldText) {
      (void)reportRefusedEdit(ctx, transaction::kValueTooLong, a.type, a.field);
      return;
    }
    std::string out;
    out.reserve(size);
    std::size_t pos = 0;
    while (true) {
      const std::size_t hit = text.find(find, pos);
      if (hit == std::string_view::npos) break;
      out.append(text.substr(pos, hit - pos));
      out.append(with);
      pos = hit + find.size();
    }
    out.append(text.substr(pos));
    if (reportRefusedEdit(ctx, writeFirstItem(ctx.file, a.type, a.field, k, out), a.type, a.field))
      return;
  }
}

namespace {

void cutStrings(ActionContext& ctx, bool left) {
  FieldAddress a;
  if (!scanParam(ctx, 1, a)) return;
  long long n = transaction::parseLeadingInt(ctx.params[1]);
  if (n < 0) n = 0;
  if (n > static_cast<long long>(kMaxStringCutText)) n = kMaxStringCutText;
  const int count = ctx.file.countRecords(a.type);
  for (int j = 0; j < count; ++j) {
    std::string_view text;
    if (ctx.file.getFieldText(a.type, a.field, text, j) != 0) continue;
    const std::size_t keep = std::min<std::size_t>(static_cast<std::size_t>(n), text.size());
    if (keep == text.size()) continue;  // nothing to cut
    const std::string out(left ? text.substr(0, keep) : text.substr(text.size() - keep));
    if (reportRefusedEdit(ctx, writeFirstItem(ctx.file, a.type, a.field, j, out), a.type, a.field))
      return;
  }
}

}  // namespace

void stringLeft(ActionContext& ctx) { cutStrings(ctx, true); }
void stringRight(ActionContext& ctx) { cutStrings(ctx, false); }

void promptForParameter(ActionContext& /*ctx*/) {}

}  // namespace detail
}  // namespace varnel::rules
