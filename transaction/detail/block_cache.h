#pragma once

// Where SmallVector gets its first heap block. Loading a file builds thousands of equal short
// lists and freeing the file releases them all together; the general-purpose allocator is slow at
// that pattern, a per-thread free list is not. BlockCache is that free list; PlainBlocks is the
// plain reference it must behave like, kept beside it for the comparison test.

#include <cstddef>
#include <new>
#include <type_traits>

namespace varnel::transaction::detail {

/// Allocates every block afresh with new and frees it with delete.
template <std::size_t Bytes>
struct PlainBlocks {
  static void* take() { return ::operator new(Bytes); }
  static void give(void* block) noexcept { ::operator delete(block); }
};

/// Keeps freed blocks of one size for reuse by the same thread; at most kMaxBlocks are kept, the
/// rest are freed. A block may be given back on another thread than the one that took it.
template <std::size_t Bytes>
class BlockCache {
 public:
  static void* take() {
    BlockCache& c = local();
    if (c.head_ == nullptr) return ::operator new(Bytes);
    Node* n = c.head_;
    c.head_ = n->next;
    --c.count_;
    return n;
  }
  static void give(void* block) noexcept {
    BlockCache& c = local();
    if (c.count_ >= kMaxBlocks) {
      ::operator delete(block);
      return;
    }
    c.head_ = ::new (block) Node{c.head_};
    ++c.count_;
  }

  BlockCache() = default;
  BlockCache(const BlockCache&) = delete;
  BlockCache& operator=(const BlockCache&) = delete;
  ~BlockCache() {
    while (head_ != nullptr) {
      Node* n = head_;
      head_ = n->next;
      ::operator delete(n);
    }
  }

 private:
  static constexpr std::size_t kMaxBlocks = 4096;
  struct Node {
    Node* next;
  };
  static_assert(Bytes >= sizeof(Node));

  static BlockCache& local() noexcept {
    thread_local BlockCache cache;
    return cache;
  }

  Node* head_ = nullptr;
  std::size_t count_ = 0;
};

// Sanitizer builds allocate every block afresh, so that use after free stays detectable.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kCacheBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
inline constexpr bool kCacheBlocks = false;
#else
inline constexpr bool kCacheBlocks = true;
#endif
#else
inline constexpr bool kCacheBlocks = true;
#endif

/// The blocks SmallVector uses by default: recycled, except in sanitizer builds.
template <std::size_t Bytes>
using FirstBlocks = std::conditional_t<kCacheBlocks, BlockCache<Bytes>, PlainBlocks<Bytes>>;

}  // namespace varnel::transaction::detail
