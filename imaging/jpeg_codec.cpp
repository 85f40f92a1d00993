// Baseline and progressive JPEG decoding through libjpeg, and the marker walk that finds a
// JPEG frame header.
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
// After jpeglib.h: the warning codes.
#include <jerror.h>

#include "imaging/detail/codecs.h"
#include "imaging/detail/reason.h"
#include "imaging/status.h"

namespace varnel::imaging {
namespace {

using detail::fail;

// Largest decoded image accepted, in bytes.
constexpr std::uint64_t kMaxDecodedBytes = std::uint64_t{1} << 28;

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  bool corrupt = false;                // a warning that libjpeg made up pixels
  bool endMissing = false;             // the data ended before the end-of-image marker
  char message[JMSG_LENGTH_MAX] = {};  // libjpeg's error, or the warning that made it corrupt
};

// libjpeg's default error_exit calls exit(); ours keeps the message for the caller's reason and
// returns to the decoder's setjmp instead.
[[noreturn]] void jpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  cinfo->err->format_message(cinfo, err->message);
  std::longjmp(err->jump, 1);  // NOLINT(cert-err52-cpp): libjpeg reports errors by longjmp
}
void jpegOutputMessage(j_common_ptr /*cinfo*/) {}
// Level -1 is a libjpeg warning. Those about the header alone (an unknown JFIF revision, a bad
// ICC marker, an unknown Adobe transform code, stray bytes between header segments before the
// first scan) leave the pixels whole and are accepted. Data
// that ends before the end-of-image marker is judged once the scans are read (see startJpeg).
// Every other warning means corrupt or cut entropy-coded data, which libjpeg papers over with
// grey ("premature end of data segment", bad Huffman codes, missing restart markers, extraneous
// bytes, an inconsistent progression): such an image is refused so that nothing is stored
// from it.
void jpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  switch (cinfo->err->msg_code) {
    case JWRN_JFIF_MAJOR:
    case JWRN_BOGUS_ICC:
    case JWRN_ADOBE_XFORM:
      break;
    case JWRN_EXTRANEOUS_DATA:
      // After a scan has begun, stray bytes mean its data ended where it should not have.
      if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > 0) err->corrupt = true;
      break;
    case JWRN_JPEG_EOF:
      err->endMissing = true;
      break;
    default:
      if (!err->corrupt) cinfo->err->format_message(cinfo, err->message);
      err->corrupt = true;
      break;
  }
}

// True when every coefficient of every component was refined to full precision: a progressive
// image whose data ends early lacks later scans, which libjpeg leaves at zero without a warning.
bool allCoefficientsComplete(const jpeg_decompress_struct& cinfo) {
  if (cinfo.coef_bits == nullptr) return false;
  for (int c = 0; c < cinfo.num_components; ++c) {
    for (int k = 0; k < DCTSIZE2; ++k) {
      if (cinfo.coef_bits[c][k] != 0) return false;
    }
  }
  return true;
}

struct Decompressor {
  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  bool created = false;
  ~Decompressor() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

struct JpegHeader {
  int width = 0;
  int height = 0;
  int components = 0;
  int densityUnit = 0;
  int xDensity = 0;
  bool cmyk = false;
};

// Reads the header and starts decompression. Holds no object with a destructor: libjpeg leaves
// by longjmp.
int startJpeg(Decompressor* d, const std::uint8_t* data, unsigned long size, JpegHeader* h) {
  d->cinfo.err = jpeg_std_error(&d->err.base);
  d->err.base.error_exit = jpegErrorExit;
  d->err.base.output_message = jpegOutputMessage;
  d->err.base.emit_message = jpegEmitMessage;
  // This frame holds no object with a destructor, so the jump back skips no clean-up.
  // NOLINTNEXTLINE(cert-err52-cpp): libjpeg reports errors by longjmp
  if (setjmp(d->err.jump)) return kUndecodable;
  jpeg_create_decompress(&d->cinfo);
  d->created = true;
  jpeg_mem_src(&d->cinfo, data, size);
  jpeg_read_header(&d->cinfo, TRUE);
  // Sizes come from the file: refuse absurd ones before libjpeg allocates for them.
  if (static_cast<std::uint64_t>(d->cinfo.image_width) * d->cinfo.image_height *
          static_cast<std::uint64_t>(d->cinfo.num_components) >
      kMaxDecodedBytes) {
    return kUndecodable;
  }
  h->densityUnit = d->cinfo.density_unit;
  h->xDensity = d->cinfo.X_density;
  if (d->cinfo.jpeg_color_space == JCS_CMYK || d->cinfo.jpeg_color_space == JCS_YCCK) {
    d->cinfo.out_color_space = JCS_CMYK;
    h->cmyk = true;
  }
  jpeg_start_decompress(&d->cinfo);
  // An image of several scans has been read whole by now. Its data may lack only the end
  // marker; any scan cut short or missing makes it incomplete. (In a single scan a cut shows
  // as "premature end of data segment" while the rows are read.)
  if (d->err.endMissing && jpeg_has_multiple_scans(&d->cinfo) &&
      !(d->cinfo.progressive_mode && allCoefficientsComplete(d->cinfo))) {
    return kUndecodable;
  }
  h->width = static_cast<int>(d->cinfo.output_width);
  h->height = static_cast<int>(d->cinfo.output_height);
  h->components = d->cinfo.output_components;
  return kOk;
}

// Reads all scanlines into `buf` (height rows of width x components bytes). No object with a
// destructor, as above.
int readJpegRows(Decompressor* d, std::uint8_t* buf, std::size_t rowBytes) {
  // This frame holds no object with a destructor, so the jump back skips no clean-up.
  // NOLINTNEXTLINE(cert-err52-cpp): libjpeg reports errors by longjmp
  if (setjmp(d->err.jump)) return kUndecodable;
  while (d->cinfo.output_scanline < d->cinfo.output_height) {
    JSAMPROW row = buf + static_cast<std::size_t>(d->cinfo.output_scanline) * rowBytes;
    jpeg_read_scanlines(&d->cinfo, &row, 1);
  }
  jpeg_finish_decompress(&d->cinfo);
  return kOk;
}

}  // namespace

int jpegFindFrame(std::span<const std::uint8_t> data, int& marker, int& width, int& height,
                  int& components) noexcept {
  if (data.size() < 4 || data[0] != 0xFF || data[1] != 0xD8) return kUndecodable;
  std::size_t pos = 2;
  while (data.size() - pos >= 4) {
    if (data[pos] != 0xFF) return kUndecodable;
    const std::uint8_t m = data[pos + 1];
    const std::size_t len = (std::size_t{data[pos + 2]} << 8) | data[pos + 3];
    if (m == 0xC0 || m == 0xC2 || m == 0xC3) {
      // Frame header: length, precision, height, width, component count.
      if (len < 8 || data.size() - pos < 2 + 8) return kUndecodable;
      marker = m;
      height = (data[pos + 5] << 8) | data[pos + 6];
      width = (data[pos + 7] << 8) | data[pos + 8];
      components = data[pos + 9];
      return kOk;
    }
    if (len < 2) return kUndecodable;
    if (len + 2 > data.size() - pos) return kUndecodable;
    pos += 2 + len;
  }
  return kUndecodable;
}

int jpegDecode(std::span<const std::uint8_t> data, RawImage& out, std::string* why) noexcept {
  if (data.empty() || data.size() > 0x7FFFFFFF) {
    return fail(why, kUndecodable, "JPEG data empty or too long");
  }
  try {
    Decompressor d;
    JpegHeader h;
    if (int rc = startJpeg(&d, data.data(), static_cast<unsigned long>(data.size()), &h); rc < 0) {
      if (d.err.message[0] == '\0' && d.err.endMissing) {
        return fail(why, rc, "JPEG data ended before every scan was complete");
      }
      if (d.err.message[0] == '\0') return fail(why, rc, "JPEG image too large");
      return fail(why, rc, detail::libraryReason("libjpeg", d.err.message));
    }
    int ppi = -1;
    switch (h.densityUnit) {
      case 0:
        ppi = -1;
        break;
      case 1:
        ppi = h.xDensity;
        break;
      case 2:
        ppi = static_cast<int>(std::lround(h.xDensity * 2.54));
        break;
      default:
        return fail(why, kUndecodable,
                    "illegal JFIF density unit " + std::to_string(h.densityUnit));
    }
    if (h.width < 1 || h.height < 1) return fail(why, kUndecodable, "JPEG image without pixels");
    if (h.components != 1 && h.components != 3 && h.components != 4) {
      return fail(why, kUndecodable,
                  "JPEG with " + std::to_string(h.components) + " components is not supported");
    }
    const std::size_t rowBytes = static_cast<std::size_t>(h.width) * h.components;
    std::vector<std::uint8_t> buf(rowBytes * static_cast<std::size_t>(h.height));
    if (int rc = readJpegRows(&d, buf.data(), rowBytes); rc < 0 || d.err.corrupt) {
      return fail(why, kUndecodable, detail::libraryReason("libjpeg", d.err.message));
    }
    RawImage img;
    img.width = h.width;
    img.height = h.height;
    img.ppi = ppi;
    if (h.components == 4) {
      // CMYK (Adobe stores it inverted): to RGB, so the image keeps its colours.
      const std::size_t n = static_cast<std::size_t>(h.width) * h.height;
      std::vector<std::uint8_t> rgb(n * 3);
      for (std::size_t i = 0; i < n; ++i) {
        const unsigned k = buf[i * 4 + 3];
        for (int c = 0; c < 3; ++c)
          rgb[i * 3 + c] = static_cast<std::uint8_t>(buf[i * 4 + c] * k / 255);
      }
      img.pixels = std::move(rgb);
      img.depth = 24;
    } else {
      img.pixels = std::move(buf);
      img.depth = 8 * h.components;
    }
    out = std::move(img);
    return kOk;
  } catch (...) {
    return fail(why, kUndecodable, "JPEG decoding failed");
  }
}

}  // namespace varnel::imaging
