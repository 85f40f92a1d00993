#include "rules/conformance/pattern.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace varnel::rules::conformance {

namespace {

using Set = std::array<std::uint64_t, 4>;

// Larger automata (long counted repeats of long groups) are left to std::regex.
constexpr std::size_t kMaxSteps = 20000;
constexpr int kMaxRepeat = 1000;
constexpr std::size_t kMaxReach = 200000;
// A deterministic table past this many states is not made; the automaton then runs as it is.
constexpr std::size_t kMaxDfaStates = 4096;
constexpr int kUnbounded = -1;

void add(Set& s, unsigned char c) noexcept { s[c >> 6] |= std::uint64_t{1} << (c & 63); }
bool has(const Set& s, unsigned char c) noexcept { return (s[c >> 6] >> (c & 63)) & 1U; }
void addRange(Set& s, int lo, int hi) noexcept {
  for (int c = lo; c <= hi; ++c) add(s, static_cast<unsigned char>(c));
}
Set inverse(Set s) noexcept {
  for (auto& w : s) w = ~w;
  return s;
}

// The classes \d, \w and \s (upper case: their complements) as an ECMAScript regex over
// char sees them; false for other letters.
bool classEscape(char e, Set& out) noexcept {
  Set s{};
  switch (e | 0x20) {
    case 'd':
      addRange(s, '0', '9');
      break;
    case 'w':
      addRange(s, '0', '9');
      addRange(s, 'A', 'Z');
      addRange(s, 'a', 'z');
      add(s, '_');
      break;
    case 's':
      addRange(s, '\t', '\r');
      add(s, ' ');
      break;
    default:
      return false;
  }
  out = e >= 'a' ? s : inverse(s);
  return true;
}

// An escaped character that stands for itself: punctuation only; letters and digits have
// meanings of their own (\b, \n, \1, ...) that are left to std::regex.
bool literalEscape(char e) noexcept {
  return e > 0x20 && e < 0x7F && !(e >= '0' && e <= '9') && !(e >= 'A' && e <= 'Z') &&
         !(e >= 'a' && e <= 'z');
}

struct Node {
  enum Kind { kSet, kSeq, kAlt, kRepeat } kind = kSeq;
  Set set{};
  int min = 1;
  int max = 1;
  std::vector<Node> parts;
};

// Recursive descent over the supported syntax; any doubt makes the parse fail.
class Parser {
 public:
  explicit Parser(std::string_view p) : p_(p) {}

  bool parse(Node& out) { return alternatives(out, 0) && i_ == p_.size(); }

 private:
  bool alternatives(Node& out, int depth) {
    if (depth > 50) return false;
    out = Node{Node::kAlt, {}, 1, 1, {}};
    for (;;) {
      Node seq;
      if (!sequence(seq, depth)) return false;
      out.parts.push_back(std::move(seq));
      if (i_ < p_.size() && p_[i_] == '|') {
        ++i_;
        continue;
      }
      return true;
    }
  }

  bool sequence(Node& out, int depth) {
    out = Node{};
    while (i_ < p_.size() && p_[i_] != '|' && p_[i_] != ')') {
      Node atom;
      if (!this->atom(atom, depth)) return false;
      if (!quantifier(atom)) return false;
      out.parts.push_back(std::move(atom));
    }
    return true;
  }

  bool atom(Node& out, int depth) {
    const char c = p_[i_];
    out = Node{Node::kSet, {}, 1, 1, {}};
    if (static_cast<unsigned char>(c) >= 0x7F || c < 0x20) return false;
    switch (c) {
      case '(': {
        ++i_;
        if (p_.substr(i_, 2) == "?:") {
          i_ += 2;
        } else if (i_ < p_.size() && p_[i_] == '?') {
          return false;  // look-arounds
        }
        if (!alternatives(out, depth + 1)) return false;
        if (i_ >= p_.size() || p_[i_] != ')') return false;
        ++i_;
        return true;
      }
      case '[':
        return bracket(out.set);
      case '.':
        out.set = inverse(Set{});
        out.set[0] &= ~((std::uint64_t{1} << '\n') | (std::uint64_t{1} << '\r'));
        ++i_;
        return true;
      case '\\': {
        if (i_ + 1 >= p_.size()) return false;
        const char e = p_[i_ + 1];
        i_ += 2;
        if (classEscape(e, out.set)) return true;
        if (!literalEscape(e)) return false;
        add(out.set, static_cast<unsigned char>(e));
        return true;
      }
      case '*':
      case '+':
      case '?':
      case '{':
      case '}':
      case ']':
      case '^':
      case '$':
        return false;
      default:
        add(out.set, static_cast<unsigned char>(c));
        ++i_;
        return true;
    }
  }

  // One member of a bracket expression: a character, or a class escape when `cls` is set.
  bool member(Set& s, int& ch, bool& cls) {
    if (i_ >= p_.size()) return false;
    const char c = p_[i_];
    if (static_cast<unsigned char>(c) >= 0x7F || c < 0x20 || c == '[') return false;
    cls = false;
    if (c != '\\') {
      ch = static_cast<unsigned char>(c);
      ++i_;
      return true;
    }
    if (i_ + 1 >= p_.size()) return false;
    const char e = p_[i_ + 1];
    i_ += 2;
    if (classEscape(e, s)) {
      cls = true;
      return true;
    }
    if (!literalEscape(e)) return false;
    ch = static_cast<unsigned char>(e);
    return true;
  }

  bool bracket(Set& out) {
    ++i_;
    const bool negated = i_ < p_.size() && p_[i_] == '^';
    if (negated) ++i_;
    if (i_ >= p_.size() || p_[i_] == ']') return false;  // "[]" and "[^]": left to std::regex
    Set s{};
    while (i_ < p_.size() && p_[i_] != ']') {
      Set cs{};
      int lo = 0;
      bool cls = false;
      if (!member(cs, lo, cls)) return false;
      if (cls) {
        // "[\\d-z]" is a range from a class, which std::regex refuses or reads its own way.
        if (i_ + 1 < p_.size() && p_[i_] == '-' && p_[i_ + 1] != ']') return false;
        for (std::size_t w = 0; w < 4; ++w) s[w] |= cs[w];
        continue;
      }
      // "a-z" is a range; a '-' before the closing bracket stands for itself.
      if (i_ + 1 < p_.size() && p_[i_] == '-' && p_[i_ + 1] != ']') {
        ++i_;
        int hi = 0;
        if (!member(cs, hi, cls) || cls || hi < lo) return false;
        addRange(s, lo, hi);
      } else {
        add(s, static_cast<unsigned char>(lo));
      }
    }
    if (i_ >= p_.size()) return false;
    ++i_;
    out = negated ? inverse(s) : s;
    return true;
  }

  bool number(int& out) {
    const std::size_t start = i_;
    long long n = 0;
    while (i_ < p_.size() && p_[i_] >= '0' && p_[i_] <= '9') {
      n = n * 10 + (p_[i_++] - '0');
      if (n > kMaxRepeat) return false;
    }
    out = static_cast<int>(n);
    return i_ > start;
  }

  bool quantifier(Node& atom) {
    if (i_ >= p_.size()) return true;
    int min = 1;
    int max = 1;
    switch (p_[i_]) {
      case '*':
        min = 0;
        max = kUnbounded;
        ++i_;
        break;
      case '+':
        max = kUnbounded;
        ++i_;
        break;
      case '?':
        min = 0;
        ++i_;
        break;
      case '{':
        ++i_;
        if (!number(min)) return false;
        max = min;
        if (i_ < p_.size() && p_[i_] == ',') {
          ++i_;
          max = kUnbounded;
          if (i_ < p_.size() && p_[i_] != '}' && (!number(max) || max < min)) return false;
        }
        if (i_ >= p_.size() || p_[i_] != '}') return false;
        ++i_;
        break;
      default:
        return true;
    }
    // A lazy repeat matches the same whole values as a greedy one.
    if (i_ < p_.size() && p_[i_] == '?') ++i_;
    // A quantifier right after another is an error for std::regex; leave it to it.
    if (i_ < p_.size() && (p_[i_] == '*' || p_[i_] == '+' || p_[i_] == '?' || p_[i_] == '{')) {
      return false;
    }
    Node rep{Node::kRepeat, {}, min, max, {}};
    rep.parts.push_back(std::move(atom));
    atom = std::move(rep);
    return true;
  }

  std::string_view p_;
  std::size_t i_ = 0;
};

}  // namespace

// Emits the steps of a parsed pattern (the classic construction of a Thompson automaton).
class PatternCompiler {
 public:
  explicit PatternCompiler(Pattern& out) : out_(out) {}

  bool emit(const Node& n) {
    if (out_.steps_.size() > kMaxSteps) return false;
    switch (n.kind) {
      case Node::kSet:
        out_.sets_.push_back(n.set);
        push({Pattern::Step::kSet, static_cast<int>(out_.sets_.size() - 1), 0});
        return true;
      case Node::kSeq:
        for (const Node& part : n.parts) {
          if (!emit(part)) return false;
        }
        return true;
      case Node::kAlt: {
        std::vector<std::size_t> jumps;
        for (std::size_t i = 0; i < n.parts.size(); ++i) {
          std::size_t split = 0;
          const bool last = i + 1 == n.parts.size();
          if (!last) split = push({Pattern::Step::kSplit, 0, 0});
          if (!emit(n.parts[i])) return false;
          if (!last) {
            jumps.push_back(push({Pattern::Step::kJump, 0, 0}));
            out_.steps_[split].a = static_cast<int>(split + 1);
            out_.steps_[split].b = here();
          }
        }
        for (std::size_t j : jumps) out_.steps_[j].a = here();
        return true;
      }
      case Node::kRepeat: {
        const Node& body = n.parts.front();
        for (int i = 0; i < n.min; ++i) {
          if (!emit(body)) return false;
        }
        if (n.max == kUnbounded) {
          const std::size_t split = push({Pattern::Step::kSplit, 0, 0});
          if (!emit(body)) return false;
          push({Pattern::Step::kJump, static_cast<int>(split), 0});
          out_.steps_[split].a = static_cast<int>(split + 1);
          out_.steps_[split].b = here();
          return true;
        }
        // Optional copies, each of which may end the repeat.
        std::vector<std::size_t> splits;
        for (int i = n.min; i < n.max; ++i) {
          splits.push_back(push({Pattern::Step::kSplit, 0, 0}));
          out_.steps_[splits.back()].a = here();
          if (!emit(body)) return false;
        }
        for (std::size_t s : splits) out_.steps_[s].b = here();
        return true;
      }
    }
    return false;
  }

  // Makes the deterministic table by the subset construction, over classes of bytes that no
  // character set tells apart. Leaves it empty when it would grow past kMaxDfaStates.
  void determinise() {
    Pattern& p = out_;
    // Classes: bytes with the same membership in every distinct set.
    std::vector<Set> distinct(p.sets_.begin(), p.sets_.end());
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    std::map<std::vector<bool>, int> classIds;
    std::vector<unsigned char> representative;
    for (int c = 0; c < 256; ++c) {
      std::vector<bool> signature(distinct.size());
      for (std::size_t i = 0; i < distinct.size(); ++i) {
        signature[i] = has(distinct[i], static_cast<unsigned char>(c));
      }
      auto [it, fresh] = classIds.emplace(std::move(signature), static_cast<int>(classIds.size()));
      if (fresh) representative.push_back(static_cast<unsigned char>(c));
      p.classOf_[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(it->second);
    }
    const int classes = static_cast<int>(representative.size());
    std::map<std::vector<int>, int> ids;
    std::vector<std::vector<int>> states;
    std::vector<int> table;
    std::vector<std::uint8_t> accepts;
    const auto closure = [&](std::vector<int>& set, std::size_t from) {
      for (std::size_t i = p.reachStart_[from]; i < p.reachStart_[from + 1]; ++i) {
        set.push_back(p.reach_[i]);
      }
    };
    const auto idOf = [&](std::vector<int> set) -> int {
      if (set.empty()) return -1;
      std::sort(set.begin(), set.end());
      set.erase(std::unique(set.begin(), set.end()), set.end());
      auto [it, fresh] = ids.emplace(set, static_cast<int>(states.size()));
      if (fresh) states.push_back(std::move(set));
      return it->second;
    };
    std::vector<int> start;
    closure(start, 0);
    idOf(std::move(start));
    for (std::size_t at = 0; at < states.size(); ++at) {
      if (states.size() > kMaxDfaStates) return;
      bool accepting = false;
      for (int pc : states[at]) {
        accepting = accepting || p.steps_[static_cast<std::size_t>(pc)].op == Pattern::Step::kMatch;
      }
      accepts.push_back(accepting ? 1 : 0);
      for (int k = 0; k < classes; ++k) {
        std::vector<int> next;
        for (int pc : states[at]) {
          const Pattern::Step& st = p.steps_[static_cast<std::size_t>(pc)];
          if (st.op == Pattern::Step::kSet && has(p.sets_[static_cast<std::size_t>(st.a)],
                                                  representative[static_cast<std::size_t>(k)])) {
            closure(next, static_cast<std::size_t>(pc) + 1);
          }
        }
        table.push_back(idOf(std::move(next)));
      }
    }
    p.classes_ = classes;
    p.dfa_ = std::move(table);
    p.accepts_ = std::move(accepts);
  }

  // Ends the automaton and lists what each step reaches without reading; false when those
  // lists grow too long (long chains of optional parts), which std::regex then handles.
  bool finish() {
    push({Pattern::Step::kMatch, 0, 0});
    const auto& steps = out_.steps_;
    std::vector<unsigned> mark(steps.size(), 0);
    std::vector<int> stack;
    out_.reachStart_.reserve(steps.size() + 1);
    for (std::size_t start = 0; start < steps.size(); ++start) {
      out_.reachStart_.push_back(out_.reach_.size());
      const auto generation = static_cast<unsigned>(start + 1);
      stack.assign(1, static_cast<int>(start));
      while (!stack.empty()) {
        const int pc = stack.back();
        stack.pop_back();
        unsigned& m = mark[static_cast<std::size_t>(pc)];
        if (m == generation) continue;
        m = generation;
        const Pattern::Step& st = steps[static_cast<std::size_t>(pc)];
        if (st.op == Pattern::Step::kJump) {
          stack.push_back(st.a);
        } else if (st.op == Pattern::Step::kSplit) {
          stack.push_back(st.b);
          stack.push_back(st.a);
        } else {
          out_.reach_.push_back(pc);
        }
      }
      if (out_.reach_.size() > kMaxReach) return false;
    }
    out_.reachStart_.push_back(out_.reach_.size());
    return true;
  }

 private:
  std::size_t push(Pattern::Step s) {
    out_.steps_.push_back(s);
    return out_.steps_.size() - 1;
  }
  int here() const { return static_cast<int>(out_.steps_.size()); }

  Pattern& out_;
};

std::unique_ptr<const Pattern> Pattern::compile(std::string_view pattern) {
  Node root;
  if (pattern.empty() || !Parser(pattern).parse(root)) return nullptr;
  auto p = std::make_unique<Pattern>();
  PatternCompiler c(*p);
  if (!c.emit(root) || p->steps_.size() > kMaxSteps) return nullptr;
  if (!c.finish()) return nullptr;
  c.determinise();
  return p;
}

namespace {

// Working memory of a match: the states alive before and after a character, and a mark per
// step of the generation that last listed it.
struct Scratch {
  std::vector<int> now;
  std::vector<int> next;
  std::vector<unsigned> mark;
  unsigned generation = 0;
};

}  // namespace

bool Pattern::matches(std::string_view value) const {
  return deterministic() ? matchesDeterministic(value) : matchesStepwise(value);
}

bool Pattern::matchesDeterministic(std::string_view value) const noexcept {
  int state = 0;
  for (char ch : value) {
    state =
        dfa_[static_cast<std::size_t>(state * classes_ + classOf_[static_cast<unsigned char>(ch)])];
    if (state < 0) return false;
  }
  return accepts_[static_cast<std::size_t>(state)] != 0;
}

bool Pattern::matchesStepwise(std::string_view value) const {
  thread_local Scratch s;
  const std::size_t n = steps_.size();
  if (s.mark.size() < n) s.mark.resize(n, 0);
  if (s.now.capacity() < n) {
    s.now.reserve(n);
    s.next.reserve(n);
  }
  // Lists what `from` reaches without reading, once per generation.
  auto reach = [&](std::vector<int>& list, std::size_t from) {
    for (std::size_t i = reachStart_[from]; i < reachStart_[from + 1]; ++i) {
      const int pc = reach_[i];
      unsigned& m = s.mark[static_cast<std::size_t>(pc)];
      if (m == s.generation) continue;
      m = s.generation;
      list.push_back(pc);
    }
  };
  auto nextGeneration = [&] {
    if (++s.generation == 0) {
      std::fill(s.mark.begin(), s.mark.end(), 0U);
      s.generation = 1;
    }
  };
  nextGeneration();
  s.now.clear();
  reach(s.now, 0);
  for (char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    nextGeneration();
    s.next.clear();
    for (int pc : s.now) {
      const Step& st = steps_[static_cast<std::size_t>(pc)];
      if (st.op == Step::kSet && has(sets_[static_cast<std::size_t>(st.a)], c)) {
        reach(s.next, static_cast<std::size_t>(pc) + 1);
      }
    }
    s.now.swap(s.next);
    if (s.now.empty()) return false;
  }
  for (int pc : s.now) {
    if (steps_[static_cast<std::size_t>(pc)].op == Step::kMatch) return true;
  }
  return false;
}

}  // namespace varnel::rules::conformance
