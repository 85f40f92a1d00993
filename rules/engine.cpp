#include "rules/engine.h"

#include <climits>
#include <string>

#include "rules/detail/text.h"

namespace varnel::rules {
namespace {

using transaction::NistFile;

bool isSpace(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads a decimal integer the way scanf's %d does: optional white space, optional sign, at
// least one digit. Values beyond int are refused rather than wrapped.
bool scanInt(std::string_view s, std::size_t& pos, int& out) noexcept {
  std::size_t p = pos;
  while (p < s.size() && isSpace(s[p])) ++p;
  bool negative = false;
  if (p < s.size() && (s[p] == '+' || s[p] == '-')) {
    negative = s[p] == '-';
    ++p;
  }
  if (p >= s.size() || s[p] < '0' || s[p] > '9') return false;
  long long value = 0;
  while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
    value = value * 10 + (s[p] - '0');
    if (value > INT_MAX) return false;
    ++p;
  }
  out = static_cast<int>(negative ? -value : value);
  pos = p;
  return true;
}

// Field text of record `index` of type `type`; empty when missing.
std::string_view fieldOf(const NistFile& file, int type, int field, int index) {
  std::string_view out;
  if (type < 0 || index < 0) return {};
  if (file.getFieldText(type, field, out, index) != 0) return {};
  return out;
}

bool isOneOf(int type, std::initializer_list<int> types) noexcept {
  for (int t : types) {
    if (t == type) return true;
  }
  return false;
}

// Index of the record of type `t` a field reference reads outside its own record context: the
// record last exported when it is of that type, else the first. An exported record of another
// type says nothing about which record of type `t` is meant.
int otherRecordIndex(int t, const FileState& state) noexcept {
  return t == state.exportRecordType ? state.exportRecordIndex : 0;
}

// Appends the replacement of a field reference placeholder (T.F:c, T.F[s], T.F).
void appendFieldReference(std::string_view name, RecordContext rc, const ExpandInputs& in,
                          std::string& result) {
  std::size_t pos = 0;
  int t = 0;
  int f = 0;
  if (!scanInt(name, pos, t)) return;
  if (pos >= name.size() || name[pos] != '.') return;
  ++pos;
  if (!scanInt(name, pos, f)) return;

  if (pos + 1 < name.size() && name[pos] == ':') {
    // T.F:c - an item of the first subfield of the first record of type T.
    const int item = static_cast<unsigned char>(name[pos + 1]) - 'a';
    std::string_view text;
    if (in.file.getItemText(t, f, 0, 0, item, text) == 0) detail::appendLimited(result, text);
    return;
  }
  if (pos + 1 < name.size() && name[pos] == '[') {
    // T.F[s] - the first items of every subfield joined by s.
    const char sep = name[pos + 1];
    const int index = (t == rc.type) ? rc.index : otherRecordIndex(t, in.state);
    const int n = in.file.getSubfieldCount(t, f, index);
    for (int i = 0; i < n; ++i) {
      std::string_view text;
      if (in.file.getItemText(t, f, index, i, 0, text) != 0) continue;
      detail::appendLimited(result, text);
      if (i < n - 1 && result.size() < kMaxExpansion) result.push_back(sep);
    }
    return;
  }
  int index = otherRecordIndex(t, in.state);
  if (t == 1) {
    index = 0;
  } else if (t == rc.type) {
    index = rc.index;
  }
  detail::appendLimited(result, fieldOf(in.file, t, f, index));
}

void appendPlaceholder(std::string_view name, RecordContext rc, const ExpandInputs& in,
                       std::string& result) {
  const NistFile& file = in.file;
  const int ct = rc.type;
  if (name == "RS") {
    detail::appendLimited(result, "\x1E");
  } else if (name == "US") {
    detail::appendLimited(result, "\x1F");
  } else if (name == "IDC") {
    detail::appendLimited(result, fieldOf(file, ct, 2, rc.index));
  } else if (name == "TCN") {
    detail::appendLimited(result, fieldOf(file, 1, 9, 0));
  } else if (name == "FGP") {
    if (ct == 4) {
      detail::appendLimited(result, fieldOf(file, ct, 4, rc.index));
    } else if (isOneOf(ct, {13, 14, 15, 19})) {
      detail::appendLimited(result, fieldOf(file, ct, 13, rc.index));
    }
  } else if (name == "IMP") {
    if (isOneOf(ct, {4, 9, 13, 14, 15, 19})) {
      detail::appendLimited(result, fieldOf(file, ct, 3, rc.index));
    }
  } else if (name == "HLL" || name == "VLL") {
    if (isOneOf(ct, {4, 8, 10, 13, 14, 15, 16, 17, 19, 20})) {
      detail::appendLimited(result, fieldOf(file, ct, name == "HLL" ? 6 : 7, rc.index));
    }
  } else if (name == "RECORD_EXPORT_COUNT") {
    detail::appendLimited(result, std::to_string(in.state.exportCounter));
  } else if (name == "FILENAME") {
    detail::appendLimited(result, in.state.baseName);
  } else if (name == "SOURCE_PATH") {
    detail::appendLimited(result, in.run.sourceFolder);
  } else if (name == "DEST_PATH") {
    detail::appendLimited(result, in.run.destFolder);
  } else if (name == "FILEEXTENSION") {
    detail::appendLimited(result, in.state.outputExtension);
  } else if (name == "CONVERT_VERSION") {
    detail::appendLimited(result, kProgramVersion);
  } else if (name == "WSQ_VERSION" || name == "TAVRIX_VERSION") {
    detail::appendLimited(result, kLibraryVersion);
  } else {
    for (const auto& answer : in.run.answers) {
      if (answer.name == name) detail::appendLimited(result, answer.answer);
    }
    appendFieldReference(name, rc, in, result);
  }
}

bool conditionHolds(const RuleCondition& c, RecordContext rc, const ExpandInputs& in) {
  if (c.op < kEquals || c.op > kEndsWith) return false;
  const std::string text = expandPlaceholders(c.field, rc, in);
  std::string_view values = c.values;
  while (!values.empty()) {
    const std::size_t comma = values.find(',');
    const std::string_view token = values.substr(0, comma);
    values = comma == std::string_view::npos ? std::string_view{} : values.substr(comma + 1);
    if (token.empty()) continue;
    bool match = false;
    switch (c.op) {
      case kEquals:
        match = text == token;
        break;
      case kContains:
        match = text.find(token) != std::string::npos;
        break;
      case kStartsWith:
        match = text.starts_with(token);
        break;
      case kEndsWith:
        match = text.ends_with(token);
        break;
      default:
        break;
    }
    if (match) return true;
  }
  return false;
}

}  // namespace

bool scanFieldAddress(std::string_view text, FieldAddress& out) noexcept {
  std::size_t pos = 0;
  FieldAddress a;
  if (!scanInt(text, pos, a.type)) return false;
  if (pos >= text.size() || text[pos] != '.') return false;
  ++pos;
  if (!scanInt(text, pos, a.field)) return false;
  if (pos + 1 < text.size() && text[pos] == ':') {
    a.hasItem = true;
    a.item = static_cast<unsigned char>(text[pos + 1]) - 'a';
  }
  out = a;
  return true;
}

std::string expandPlaceholders(std::string_view tmpl, RecordContext rc, const ExpandInputs& in) {
  bool foreignSeparator = false;
  return expandPlaceholders(tmpl, rc, in, foreignSeparator);
}

std::string expandPlaceholders(std::string_view tmpl, RecordContext rc, const ExpandInputs& in,
                               bool& foreignSeparator) {
  foreignSeparator = false;
  std::string result;
  result.reserve(64);
  std::size_t i = 0;
  while (i < tmpl.size() && result.size() < kMaxExpansion) {
    if (tmpl[i] != '%') {
      result.push_back(tmpl[i]);
      ++i;
      continue;
    }
    const std::size_t close = tmpl.find('%', i + 1);
    // An unclosed placeholder at the end of the template is dropped.
    if (close == std::string_view::npos) break;
    std::string_view name = tmpl.substr(i + 1, close - i - 1);
    if (name.size() > kMaxPlaceholderName) name = name.substr(0, kMaxPlaceholderName);
    if (!name.empty()) {
      const std::size_t before = result.size();
      appendPlaceholder(name, rc, in, result);
      if (name != "RS" && name != "US" &&
          result.find_first_of("\x1C\x1D\x1E\x1F", before) != std::string::npos) {
        foreignSeparator = true;
      }
    }
    i = close + 1;
  }
  return result;
}

bool evaluateConditions(const std::vector<RuleCondition>& conditions, RecordContext rc,
                        const ExpandInputs& in) {
  for (const auto& c : conditions) {
    if (!conditionHolds(c, rc, in)) return false;
  }
  return true;
}

std::string ActionContext::expand(std::string_view tmpl, RecordContext rc) const {
  return expandPlaceholders(tmpl, rc, ExpandInputs{file, state, run});
}

std::string ActionContext::expand(std::string_view tmpl, RecordContext rc,
                                  bool& foreignSeparator) const {
  return expandPlaceholders(tmpl, rc, ExpandInputs{file, state, run}, foreignSeparator);
}

bool ActionContext::conditionsHold(RecordContext rc) const {
  if (rule == nullptr) return true;
  return evaluateConditions(rule->conditions, rc, ExpandInputs{file, state, run});
}

void ActionContext::warn(std::string text, bool withFileName) {
  outcome.rows.push_back(
      ReportRow{RowKind::kWarning, RowCounter::kWarnings, withFileName, std::move(text)});
}

void ActionContext::refuse(std::string text) {
  outcome.rows.push_back(ReportRow{RowKind::kError, RowCounter::kErrors, true, std::move(text)});
  outcome.hadErrorRow = true;
  outcome.refusedEdit = true;
}

void applyRule(const ConversionRule& rule, ActionContext& ctx) noexcept {
  const ActionFn fn = findAction(rule.action);
  if (fn == nullptr) return;
  try {
    ctx.rule = &rule;
    ctx.params = rule.parameters;
    fn(ctx);
  } catch (...) {
    // An action that runs out of memory leaves the file as far as it got; no rule stops a file.
  }
  ctx.rule = nullptr;
}

}  // namespace varnel::rules
