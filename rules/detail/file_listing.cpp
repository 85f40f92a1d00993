#include "rules/detail/file_listing.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <queue>
#include <utility>

namespace varnel::rules::detail {
namespace {

// Names sorted at once; a batch costs a string object each, whatever the folder size.
constexpr std::size_t kBatch = 16384;
// Bytes of a block of names (a longer name gets a block of its own size).
constexpr std::size_t kBlock = std::size_t{64} * 1024;

}  // namespace

std::string_view FileListing::Run::head() const noexcept {
  const char* at = blocks[block].bytes.get() + pos;
  std::uint32_t length = 0;
  std::memcpy(&length, at, sizeof length);
  return std::string_view(at + sizeof length, length);
}

void FileListing::Run::next() noexcept {
  pos += sizeof(std::uint32_t) + head().size();
  if (pos >= blocks[block].used) {
    blocks[block].bytes.reset();
    ++block;
    pos = 0;
  }
}

std::size_t FileListing::append(std::vector<Block>& blocks, std::string_view bytes,
                                std::string_view more) {
  const std::size_t need = bytes.size() + more.size();
  if (blocks.empty() || blocks.back().size - blocks.back().used < need) {
    Block b;
    b.size = std::max(kBlock, need);
    b.bytes = std::make_unique_for_overwrite<char[]>(b.size);
    blocks.push_back(std::move(b));
  }
  Block& last = blocks.back();
  const std::size_t offset = last.used;
  if (!bytes.empty()) std::memcpy(last.bytes.get() + offset, bytes.data(), bytes.size());
  if (!more.empty())
    std::memcpy(last.bytes.get() + offset + bytes.size(), more.data(), more.size());
  last.used += need;
  return offset;
}

void FileListing::add(std::string_view name) {
  if (batch_.capacity() == 0) batch_.reserve(kBatch);
  batch_.emplace_back(name);
  if (batch_.size() >= kBatch) flushBatch();
}

void FileListing::flushBatch() {
  if (batch_.empty()) return;
  std::sort(batch_.begin(), batch_.end());
  Run run;
  for (const std::string& name : batch_) {
    const auto length = static_cast<std::uint32_t>(name.size());
    char prefix[sizeof length];
    std::memcpy(prefix, &length, sizeof length);
    (void)append(run.blocks, std::string_view(prefix, sizeof prefix), name);
  }
  run.count = batch_.size();
  runs_.push_back(std::move(run));
  batch_.clear();
}

void FileListing::appendSorted(std::string_view name) {
  const std::size_t before = blocks_.size();
  const std::size_t offset = append(blocks_, name);
  if (blocks_.size() != before) blockFirst_.push_back(offsets_.size());
  offsets_.push_back(static_cast<std::uint32_t>(offset));
}

void FileListing::finish(bool unique) {
  flushBatch();
  std::vector<std::string>().swap(batch_);
  std::size_t total = 0;
  for (const Run& r : runs_) total += r.count;
  offsets_.reserve(total);
  // Merge the sorted batches, smallest head first; each batch's blocks go as they are read, so
  // the listing is never held twice.
  using Head = std::pair<std::string_view, std::size_t>;
  std::priority_queue<Head, std::vector<Head>, std::greater<>> heads;
  for (std::size_t i = 0; i < runs_.size(); ++i) {
    if (!runs_[i].done()) heads.emplace(runs_[i].head(), i);
  }
  while (!heads.empty()) {
    const std::size_t i = heads.top().second;
    heads.pop();
    Run& run = runs_[i];
    const std::string_view name = run.head();
    if (!unique || offsets_.empty() || (*this)[offsets_.size() - 1] != name) appendSorted(name);
    run.next();
    if (!run.done()) heads.emplace(run.head(), i);
  }
  std::vector<Run>().swap(runs_);
  if (offsets_.size() < total) offsets_.shrink_to_fit();
}

std::string_view FileListing::operator[](std::size_t i) const noexcept {
  // The last block whose first name is at or before i; the name ends where the next one of its
  // block starts, or at the end of the block.
  const auto it = std::upper_bound(blockFirst_.begin(), blockFirst_.end(), i);
  const auto block = static_cast<std::size_t>(it - blockFirst_.begin()) - 1;
  const std::size_t nextFirst = it != blockFirst_.end() ? *it : offsets_.size();
  const std::size_t end = i + 1 < nextFirst ? offsets_[i + 1] : blocks_[block].used;
  return std::string_view(blocks_[block].bytes.get() + offsets_[i], end - offsets_[i]);
}

void FileListing::release(std::size_t i) noexcept {
  while (released_ < blocks_.size()) {
    const std::size_t nextFirst =
        released_ + 1 < blockFirst_.size() ? blockFirst_[released_ + 1] : offsets_.size();
    if (nextFirst > i) break;
    blocks_[released_].bytes.reset();
    ++released_;
  }
}

FileListing FileListing::every(std::size_t first, std::size_t step) const {
  FileListing out;
  if (step == 0) step = 1;
  out.offsets_.reserve(first < size() ? (size() - first + step - 1) / step : 0);
  for (std::size_t i = first; i < size(); i += step) out.appendSorted((*this)[i]);
  return out;
}

}  // namespace varnel::rules::detail
