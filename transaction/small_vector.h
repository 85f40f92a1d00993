#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "transaction/detail/block_cache.h"

namespace varnel::transaction {

/// A vector that keeps up to N elements inside itself and moves to the heap beyond that. Most
/// fields hold one subfield of one item, so the tree's lists use it to spare an allocation per
/// level. The interface is the part of std::vector the tree needs; iterators are pointers and are
/// invalidated by any growth, as with std::vector. `Blocks` supplies the first heap block
/// (detail/block_cache.h); the default recycles it, PlainBlocks allocates it afresh.
template <class T, std::size_t N, template <std::size_t> class Blocks = detail::FirstBlocks>
class SmallVector {
  static_assert(N >= 1, "at least one element inside");
  static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "blocks come from plain new");
  static_assert(std::is_nothrow_move_constructible_v<T>, "elements move without throwing");

 public:
  using value_type = T;
  using size_type = std::size_t;
  using difference_type = std::ptrdiff_t;
  using reference = T&;
  using const_reference = const T&;
  using pointer = T*;
  using const_pointer = const T*;
  using iterator = T*;
  using const_iterator = const T*;
  using reverse_iterator = std::reverse_iterator<iterator>;
  using const_reverse_iterator = std::reverse_iterator<const_iterator>;

  SmallVector() noexcept {}
  SmallVector(std::initializer_list<T> init) {
    reserve(init.size());
    for (const T& v : init) push_back(v);
  }
  SmallVector(const SmallVector& other) {
    try {
      reserve(other.size_);
      for (const T& v : other) {
        ::new (static_cast<void*>(data() + size_)) T(v);
        ++size_;
      }
    } catch (...) {
      release();
      throw;
    }
  }
  SmallVector(SmallVector&& other) noexcept { takeFrom(other); }
  ~SmallVector() { release(); }

  SmallVector& operator=(const SmallVector& other) {
    if (this != &other) {
      SmallVector copy(other);
      clear();
      releaseStorage();
      takeFrom(copy);
    }
    return *this;
  }
  SmallVector& operator=(SmallVector&& other) noexcept {
    if (this != &other) {
      release();
      takeFrom(other);
    }
    return *this;
  }
  SmallVector& operator=(std::initializer_list<T> init) { return *this = SmallVector(init); }

  [[nodiscard]] size_type size() const noexcept { return size_; }
  [[nodiscard]] bool empty() const noexcept { return size_ == 0; }
  [[nodiscard]] size_type capacity() const noexcept { return isInline() ? N : capacity_; }

  [[nodiscard]] T* data() noexcept { return isInline() ? inlineData() : heap_; }
  [[nodiscard]] const T* data() const noexcept { return isInline() ? inlineData() : heap_; }

  iterator begin() noexcept { return data(); }
  iterator end() noexcept { return data() + size_; }
  const_iterator begin() const noexcept { return data(); }
  const_iterator end() const noexcept { return data() + size_; }
  const_iterator cbegin() const noexcept { return begin(); }
  const_iterator cend() const noexcept { return end(); }
  reverse_iterator rbegin() noexcept { return reverse_iterator(end()); }
  reverse_iterator rend() noexcept { return reverse_iterator(begin()); }
  const_reverse_iterator rbegin() const noexcept { return const_reverse_iterator(end()); }
  const_reverse_iterator rend() const noexcept { return const_reverse_iterator(begin()); }

  T& operator[](size_type i) noexcept { return data()[i]; }
  const T& operator[](size_type i) const noexcept { return data()[i]; }
  T& front() noexcept { return data()[0]; }
  const T& front() const noexcept { return data()[0]; }
  T& back() noexcept { return data()[size_ - 1]; }
  const T& back() const noexcept { return data()[size_ - 1]; }

  void reserve(size_type n) {
    if (n > capacity()) grow(n);
  }

  void push_back(const T& value) { emplace_back(value); }
  void push_back(T&& value) { emplace_back(std::move(value)); }

  template <class... Args>
  T& emplace_back(Args&&... args) {
    if (size_ == capacity()) [[unlikely]]
      return growAndEmplace(std::forward<Args>(args)...);
    T* slot = ::new (static_cast<void*>(data() + size_)) T(std::forward<Args>(args)...);
    ++size_;
    return *slot;
  }

  void pop_back() noexcept {
    --size_;
    std::destroy_at(data() + size_);
  }

  void clear() noexcept {
    std::destroy(begin(), end());
    size_ = 0;
  }

  void resize(size_type n) {
    if (n < size_) {
      std::destroy(begin() + n, end());
      size_ = static_cast<std::uint32_t>(n);
      return;
    }
    reserve(n);
    while (size_ < n) {
      ::new (static_cast<void*>(data() + size_)) T();
      ++size_;
    }
  }

  /// Inserts before `pos`; returns an iterator to the new element.
  iterator insert(const_iterator pos, T value) {
    const size_type at = static_cast<size_type>(pos - begin());
    emplace_back(std::move(value));
    std::rotate(begin() + at, end() - 1, end());
    return begin() + at;
  }

  iterator erase(const_iterator pos) { return erase(pos, pos + 1); }
  iterator erase(const_iterator first, const_iterator last) {
    T* f = begin() + (first - cbegin());
    T* l = begin() + (last - cbegin());
    if (f != l) {
      T* newEnd = std::move(l, end(), f);
      std::destroy(newEnd, end());
      size_ = static_cast<std::uint32_t>(newEnd - begin());
    }
    return f;
  }

  friend bool operator==(const SmallVector& a, const SmallVector& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  [[nodiscard]] bool isInline() const noexcept { return capacity_ == 0; }
  T* inlineData() noexcept { return std::launder(reinterpret_cast<T*>(inline_)); }
  const T* inlineData() const noexcept { return std::launder(reinterpret_cast<const T*>(inline_)); }

  // The first heap block: the commonest size, supplied by `Blocks`.
  static constexpr size_type kFirstHeap = N < 4 ? 4 : 2 * N;
  using FirstBlocks = Blocks<kFirstHeap * sizeof(T)>;

  [[nodiscard]] size_type nextCapacity() const noexcept {
    const size_type c = capacity();
    return c < kFirstHeap ? kFirstHeap : c * 2;
  }

  static T* allocateBlock(size_type n) {
    if (n == kFirstHeap) return static_cast<T*>(FirstBlocks::take());
    return std::allocator<T>().allocate(n);
  }
  static void freeBlock(T* block, size_type n) noexcept {
    if (n == kFirstHeap) {
      FirstBlocks::give(block);
    } else {
      std::allocator<T>().deallocate(block, n);
    }
  }

  template <class... Args>
  [[gnu::noinline]] T& growAndEmplace(Args&&... args) {
    // Build the new element first: an argument may refer into this vector.
    T tmp(std::forward<Args>(args)...);
    grow(nextCapacity());
    T* slot = ::new (static_cast<void*>(data() + size_)) T(std::move(tmp));
    ++size_;
    return *slot;
  }

  // Moves the elements into a heap block of `n` slots.
  void grow(size_type n) {
    if (n > 0xFFFFFFFFu) throw std::bad_alloc();
    // Round small requests up to the recycled block size.
    if (n < kFirstHeap) n = kFirstHeap;
    T* fresh = allocateBlock(n);
    T* old = data();
    std::uninitialized_move(old, old + size_, fresh);
    std::destroy(old, old + size_);
    releaseStorage();
    heap_ = fresh;
    capacity_ = static_cast<std::uint32_t>(n);
  }

  // Frees the heap block (elements already destroyed) and returns to inline storage.
  void releaseStorage() noexcept {
    if (!isInline()) freeBlock(heap_, capacity_);
    capacity_ = 0;
  }

  void release() noexcept {
    clear();
    releaseStorage();
  }

  // Takes over `other`'s elements; this vector must be empty and inline.
  void takeFrom(SmallVector& other) noexcept {
    if (other.isInline()) {
      std::uninitialized_move(other.begin(), other.end(), inlineData());
      size_ = other.size_;
      other.clear();
    } else {
      heap_ = other.heap_;
      capacity_ = other.capacity_;
      size_ = other.size_;
      other.capacity_ = 0;
      other.size_ = 0;
    }
  }

  union {
    T* heap_;
    alignas(T) unsigned char inline_[N * sizeof(T)];
  };
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 0;  // 0 while the elements live inside
};

}  // namespace varnel::transaction
