// The field patterns' automaton against std::regex, which it stands in for.
#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "rules/conformance/pattern.h"
#include "transaction/field_table.h"

namespace {

using varnel::rules::conformance::Pattern;

bool regexMatches(const std::regex& re, const std::string& v) {
  return std::regex_match(v.begin(), v.end(), re);
}

// Strings made of pieces that the patterns name, so that some match and many nearly do.
std::vector<std::string> samples(std::mt19937& rng, int count) {
  static const char* const kPieces[] = {"1",  "12", "123", "12345", "123456", ",", "-",  "M",
                                        "P",  "A",  "Z",   "I",     "9.3",    "0", ".",  "ALL",
                                        "\"", " ",  ":",   "/",     "AM",     "_", "\n", "\xC3",
                                        "b",  "ab", "\t",  "F0",    "x",      "(", "]"};
  std::vector<std::string> out = {"",
                                  "19.7",
                                  "20.00",
                                  "20200520",
                                  "20200520120000Z",
                                  "1,2-3,4-5,6",
                                  "1,2-3,4",
                                  "M0123456789AB",
                                  "P!!!!!!!!!!!!",
                                  "12/31/2020 1:02:03 PM -x",
                                  "ALL",
                                  "9.300,9.301",
                                  "12C",
                                  "12:34",
                                  "2020-05-20",
                                  "2020-05-20T12:34",
                                  "2020-05-20T12:34:56Z"};
  std::uniform_int_distribution<int> len(0, 12);
  std::uniform_int_distribution<std::size_t> piece(0, std::size(kPieces) - 1);
  for (int i = 0; i < count; ++i) {
    std::string s;
    for (int n = len(rng); n > 0; --n) s += kPieces[piece(rng)];
    out.push_back(s);
  }
  return out;
}

TEST(ConformancePattern, FieldTablePatternsAreCompiledAndDecideAsStdRegex) {
  std::set<std::string> patterns;
  for (const auto& d : varnel::transaction::fieldDefinitions()) {
    if (!d.regex.empty()) patterns.emplace(d.regex);
  }
  patterns.insert("(19|20)\\d{2}(0[1-9]|1[0-2])(0[1-9]|[12]\\d|3[01])");  // the example profile's
  ASSERT_GT(patterns.size(), 5U);
  std::mt19937 rng(17);
  const auto values = samples(rng, 3000);
  for (const std::string& p : patterns) {
    const auto automaton = Pattern::compile(p);
    ASSERT_NE(automaton, nullptr) << p;
    const std::regex re(p, std::regex::ECMAScript | std::regex::optimize);
    int matched = 0;
    for (const std::string& v : values) {
      const bool expected = regexMatches(re, v);
      matched += expected;
      ASSERT_EQ(automaton->matches(v), expected) << p << " on '" << v << "'";
    }
    EXPECT_GT(matched, 0) << p << ": no sample matches";
  }
}

TEST(ConformancePattern, RandomPatternsAreValidForStdRegexAndDecideAlike) {
  static const char* const kTokens[] = {
      "a",      "b",   "1",   "\\d", "\\D", "\\w", "\\s", "\\S", ".",   "[ab]",  "[^a]", "[a-c1]",
      "[\\d-]", "(",   "(?:", ")",   "|",   "*",   "+",   "?",   "{2}", "{1,3}", "{2,}", "-",
      ",",      "\\.", "*?",  "[",   "]",   "{",   "}",   "\\",  "^",   "$"};
  std::mt19937 rng(16);
  std::uniform_int_distribution<int> len(1, 8);
  std::uniform_int_distribution<std::size_t> token(0, std::size(kTokens) - 1);
  std::uniform_int_distribution<int> letter(0, 7);
  static const char kLetters[] = "ab1-, \n\xC3";
  int compiled = 0;
  for (int i = 0; i < 4000; ++i) {
    std::string p;
    for (int n = len(rng); n > 0; --n) p += kTokens[token(rng)];
    const auto automaton = Pattern::compile(p);
    if (!automaton) continue;
    ++compiled;
    std::regex re;
    ASSERT_NO_THROW(re.assign(p, std::regex::ECMAScript)) << p;
    for (int k = 0; k < 40; ++k) {
      std::string v;
      for (int n = len(rng) - 1; n > 0; --n) v += kLetters[letter(rng)];
      ASSERT_EQ(automaton->matches(v), regexMatches(re, v)) << p << " on '" << v << "'";
    }
  }
  EXPECT_GT(compiled, 500);
}

// A pattern whose deterministic table would take thousands of states runs step by step; one of
// the table's kind runs through the table. Both decide as std::regex on every string of a and b.
TEST(ConformancePattern, LargeAutomataRunStepwiseAndDecideAlike) {
  const auto large = Pattern::compile("(a|b)*a(a|b){12}");
  const auto small = Pattern::compile("\\d{1,5},\\d{1,5}(-\\d{1,5},\\d{1,5}){2,98}");
  ASSERT_NE(large, nullptr);
  ASSERT_NE(small, nullptr);
  EXPECT_FALSE(large->deterministic());
  EXPECT_TRUE(small->deterministic());
  const std::regex re("(a|b)*a(a|b){12}", std::regex::ECMAScript);
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> bit(0, 1);
  for (int k = 0; k < 300; ++k) {
    std::string v;
    for (int n = 10 + k % 9; n > 0; --n) v += bit(rng) ? 'a' : 'b';
    ASSERT_EQ(large->matches(v), regexMatches(re, v)) << v;
  }
  EXPECT_TRUE(small->matches("1,2-3,4-5,6"));
  EXPECT_FALSE(small->matches("1,2-3,4"));
  EXPECT_FALSE(small->matches("1,2-3,4-5,123456"));
}

TEST(ConformancePattern, FormsBeyondTheAutomatonAreLeftToStdRegex) {
  for (const char* p : {"(a)\\1", "(?=a)a", "\\bx", "^a$", "a{2,1}", "[]", "\\n", "[z-a]"}) {
    EXPECT_EQ(Pattern::compile(p), nullptr) << p;
  }
}

}  // namespace
