#include <atomic>
#include <cmath>
#include <memory>
#include <new>

#include "imaging/wsq/detail/codec.h"
#include "imaging/wsq/detail/entropy.h"
#include "imaging/wsq/status.h"
#include "imaging/wsq/wsq.h"

namespace varnel::wsq {
namespace {

using detail::ByteWriter;
using detail::kSubbands;
using detail::Region;

constexpr int kLinuxImplementationNumber = 10032;
constexpr double kCeil16 = 65535.0;
constexpr double kCeil32 = 4294967295.0;

int putScaled16(ByteWriter& w, double v, int tooLarge) noexcept {
  int s = 0;
  std::uint32_t n = 0;
  if (!detail::scaleValue(v, kCeil16, s, n)) return tooLarge;
  if (int rc = w.u8(s); rc < 0) return rc;
  return w.u16(static_cast<int>(n));
}

int putTap(ByteWriter& w, float tap, int tooLarge) noexcept {
  int s = 0;
  std::uint32_t n = 0;
  const double mag = std::fabs(static_cast<double>(tap));
  if (!detail::scaleValue(mag, kCeil32, s, n)) return tooLarge;
  if (int rc = w.u8(tap < 0.0F ? 1 : 0); rc < 0) return rc;
  if (int rc = w.u8(s); rc < 0) return rc;
  return w.u32(n);
}

int writeTransformTable(ByteWriter& w, const detail::FilterBank& f) noexcept {
  const int nl = static_cast<int>(f.low.size());
  const int nh = static_cast<int>(f.high.size());
  const int entries = (nl - nl / 2) + (nh - nh / 2);
  if (int rc = w.u16(detail::kDtt); rc < 0) return rc;
  if (int rc = w.u16(4 + 6 * entries); rc < 0) return rc;
  if (int rc = w.u8(nl); rc < 0) return rc;
  if (int rc = w.u8(nh); rc < 0) return rc;
  for (int i = nl / 2; i < nl; ++i) {
    if (int rc = putTap(w, f.low[static_cast<std::size_t>(i)], kLowTapTooLarge); rc < 0) return rc;
  }
  for (int i = nh / 2; i < nh; ++i) {
    if (int rc = putTap(w, f.high[static_cast<std::size_t>(i)], kHighTapTooLarge); rc < 0)
      return rc;
  }
  return kOk;
}

int writeQuantTable(ByteWriter& w, const std::array<float, kSubbands>& q,
                    const std::array<float, kSubbands>& z) noexcept {
  if (int rc = w.u16(detail::kDqt); rc < 0) return rc;
  if (int rc = w.u16(389); rc < 0) return rc;
  // Bin centre 0.44 as scale 2, value 44.
  if (int rc = w.u8(2); rc < 0) return rc;
  if (int rc = w.u16(44); rc < 0) return rc;
  for (std::size_t k = 0; k < kSubbands; ++k) {
    if (int rc = putScaled16(w, q[k], kQTooLarge); rc < 0) return rc;
    if (int rc = putScaled16(w, z[k], kZTooLarge); rc < 0) return rc;
  }
  return kOk;
}

int writeFrame(ByteWriter& w, int width, int height, float mShift, float rScale) noexcept {
  if (int rc = w.u16(detail::kSof); rc < 0) return rc;
  if (int rc = w.u16(17); rc < 0) return rc;
  if (int rc = w.u8(0); rc < 0) return rc;
  if (int rc = w.u8(255); rc < 0) return rc;
  if (int rc = w.u16(height); rc < 0) return rc;
  if (int rc = w.u16(width); rc < 0) return rc;
  if (int rc = putScaled16(w, mShift, kOutputFullValue); rc < 0) return rc;
  if (int rc = putScaled16(w, rScale, kOutputFullValue); rc < 0) return rc;
  if (int rc = w.u8(2); rc < 0) return rc;
  return w.u16(hostImplementationNumber());
}

int writeHuffmanTable(ByteWriter& w, int id, const detail::HuffmanTable& table) noexcept {
  if (int rc = w.u16(detail::kDht); rc < 0) return rc;
  if (int rc = w.u16(19 + table.count); rc < 0) return rc;
  if (int rc = w.u8(id); rc < 0) return rc;
  for (auto b : table.bits) {
    if (int rc = w.u8(b); rc < 0) return rc;
  }
  return w.block(
      std::span<const std::uint8_t>(table.values.data(), static_cast<std::size_t>(table.count)));
}

int writeBlockHeader(ByteWriter& w, int id) noexcept {
  if (int rc = w.u16(detail::kSob); rc < 0) return rc;
  if (int rc = w.u16(3); rc < 0) return rc;
  return w.u8(id);
}

void countSymbols(const std::int16_t* c, std::size_t n, std::array<std::uint32_t, 256>& freq) {
  detail::forEachSymbol(
      c, n, [&](int sym, std::uint32_t, int) { ++freq[static_cast<std::size_t>(sym)]; });
}

// Entropy-coded data: codes most significant bit first, 0xFF followed by a stuffed 0x00, the
// last byte filled with 1-bits. Bytes go straight into the writer's buffer, which is sized to its
// capacity while the block is written.
class BitWriter {
 public:
  explicit BitWriter(ByteWriter& w) : buf_(w.buffer()), start_(buf_.size()) {
    buf_.resize(w.capacity());
    p_ = buf_.data() + start_;
    end_ = buf_.data() + buf_.size();
  }
  void put(std::uint32_t bits, int n) noexcept {
    acc_ = (acc_ << n) | (bits & ((1U << n) - 1U));
    count_ += n;
    if (count_ >= 32) drain();
  }
  int finish() noexcept {
    if (count_ % 8 != 0) {
      const int fill = 8 - count_ % 8;
      acc_ = (acc_ << fill) | ((1U << fill) - 1U);
      count_ += fill;
    }
    drain();
    buf_.resize(static_cast<std::size_t>(p_ - buf_.data()));
    return status_;
  }

 private:
  void drain() noexcept {
    while (count_ >= 8) {
      count_ -= 8;
      const auto b = static_cast<std::uint8_t>(acc_ >> count_);
      if (end_ - p_ < 2) {
        // Full: stop writing; the status reports it.
        status_ = kOutputFullValue;
        count_ = 0;
        return;
      }
      *p_++ = b;
      if (b == 0xFF) *p_++ = 0x00;
    }
  }
  std::vector<std::uint8_t>& buf_;
  std::size_t start_;
  std::uint8_t* p_ = nullptr;
  std::uint8_t* end_ = nullptr;
  std::uint64_t acc_ = 0;
  int count_ = 0;
  int status_ = kOk;
};

int encodeBlock(ByteWriter& w, const detail::HuffmanEncoder& enc, const std::int16_t* c,
                std::size_t n) noexcept {
  BitWriter bw(w);
  detail::forEachSymbol(c, n, [&](int sym, std::uint32_t extra, int extraBits) {
    bw.put(enc.code[static_cast<std::size_t>(sym)], enc.size[static_cast<std::size_t>(sym)]);
    if (extraBits > 0) bw.put(extra, extraBits);
  });
  return bw.finish();
}

// Variance of a subband, over its centred crop or its whole area.
float subbandVariance(const float* img, int width, const Region& r, bool crop) noexcept {
  int x0 = r.x;
  int y0 = r.y;
  int w = r.w;
  int h = r.h;
  if (crop) {
    x0 = r.x + r.w / 8;
    w = 3 * r.w / 4;
    y0 = r.y + 9 * r.h / 32;
    h = 7 * r.h / 16;
  }
  const long long n = static_cast<long long>(w) * h;
  if (n < 2) return 0.0F;
  float sum = 0.0F;
  float ssq = 0.0F;
  for (int y = 0; y < h; ++y) {
    const float* p = img + static_cast<std::ptrdiff_t>(y0 + y) * width + x0;
    for (int x = 0; x < w; ++x) {
      sum += p[x];
      ssq += p[x] * p[x];
    }
  }
  const auto fn = static_cast<float>(n);
  return (ssq - (sum * sum) / fn) / (fn - 1.0F);
}

}  // namespace

int hostImplementationNumber() noexcept {
  static std::atomic<int> cached{0};
  int v = cached.load(std::memory_order_relaxed);
  if (v == 0) {
    // Only Windows hosts have numbers of their own; every other host uses the last one.
    v = kLinuxImplementationNumber;
    cached.store(v, std::memory_order_relaxed);
  }
  return v;
}

std::string_view wsqVersion() noexcept { return "2.4.0.0"; }
std::string_view wsqBanner() noexcept { return "wsq version 2.4.0.0 - April 13, 2024"; }

int wsqComputeQuantization(float bitrate, const std::array<float, 64>& variance,
                           std::array<float, 64>& q, std::array<float, 64>& z) noexcept {
  static constexpr std::array<float, 8> kHighWeights = {1.32F, 1.08F, 1.42F, 1.08F,
                                                        1.32F, 1.42F, 1.08F, 1.08F};
  std::array<float, 64> qp{};
  std::array<float, 64> sigma{};
  std::array<bool, 64> inK{};
  std::array<bool, 64> inK0{};
  for (int k = 0; k < detail::kCodedSubbands; ++k) {
    const auto i = static_cast<std::size_t>(k);
    const float var = variance[i];
    if (var < 1.01F) continue;
    const float a = k < 52 ? 1.0F : kHighWeights[i - 52];
    qp[i] = k < 4 ? 1.0F : static_cast<float>(10.0 / (a * std::log(static_cast<double>(var))));
    sigma[i] = static_cast<float>(std::sqrt(static_cast<double>(var)));
    inK[i] = true;
    inK0[i] = true;
  }
  float qv = 0.0F;
  for (;;) {
    float s = 0.0F;
    float p = 1.0F;
    for (int k = 0; k < detail::kCodedSubbands; ++k) {
      const auto i = static_cast<std::size_t>(k);
      if (!inK[i]) continue;
      const float m = k < 4 ? 1.0F / 1024.0F : (k < 51 ? 1.0F / 256.0F : 1.0F / 16.0F);
      s += m;
      p *= static_cast<float>(
          std::pow(static_cast<double>(sigma[i] / qp[i]), static_cast<double>(m)));
    }
    if (s <= 0.0F) break;
    qv = static_cast<float>((std::pow(2.0, static_cast<double>(bitrate / s - 1.0F)) / 2.5) /
                            std::pow(static_cast<double>(p), static_cast<double>(1.0F / s)));
    bool removed = false;
    for (int k = 0; k < detail::kCodedSubbands; ++k) {
      const auto i = static_cast<std::size_t>(k);
      if (inK[i] && qp[i] / qv >= 5.0F * sigma[i]) {
        inK[i] = false;
        removed = true;
      }
    }
    if (!removed) break;
  }
  q.fill(0.0F);
  z.fill(0.0F);
  for (std::size_t i = 0; i < static_cast<std::size_t>(detail::kCodedSubbands); ++i) {
    if (inK0[i] && qv > 0.0F) {
      q[i] = qp[i] / qv;
      z[i] = 1.2F * q[i];
    }
  }
  return kOk;
}

int wsqEncode(float bitrate, std::span<const std::uint8_t> pixels, int width, int height,
              std::vector<std::uint8_t>& stream) noexcept {
  (void)hostImplementationNumber();
  if (width < 1 || width > 65535 || height < 1 || height > 65535) return kInvalidArgument;
  const std::size_t area = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (pixels.size() < area || !std::isfinite(bitrate) || !(bitrate > 0.0F)) return kInvalidArgument;
  try {
    // Pixels to floats around the mean, scaled so the extremes land near +-128.
    std::uint64_t sum = 0;
    int lo = 255;
    int hi = 0;
    for (std::size_t i = 0; i < area; ++i) {
      const int v = pixels[i];
      sum += static_cast<std::uint64_t>(v);
      lo = v < lo ? v : lo;
      hi = v > hi ? v : hi;
    }
    const float mShift = static_cast<float>(static_cast<double>(sum) / static_cast<double>(area));
    float rScale =
        std::fmax(mShift - static_cast<float>(lo), static_cast<float>(hi) - mShift) / 128.0F;
    if (rScale == 0.0F) rScale = 1.0F;  // a uniform image: nothing to scale
    // Working buffers are filled completely before they are read, so they start uninitialised.
    std::unique_ptr<float[]> image;
    try {
      image = std::make_unique_for_overwrite<float[]>(area);
    } catch (const std::bad_alloc&) {
      return kFloatImageAlloc;
    }
    // The same division for every pixel of a grey level, done once per level.
    std::array<float, 256> level{};
    for (std::size_t v = 0; v < level.size(); ++v) {
      level[v] = (static_cast<float>(v) - mShift) / rScale;
    }
    for (std::size_t i = 0; i < area; ++i) image[i] = level[pixels[i]];

    detail::Trees trees;
    detail::buildTrees(width, height, trees);
    {
      std::unique_ptr<float[]> scratch;
      try {
        scratch = std::make_unique_for_overwrite<float[]>(area);
      } catch (const std::bad_alloc&) {
        return kDecomposeAlloc;
      }
      if (int rc = detail::decompose(image.get(), width, trees, detail::standardFilters(),
                                     scratch.get());
          rc < 0) {
        return rc;
      }
    }

    // Variances: a centred crop of the four lowest subbands decides whether the others are
    // measured over their crop too or over their whole area.
    std::array<float, 64> var{};
    float lowSum = 0.0F;
    for (std::size_t k = 0; k < 4; ++k) {
      var[k] = subbandVariance(image.get(), width, trees.subband[k], true);
      lowSum += var[k];
    }
    const bool crop = lowSum >= 20000.0F;
    for (std::size_t k = crop ? 4 : 0; k < static_cast<std::size_t>(detail::kCodedSubbands); ++k) {
      var[k] = subbandVariance(image.get(), width, trees.subband[k], crop);
    }
    std::array<float, 64> q{};
    std::array<float, 64> z{};
    (void)wsqComputeQuantization(bitrate, var, q, z);

    // Quantize subband by subband, row by row.
    std::unique_ptr<std::int16_t[]> coef;
    try {
      coef = std::make_unique_for_overwrite<std::int16_t[]>(area);
    } catch (const std::bad_alloc&) {
      return kQuantizedAlloc;
    }
    std::size_t n = 0;
    std::array<std::size_t, 3> blockSize{};
    for (int k = 0; k < detail::kCodedSubbands; ++k) {
      const auto i = static_cast<std::size_t>(k);
      if (q[i] == 0.0F) continue;
      const Region& r = trees.subband[i];
      const float qk = q[i];
      const float hz = z[i] / 2.0F;
      const std::size_t start = n;
      for (int y = 0; y < r.h; ++y) {
        const float* p =
            image.get() + static_cast<std::size_t>(r.y + y) * static_cast<std::size_t>(width) + r.x;
        for (int x = 0; x < r.w; ++x) {
          const float c = p[x];
          // Quantized values are 16-bit; the rare larger ones saturate instead of wrapping.
          const float up = (c - hz) / qk;
          const float down = (c + hz) / qk;
          const int v = c > hz    ? static_cast<int>(up < 32766.0F ? up : 32766.0F) + 1
                        : c < -hz ? static_cast<int>(down > -32766.0F ? down : -32766.0F) - 1
                                  : 0;
          coef[n++] = static_cast<std::int16_t>(v);
        }
      }
      blockSize[k < 19 ? 0 : (k < 52 ? 1 : 2)] += n - start;
    }
    if (blockSize[0] + blockSize[1] + blockSize[2] != n) return kBlockSizeMismatch;
    image.reset();

    std::vector<std::uint8_t> out;
    try {
      out.reserve(area);
    } catch (const std::bad_alloc&) {
      return kOutputAlloc;
    }
    ByteWriter w(out, area);
    if (int rc = w.u16(detail::kSoi); rc < 0) return rc;
    if (int rc = writeTransformTable(w, detail::standardFilters()); rc < 0) return rc;
    if (int rc = writeQuantTable(w, q, z); rc < 0) return rc;
    if (int rc = writeFrame(w, width, height, mShift, rScale); rc < 0) return rc;

    const std::int16_t* b1 = coef.get();
    const std::int16_t* b2 = b1 + blockSize[0];
    const std::int16_t* b3 = b2 + blockSize[1];
    std::array<std::uint32_t, 256> freq{};
    countSymbols(b1, blockSize[0], freq);
    detail::HuffmanTable table;
    detail::HuffmanEncoder enc;
    detail::buildHuffmanTable(freq, table);
    if (!detail::makeEncoder(table, enc)) return kBadHuffmanTable;
    if (int rc = writeHuffmanTable(w, 0, table); rc < 0) return rc;
    if (int rc = writeBlockHeader(w, 0); rc < 0) return rc;
    if (int rc = encodeBlock(w, enc, b1, blockSize[0]); rc < 0) return rc;

    freq.fill(0);
    countSymbols(b2, blockSize[1], freq);
    countSymbols(b3, blockSize[2], freq);
    detail::buildHuffmanTable(freq, table);
    if (!detail::makeEncoder(table, enc)) return kBadHuffmanTable;
    if (int rc = writeHuffmanTable(w, 1, table); rc < 0) return rc;
    if (int rc = writeBlockHeader(w, 1); rc < 0) return rc;
    if (int rc = encodeBlock(w, enc, b2, blockSize[1]); rc < 0) return rc;
    if (int rc = writeBlockHeader(w, 1); rc < 0) return rc;
    if (int rc = encodeBlock(w, enc, b3, blockSize[2]); rc < 0) return rc;
    if (int rc = w.u16(detail::kEoi); rc < 0) return rc;
    stream.swap(out);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kOutputAlloc;
  }
}

}  // namespace varnel::wsq
