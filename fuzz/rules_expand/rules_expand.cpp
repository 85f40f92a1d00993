// Expands arbitrary templates (and evaluates them as conditions) against a small transaction.
// Input: byte 0 picks the record context, byte 1 the operator, the rest up to the first NUL is
// the template and the text after it the values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "rules/engine.h"
#include "samples/tx_builder.h"
#include "transaction/traditional.h"

namespace {

varnel::transaction::NistFile& sharedFile() {
  static varnel::transaction::NistFile file = [] {
    varnel::samples::TxBuilder b;
    b.type2(3, {{33, std::string("A\x1E"
                                 "B\x1F"
                                 "C\x1E"
                                 "D")}});
    b.type4(2, 4, 4, std::string(16, 'x'));
    b.type9(3, 4);
    b.type14(4, 4, 4, std::string(16, 'y'));
    b.type14(5, 4, 4, std::string(16, 'z'));
    std::unique_ptr<varnel::transaction::Transaction> tx;
    (void)varnel::transaction::readTraditionalBytes(b.bytes(), tx);
    varnel::transaction::NistFile f;
    f.adopt(std::move(tx));
    return f;
  }();
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace varnel::rules;
  if (size < 2) return 0;
  static const RecordContext kContexts[] = {{-1, -1}, {1, 0},  {2, 0},  {4, 0}, {9, 0},
                                            {14, 0},  {14, 1}, {14, 7}, {99, 3}};
  const RecordContext rc = kContexts[data[0] % (sizeof kContexts / sizeof kContexts[0])];
  const int op = static_cast<int>(data[1] % 6) - 1;
  const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::size_t nul = rest.find('\0');
  const std::string_view tmpl = rest.substr(0, nul);
  const std::string_view values = nul == std::string_view::npos ? "" : rest.substr(nul + 1);

  FileState state;
  state.baseName = "base";
  state.outputExtension = "nst";
  state.exportRecordIndex = data[0] % 3;
  RunInputs run;
  run.sourceFolder = "/src/";
  run.destFolder = "/dst/";
  run.answers = {{"P", "?", std::string(tmpl.substr(0, 50))}, {"P", "?", "again"}};
  const ExpandInputs in{sharedFile(), state, run};
  const std::string out = expandPlaceholders(tmpl, rc, in);
  if (out.size() > kMaxExpansion) std::abort();
  (void)evaluateConditions({RuleCondition{op, std::string(tmpl), std::string(values)}}, rc, in);
  return 0;
}
