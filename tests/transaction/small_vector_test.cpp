#include "transaction/small_vector.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using varnel::transaction::SmallVector;

namespace {

using Texts = SmallVector<std::string, 1>;

// Long enough to live on the heap, so that a bad move or a double free shows under sanitizers.
std::string text(int i) {
  return "a text long enough to leave the small buffer #" + std::to_string(i);
}

Texts filled(int n) {
  Texts v;
  for (int i = 0; i < n; ++i) v.push_back(text(i));
  return v;
}

std::vector<std::string> contents(const Texts& v) { return {v.begin(), v.end()}; }

}  // namespace

TEST(SmallVector, GrowsFromInsideToTheHeapKeepingEveryElement) {
  for (int n : {0, 1, 2, 4, 5, 9, 100}) {
    const Texts v = filled(n);
    ASSERT_EQ(v.size(), static_cast<std::size_t>(n));
    EXPECT_GE(v.capacity(), v.size());
    for (int i = 0; i < n; ++i) EXPECT_EQ(v[i], text(i)) << n;
    if (n > 0) {
      EXPECT_EQ(v.front(), text(0));
      EXPECT_EQ(v.back(), text(n - 1));
    }
  }
}

TEST(SmallVector, CopiesAndMovesAreIndependent) {
  for (int n : {1, 6}) {  // inline and heap storage
    Texts a = filled(n);
    Texts b(a);
    b[0] = "changed";
    EXPECT_EQ(a[0], text(0));
    Texts c;
    c = a;
    EXPECT_EQ(contents(c), contents(a));
    const Texts& self = c;
    c = self;  // self-assignment keeps the elements
    EXPECT_EQ(contents(c), contents(a));

    Texts moved(std::move(a));
    EXPECT_EQ(moved.size(), static_cast<std::size_t>(n));
    EXPECT_TRUE(a.empty());  // NOLINT(bugprone-use-after-move): moved-from state is specified
    a.push_back("reused");
    EXPECT_EQ(a.size(), 1u);

    Texts target = filled(3);
    target = std::move(moved);
    EXPECT_EQ(target.size(), static_cast<std::size_t>(n));
    EXPECT_EQ(target[n - 1], text(n - 1));
  }
}

TEST(SmallVector, InsertAndEraseAtEveryPosition) {
  for (int n : {1, 3, 4, 8}) {
    for (int at = 0; at <= n; ++at) {
      Texts v = filled(n);
      std::vector<std::string> expect = contents(v);
      auto it = v.insert(v.begin() + at, "new");
      expect.insert(expect.begin() + at, "new");
      EXPECT_EQ(*it, "new");
      EXPECT_EQ(contents(v), expect) << n << " insert at " << at;

      it = v.erase(v.begin() + at);
      expect.erase(expect.begin() + at);
      EXPECT_EQ(contents(v), expect) << n << " erase at " << at;
      if (at < static_cast<int>(v.size())) {
        EXPECT_EQ(*it, expect[at]);
      }
    }
    Texts v = filled(n);
    v.erase(v.begin(), v.end());
    EXPECT_TRUE(v.empty());
  }
}

TEST(SmallVector, AppendingAnElementOfItselfWhileGrowing) {
  Texts v = filled(1);
  v.push_back(v[0]);  // inside -> heap
  for (int i = 0; i < 3; ++i) v.push_back(v.back());
  ASSERT_EQ(v.size(), 5u);
  for (const std::string& s : v) EXPECT_EQ(s, text(0));
}

TEST(SmallVector, ResizeClearAndComparison) {
  Texts v = filled(5);
  v.resize(2);
  EXPECT_EQ(contents(v), (std::vector<std::string>{text(0), text(1)}));
  v.resize(4);
  EXPECT_EQ(v[3], "");
  EXPECT_FALSE(v == filled(4));
  v[2] = text(2);
  v[3] = text(3);
  EXPECT_TRUE(v == filled(4));
  v.clear();
  EXPECT_TRUE(v.empty());
}

TEST(SmallVector, RecycledBlocksComeBackClean) {
  // Lists of the first heap size are recycled; a reused block must hold only the new elements.
  for (int round = 0; round < 3; ++round) {
    std::vector<Texts> lists;
    for (int i = 0; i < 50; ++i) lists.push_back(filled(4));
    for (int i = 0; i < 50; ++i) {
      ASSERT_EQ(lists[i].size(), 4u);
      EXPECT_EQ(lists[i][3], text(3));
    }
  }
  Texts v;
  v.reserve(3);
  EXPECT_GE(v.capacity(), 3u);
  v.push_back("x");
  EXPECT_EQ(v.size(), 1u);
}

TEST(SmallVector, RecycledAndPlainBlocksHoldTheSameAfterRandomEdits) {
  using Cached = SmallVector<std::string, 2, varnel::transaction::detail::BlockCache>;
  using Plain = SmallVector<std::string, 2, varnel::transaction::detail::PlainBlocks>;
  constexpr int kLists = 8;
  std::vector<Cached> cached(kLists);
  std::vector<Plain> plain(kLists);
  std::mt19937 rng(14);
  for (int step = 0; step < 20000; ++step) {
    const int i = static_cast<int>(rng() % kLists);
    const int j = static_cast<int>(rng() % kLists);
    Cached& c = cached[i];
    Plain& p = plain[i];
    const std::size_t at = c.empty() ? 0 : rng() % c.size();
    switch (rng() % 8) {
      case 0:
      case 1:
        c.push_back(text(step));
        p.push_back(text(step));
        break;
      case 2:
        c.insert(c.begin() + at, text(step));
        p.insert(p.begin() + at, text(step));
        break;
      case 3:
        if (!c.empty()) {
          c.erase(c.begin() + at);
          p.erase(p.begin() + at);
        }
        break;
      case 4:
        c.resize(at);
        p.resize(at);
        break;
      case 5:
        // Freeing whole lists returns their blocks for the next ones to reuse.
        c = Cached();
        p = Plain();
        break;
      case 6:
        c = cached[j];
        p = plain[j];
        break;
      default:
        c = std::move(cached[j]);
        p = std::move(plain[j]);
        break;
    }
    for (int k = 0; k < kLists; ++k) {
      ASSERT_EQ(std::vector<std::string>(cached[k].begin(), cached[k].end()),
                std::vector<std::string>(plain[k].begin(), plain[k].end()))
          << "step " << step << " list " << k;
    }
  }
}
