#include "tests/exports/support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "rules/engine.h"
#include "transaction/traditional.h"

namespace varnel::test {

std::string type4Record(int idc, int fgp, int imp, int hll, int vll, int gca,
                        const std::string& data) {
  std::string rec;
  const auto len = static_cast<std::uint32_t>(data.size() + 18);
  rec += static_cast<char>(len >> 24);
  rec += static_cast<char>(len >> 16);
  rec += static_cast<char>(len >> 8);
  rec += static_cast<char>(len);
  rec += static_cast<char>(idc);
  rec += static_cast<char>(imp);
  rec += static_cast<char>(fgp);
  rec += std::string("\xFF\xFF\xFF\xFF\xFF", 5);
  rec += '\x01';  // ISR
  rec += static_cast<char>(hll >> 8);
  rec += static_cast<char>(hll);
  rec += static_cast<char>(vll >> 8);
  rec += static_cast<char>(vll);
  rec += static_cast<char>(gca);
  rec += data;
  return rec;
}

TxBuilder::Fields imageFields(int idc, int imp, int width, int height, const std::string& cga,
                              const std::string& data, int fgp, int ppi) {
  char idcText[8];
  std::snprintf(idcText, sizeof idcText, "%02d", idc);
  return {{2, idcText},
          {3, std::to_string(imp)},
          {4, "SRC"},
          {5, "20240413"},
          {6, std::to_string(width)},
          {7, std::to_string(height)},
          {8, "1"},
          {9, std::to_string(ppi)},
          {10, std::to_string(ppi)},
          {11, cga},
          {12, "8"},
          {13, std::to_string(fgp)},
          {999, data}};
}

void loadBytes(transaction::NistFile& file, const std::string& bytes) {
  std::unique_ptr<transaction::Transaction> tx;
  ASSERT_EQ(transaction::readTraditionalBytes(bytes, tx), 0);
  file.adopt(std::move(tx));
}

std::string picture(int width, int height, const std::vector<Point>& marks, int side) {
  std::string p(static_cast<std::size_t>(width) * height, '\xFF');
  for (const Point& m : marks) {
    for (int y = m.y - side / 2; y <= m.y + side / 2; ++y) {
      for (int x = m.x - side / 2; x <= m.x + side / 2; ++x) {
        if (x >= 0 && y >= 0 && x < width && y < height) {
          p[static_cast<std::size_t>(y) * width + x] = '\0';
        }
      }
    }
  }
  return p;
}

std::string freshFolder(const std::string& tag) {
  static std::atomic<int> counter{0};
  const auto dir =
      std::filesystem::temp_directory_path() / ("varnel_exports_" + std::to_string(::getpid()) +
                                                "_" + tag + "_" + std::to_string(counter++));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string() + "/";
}

std::string testData(const std::string& relative) {
  return readFile(std::string(VARNEL_TEST_DATA) + "/" + relative);
}

void RuleRunner::apply(transaction::NistFile& file, const std::string& action,
                       std::vector<std::string> params,
                       std::vector<rules::RuleCondition> conditions) {
  rules::ConversionRule rule;
  rule.action = action;
  for (std::size_t i = 0; i < params.size() && i < rule.parameters.size(); ++i) {
    rule.parameters[i] = params[i];
  }
  rule.conditions = std::move(conditions);
  rules::ActionContext ctx(file, state, run, outcome);
  rules::applyRule(rule, ctx);
}

}  // namespace varnel::test

// fontconfig keeps its font cache for the life of the process (cairo's text drawing fills it
// once); the leak checker of sanitizer builds would report that cache at exit. The function's
// reserved name is the one the sanitizer looks for.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
