#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace varnel::rules::conformance {

/// A regular expression of the common kind that field patterns use (characters, classes,
/// groups, alternatives and repeats), compiled into a small automaton that decides whether a
/// whole value matches in time linear in its length, without allocating per value. It
/// decides exactly as an ECMAScript std::regex_match would; patterns outside its kind
/// (back-references, look-arounds, anchors, \b and the like) are left to std::regex.
class Pattern {
 public:
  /// The automaton of `pattern`, or null when the pattern is outside the supported kind or
  /// malformed (std::regex then decides whether it is valid).
  [[nodiscard]] static std::unique_ptr<const Pattern> compile(std::string_view pattern);

  /// True when the whole of `value` matches. Safe to call from several threads at once; the
  /// working memory is kept per thread, so only std::bad_alloc can escape.
  [[nodiscard]] bool matches(std::string_view value) const;

  /// True when matching runs through a deterministic table (see compile), which the automaton
  /// gets unless it would take more than a few thousand states.
  [[nodiscard]] bool deterministic() const noexcept { return !dfa_.empty(); }

 private:
  struct Step {
    enum Op : std::uint8_t { kSet, kSplit, kJump, kMatch } op = kMatch;
    int a = 0;  // kSet: index of the character set; kSplit, kJump: first target
    int b = 0;  // kSplit: second target
  };
  friend class PatternCompiler;
  std::vector<Step> steps_;
  std::vector<std::array<std::uint64_t, 4>> sets_;
  // For each step, the character and match steps it leads to without reading a character:
  // reach_[reachStart_[pc] .. reachStart_[pc + 1]).
  std::vector<int> reach_;
  std::vector<std::size_t> reachStart_;
  // The same automaton made deterministic when it stays small (most field patterns): bytes
  // fall into classes that every character set treats alike, and dfa_[state * classes_ + class]
  // is the next state, -1 for none; state 0 is the start. Empty when the automaton is run
  // as it is.
  std::array<std::uint8_t, 256> classOf_{};
  int classes_ = 0;
  std::vector<int> dfa_;
  std::vector<std::uint8_t> accepts_;
  bool matchesDeterministic(std::string_view value) const noexcept;
  bool matchesStepwise(std::string_view value) const;
};

}  // namespace varnel::rules::conformance
