// JPEG 2000 through OpenJPEG: header reading and decoding of codestreams and JP2 files from
// memory, and lossless JP2 encoding to memory.
#include <openjpeg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "imaging/detail/codecs.h"
#include "imaging/detail/reason.h"
#include "imaging/status.h"

namespace varnel::imaging {
namespace {

using detail::fail;
using detail::kLibraryMessageSize;

// Largest decoded image accepted, in samples.
constexpr std::uint64_t kMaxSamples = std::uint64_t{1} << 26;
// Internal buffer of the output stream.
constexpr OPJ_SIZE_T kStreamBufferSize = 1048576;

struct MemReader {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t pos = 0;
};

OPJ_SIZE_T memRead(void* buffer, OPJ_SIZE_T n, void* user) {
  auto* r = static_cast<MemReader*>(user);
  if (r->pos >= r->size) return static_cast<OPJ_SIZE_T>(-1);
  const std::size_t take = std::min<std::size_t>(n, r->size - r->pos);
  std::memcpy(buffer, r->data + r->pos, take);
  r->pos += take;
  return take;
}

// What a skip callback returns to OpenJPEG when it cannot move.
constexpr OPJ_OFF_T kSkipFailed = -1;

OPJ_OFF_T memReadSkip(OPJ_OFF_T n, void* user) {
  auto* r = static_cast<MemReader*>(user);
  if (n < 0) {
    const std::size_t back = static_cast<std::size_t>(-n);
    if (back > r->pos) return kSkipFailed;
    r->pos -= back;
    return n;
  }
  const std::size_t left = r->size - std::min(r->pos, r->size);
  const std::size_t step = std::min<std::size_t>(static_cast<std::size_t>(n), left);
  r->pos += step;
  return static_cast<OPJ_OFF_T>(step);
}

OPJ_BOOL memReadSeek(OPJ_OFF_T to, void* user) {
  auto* r = static_cast<MemReader*>(user);
  if (to < 0 || static_cast<std::uint64_t>(to) > r->size) return OPJ_FALSE;
  r->pos = static_cast<std::size_t>(to);
  return OPJ_TRUE;
}

struct MemWriter {
  std::vector<std::uint8_t>* out = nullptr;
  std::size_t pos = 0;
  bool outOfMemory = false;
};

OPJ_SIZE_T memWrite(void* buffer, OPJ_SIZE_T n, void* user) {
  auto* w = static_cast<MemWriter*>(user);
  try {
    if (w->pos + n > w->out->size()) w->out->resize(w->pos + n);
  } catch (...) {
    w->outOfMemory = true;
    return static_cast<OPJ_SIZE_T>(-1);
  }
  std::memcpy(w->out->data() + w->pos, buffer, n);
  w->pos += n;
  return n;
}

OPJ_OFF_T memWriteSkip(OPJ_OFF_T n, void* user) {
  auto* w = static_cast<MemWriter*>(user);
  if (n < 0 && static_cast<std::size_t>(-n) > w->pos) return kSkipFailed;
  w->pos = static_cast<std::size_t>(static_cast<OPJ_OFF_T>(w->pos) + n);
  return n;
}

OPJ_BOOL memWriteSeek(OPJ_OFF_T to, void* user) {
  auto* w = static_cast<MemWriter*>(user);
  if (to < 0) return OPJ_FALSE;
  w->pos = static_cast<std::size_t>(to);
  return OPJ_TRUE;
}

// OpenJPEG must never print.
void quietHandler(const char* /*msg*/, void* /*user*/) {}

// Keeps OpenJPEG's first error message (without its line end) in the buffer `user` points to,
// for the caller's reason: later errors follow from the first.
void keepFirstError(const char* msg, void* user) {
  auto* text = static_cast<char*>(user);
  if (text == nullptr || msg == nullptr || text[0] != '\0') return;
  (void)std::snprintf(text, kLibraryMessageSize, "%s", msg);  // a cut message is enough
  const std::size_t n = std::strlen(text);
  if (n > 0 && text[n - 1] == '\n') text[n - 1] = '\0';
}

struct CodecDeleter {
  void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct StreamDeleter {
  void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct ImageDeleter {
  void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};
using CodecPtr = std::unique_ptr<opj_codec_t, CodecDeleter>;
using StreamPtr = std::unique_ptr<opj_stream_t, StreamDeleter>;
using ImagePtr = std::unique_ptr<opj_image_t, ImageDeleter>;

// Nothing printed; the first error message goes to `message` (kLibraryMessageSize bytes).
void silence(opj_codec_t* codec, char* message) {
  opj_set_info_handler(codec, quietHandler, nullptr);
  opj_set_warning_handler(codec, quietHandler, nullptr);
  opj_set_error_handler(codec, keepFirstError, message);
}

struct OpenDecoder {
  char message[kLibraryMessageSize] = {};  // OpenJPEG's first error message
  MemReader reader;
  CodecPtr codec;
  StreamPtr stream;
  ImagePtr image;
};

// Opens the decoder chosen by the signature and reads the main header.
int openDecoder(std::span<const std::uint8_t> data, OpenDecoder& d) {
  const StreamKind kind = sniffStream(data);
  OPJ_CODEC_FORMAT format;
  if (kind == StreamKind::kJ2kCodestream) {
    format = OPJ_CODEC_J2K;
  } else if (kind == StreamKind::kJp2File) {
    format = OPJ_CODEC_JP2;
  } else {
    return kUndecodable;
  }
  d.reader = MemReader{data.data(), data.size(), 0};
  d.codec.reset(opj_create_decompress(format));
  if (!d.codec) return kUndecodable;
  silence(d.codec.get(), d.message);
  opj_dparameters_t params;
  opj_set_default_decoder_parameters(&params);
  if (!opj_setup_decoder(d.codec.get(), &params)) return kUndecodable;
  // A truncated codestream is an error, not a picture with its end missing.
  if (!opj_decoder_set_strict_mode(d.codec.get(), OPJ_TRUE)) return kUndecodable;
  d.stream.reset(opj_stream_create(kStreamBufferSize, OPJ_TRUE));
  if (!d.stream) return kUndecodable;
  opj_stream_set_read_function(d.stream.get(), memRead);
  opj_stream_set_skip_function(d.stream.get(), memReadSkip);
  opj_stream_set_seek_function(d.stream.get(), memReadSeek);
  opj_stream_set_user_data(d.stream.get(), &d.reader, nullptr);
  opj_stream_set_user_data_length(d.stream.get(), data.size());
  opj_image_t* raw = nullptr;
  if (!opj_read_header(d.stream.get(), d.codec.get(), &raw)) {
    if (raw) opj_image_destroy(raw);
    return kUndecodable;
  }
  d.image.reset(raw);
  if (!raw || raw->numcomps < 1 || !raw->comps) return kUndecodable;
  return kOk;
}

int ceilShift(OPJ_UINT32 v, OPJ_UINT32 factor) {
  if (factor >= 31) return v ? 1 : 0;
  const std::uint64_t d = std::uint64_t{1} << factor;
  return static_cast<int>((v + d - 1) / d);
}

// The reason of a failed OpenJPEG call.
std::string openJpegReason(const char* message) {
  return detail::libraryReason("OpenJPEG", message);
}

}  // namespace

int jp2ReadHeader(std::span<const std::uint8_t> data, int& width, int& height, int& depth,
                  bool& reversible) noexcept {
  try {
    OpenDecoder d;
    if (int rc = openDecoder(data, d); rc < 0) return rc;
    const opj_image_comp_t& c0 = d.image->comps[0];
    bool rev = false;
    opj_codestream_info_v2_t* info = opj_get_cstr_info(d.codec.get());
    if (info) {
      if (info->m_default_tile_info.tccp_info)
        rev = info->m_default_tile_info.tccp_info[0].qmfbid == 1;
      opj_destroy_cstr_info(&info);
    }
    const int w = ceilShift(c0.w, c0.factor);
    const int h = ceilShift(c0.h, c0.factor);
    if (w < 1 || h < 1) return kUndecodable;
    width = w;
    height = h;
    depth = d.image->numcomps == 1
                ? 8
                : (d.image->numcomps == 3 ? 24 : 8 * static_cast<int>(d.image->numcomps));
    reversible = rev;
    return kOk;
  } catch (...) {
    return kUndecodable;
  }
}

int jp2Decode(std::span<const std::uint8_t> data, RawImage& out, std::string* why) noexcept {
  try {
    OpenDecoder d;
    if (int rc = openDecoder(data, d); rc < 0) return fail(why, rc, openJpegReason(d.message));
    opj_image_t* img = d.image.get();
    const OPJ_UINT32 n = img->numcomps;
    if (n != 1 && n != 3) {
      return fail(why, kUndecodable,
                  "JPEG 2000 with " + std::to_string(n) + " components is not supported");
    }
    const std::uint64_t area = std::uint64_t{img->x1 - std::min(img->x0, img->x1)} *
                               (img->y1 - std::min(img->y0, img->y1));
    if (area == 0 || area * n > kMaxSamples) {
      return fail(why, kUndecodable, "JPEG 2000 image empty or too large");
    }
    if (!opj_decode(d.codec.get(), d.stream.get(), img) ||
        !opj_end_decompress(d.codec.get(), d.stream.get())) {
      return fail(why, kUndecodable, openJpegReason(d.message));
    }
    const opj_image_comp_t& c0 = img->comps[0];
    const std::size_t w = c0.w;
    const std::size_t h = c0.h;
    if (w == 0 || h == 0 || w > 0x7FFFFFFF || h > 0x7FFFFFFF) {
      return fail(why, kUndecodable, "JPEG 2000 image empty or too large");
    }
    for (OPJ_UINT32 c = 0; c < n; ++c) {
      // Interleaving needs equal planes.
      if (!img->comps[c].data || img->comps[c].w != c0.w || img->comps[c].h != c0.h) {
        return fail(why, kUndecodable, "JPEG 2000 components of different sizes");
      }
    }
    RawImage r;
    r.width = static_cast<int>(w);
    r.height = static_cast<int>(h);
    r.depth = 8 * static_cast<int>(n);
    r.pixels.resize(w * h * n);
    for (OPJ_UINT32 c = 0; c < n; ++c) {
      const OPJ_INT32* src = img->comps[c].data;
      // Samples deeper than 8 bits are scaled to 8 bits, so 16-bit images keep their picture.
      const OPJ_UINT32 prec = img->comps[c].prec;
      const int shift = prec > 8 ? static_cast<int>(std::min<OPJ_UINT32>(prec - 8, 24)) : 0;
      std::uint8_t* dst = r.pixels.data() + c;
      for (std::size_t i = 0; i < w * h; ++i, dst += n) {
        *dst = static_cast<std::uint8_t>((static_cast<std::uint32_t>(src[i]) >> shift) & 0xFF);
      }
    }
    out = std::move(r);
    return kOk;
  } catch (...) {
    return fail(why, kUndecodable, "JPEG 2000 decoding failed");
  }
}

int jp2LosslessEncode(std::span<const std::uint8_t> pixels, int width, int height, int depth,
                      std::vector<std::uint8_t>& out, std::string* why) noexcept {
  if (width < 1 || height < 1 || (depth != 8 && depth != 24)) {
    return fail(why, kEncodeFailed, "no JPEG 2000 for an empty image or one of this depth");
  }
  const int comps = depth / 8;
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (pixels.size() / static_cast<std::size_t>(comps) < count) {
    return fail(why, kEncodeFailed, "fewer pixels than the image size");
  }
  try {
    opj_image_cmptparm_t cp[3];
    std::memset(cp, 0, sizeof cp);
    for (int c = 0; c < comps; ++c) {
      cp[c].dx = 1;
      cp[c].dy = 1;
      cp[c].w = static_cast<OPJ_UINT32>(width);
      cp[c].h = static_cast<OPJ_UINT32>(height);
      cp[c].prec = 8;
      cp[c].sgnd = 0;
    }
    ImagePtr image(opj_image_create(static_cast<OPJ_UINT32>(comps), cp,
                                    comps == 1 ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB));
    if (!image) return fail(why, kEncodeFailed, "OpenJPEG could not make the image");
    image->x0 = 0;
    image->y0 = 0;
    image->x1 = static_cast<OPJ_UINT32>(width);
    image->y1 = static_cast<OPJ_UINT32>(height);
    for (int c = 0; c < comps; ++c) {
      OPJ_INT32* dst = image->comps[c].data;
      const std::uint8_t* src = pixels.data() + c;
      for (std::size_t i = 0; i < count; ++i, src += comps) dst[i] = *src;
    }

    opj_cparameters_t params;
    opj_set_default_encoder_parameters(&params);
    params.tcp_numlayers = 1;
    params.tcp_rates[0] = 0;
    params.cp_disto_alloc = 1;
    params.irreversible = 0;
    // Small images cannot carry the default six resolution levels; use as many as fit.
    int levels = 1;
    while (levels < params.numresolution && (std::min(width, height) >> levels) >= 1) ++levels;
    params.numresolution = levels;

    char message[kLibraryMessageSize] = {};
    CodecPtr codec(opj_create_compress(OPJ_CODEC_JP2));
    if (!codec) return fail(why, kEncodeFailed, "OpenJPEG could not start");
    silence(codec.get(), message);
    if (!opj_setup_encoder(codec.get(), &params, image.get())) {
      return fail(why, kEncodeFailed, openJpegReason(message));
    }
    std::vector<std::uint8_t> bytes;
    MemWriter writer{&bytes, 0, false};
    StreamPtr stream(opj_stream_create(kStreamBufferSize, OPJ_FALSE));
    if (!stream) return fail(why, kEncodeFailed, "OpenJPEG could not start");
    opj_stream_set_write_function(stream.get(), memWrite);
    opj_stream_set_skip_function(stream.get(), memWriteSkip);
    opj_stream_set_seek_function(stream.get(), memWriteSeek);
    opj_stream_set_user_data(stream.get(), &writer, nullptr);
    if (!opj_start_compress(codec.get(), image.get(), stream.get()) ||
        !opj_encode(codec.get(), stream.get()) || !opj_end_compress(codec.get(), stream.get())) {
      if (writer.outOfMemory) return fail(why, kAllocFailed, "out of memory encoding JPEG 2000");
      return fail(why, kEncodeFailed, openJpegReason(message));
    }
    stream.reset();
    if (writer.outOfMemory) return fail(why, kAllocFailed, "out of memory encoding JPEG 2000");
    out = std::move(bytes);
    return kOk;
  } catch (const std::bad_alloc&) {
    return fail(why, kAllocFailed, "out of memory encoding JPEG 2000");
  } catch (...) {
    return fail(why, kEncodeFailed, "JPEG 2000 encoding failed");
  }
}

}  // namespace varnel::imaging
