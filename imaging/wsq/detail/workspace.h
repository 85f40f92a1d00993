#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace varnel::wsq::detail {

/// Images up to this many pixels leave their working buffers to the thread's next image, so a
/// batch does not allocate, clear and page in the same memory for every image (at 15 bytes a
/// pixel, at most 63 MB stay with a thread). Larger images get buffers of their own, released
/// before the call returns.
inline constexpr std::size_t kKeptPixels = std::size_t{1} << 22;

/// Room for at least n elements of T, grown on demand; the contents are whatever the last user
/// left there, so every user writes before it reads.
template <typename T>
class Scratch {
 public:
  /// The buffer (never null for n = 0), or null when n elements cannot be allocated.
  [[nodiscard]] T* get(std::size_t n) noexcept {
    if (n > size_ || !data_) {
      data_.reset();
      size_ = 0;
      const std::size_t m = n > 0 ? n : 1;
      try {
        data_ = std::make_unique_for_overwrite<T[]>(m);
      } catch (const std::bad_alloc&) {
        return nullptr;
      }
      size_ = m;
    }
    return data_.get();
  }
  void trim(std::size_t keep) noexcept {
    if (size_ > keep) {
      data_.reset();
      size_ = 0;
    }
  }

 private:
  std::unique_ptr<T[]> data_;
  std::size_t size_ = 0;
};

/// The working buffers of one encode or decode.
struct Workspace {
  Scratch<float> image;
  Scratch<float> scratch;
  Scratch<std::int16_t> coef;
  Scratch<std::uint32_t> symbols;
  Scratch<std::uint8_t> bytes;
};

/// The calling thread's workspace for the length of one encode or decode; buffers above
/// kKeptPixels pixels are released when the lease ends.
class WorkspaceLease {
 public:
  WorkspaceLease() noexcept : ws_(threadWorkspace()) {}
  ~WorkspaceLease() {
    ws_.image.trim(kKeptPixels);
    ws_.scratch.trim(kKeptPixels);
    ws_.coef.trim(kKeptPixels);
    ws_.symbols.trim(kKeptPixels);
    ws_.bytes.trim(kKeptPixels);
  }
  WorkspaceLease(const WorkspaceLease&) = delete;
  WorkspaceLease& operator=(const WorkspaceLease&) = delete;
  Workspace* operator->() noexcept { return &ws_; }
  Workspace& operator*() noexcept { return ws_; }

 private:
  static Workspace& threadWorkspace() noexcept {
    thread_local Workspace ws;
    return ws;
  }
  Workspace& ws_;
};

}  // namespace varnel::wsq::detail
