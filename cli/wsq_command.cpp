#include "cli/wsq_command.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <vector>

#include "cli/pnm.h"
#include "imaging/wsq/status.h"
#include "imaging/wsq/wsq.h"

namespace varnel::cli {

const char* wsqStatusText(int status) noexcept { return wsq::wsqStatusText(status); }

namespace {

void fail(std::ostream& err, const std::string& what) { err << "varnel wsq: " << what << "\n"; }

void failCodec(std::ostream& err, const std::string& file, int rc) {
  fail(err, file + ": " + wsqStatusText(rc) + " (status " + std::to_string(rc) + ")");
}

std::string number(double v) {
  char buf[64];
  const int n = std::snprintf(buf, sizeof buf, "%.6g", v);
  return (n > 0 && static_cast<std::size_t>(n) < sizeof buf) ? std::string(buf) : std::string("?");
}

}  // namespace

int runWsqEncode(const std::string& in, const std::string& out, float bitrate, std::ostream& err) {
  std::vector<std::uint8_t> pixels;
  int w = 0;
  int h = 0;
  std::string error;
  if (!readPgm(in, pixels, w, h, error)) {
    fail(err, error);
    return 1;
  }
  std::vector<std::uint8_t> stream;
  if (int rc = wsq::wsqEncode(bitrate, pixels, w, h, stream); rc != 0) {
    failCodec(err, in, rc);
    return 1;
  }
  if (!writeFileBytes(out, stream, error)) {
    fail(err, error);
    return 1;
  }
  return 0;
}

int runWsqDecode(const std::string& in, const std::string& out, std::ostream& err) {
  std::vector<std::uint8_t> stream;
  std::string error;
  if (!readFileBytes(in, stream, error)) {
    fail(err, error);
    return 1;
  }
  std::vector<std::uint8_t> pixels;
  int w = 0;
  int h = 0;
  int depth = 0;
  int ppi = 0;
  int lossy = 0;
  if (int rc = wsq::wsqDecode(stream, pixels, w, h, depth, ppi, lossy); rc != 0) {
    failCodec(err, in, rc);
    return 1;
  }
  if (!writePgm(out, pixels, w, h, error)) {
    fail(err, error);
    return 1;
  }
  return 0;
}

int runWsqInfo(const std::string& in, std::ostream& out, std::ostream& err) {
  std::vector<std::uint8_t> stream;
  std::string error;
  if (!readFileBytes(in, stream, error)) {
    fail(err, error);
    return 1;
  }
  wsq::WsqInfo info;
  if (int rc = wsq::wsqReadInfo(stream, info); rc != 0) {
    failCodec(err, in, rc);
    return 1;
  }
  out << "size " << info.width << "x" << info.height << "\n";
  out << "ppi " << info.ppi << "\n";
  out << "black " << info.blackLevel << " white " << info.whiteLevel << "\n";
  out << "m_shift " << number(info.mShift) << " r_scale " << number(info.rScale) << "\n";
  out << "encoder " << info.encoder << " software " << info.software << "\n";
  out << "filters " << info.lowTaps << "/" << info.highTaps << "\n";
  if (!info.hasQuantization) {
    out << "no quantization table before the first block\n";
    return 0;
  }
  out << "bin centre " << number(info.binCenter) << "\n";
  out << "subband Q Z\n";
  for (std::size_t k = 0; k < info.q.size(); ++k) {
    out << k << " " << number(info.q[k]) << " " << number(info.z[k]) << "\n";
  }
  return 0;
}

void addWsqCommand(CLI::App& app, int& exitCode) {
  struct Args {
    std::string in;
    std::string out;
    float bitrate = 2.25F;
  };
  // The options bind to this state, which lives as long as the application object.
  auto args = std::make_shared<Args>();
  auto* wsq = app.add_subcommand("wsq", "Compress, decompress and inspect WSQ images");
  wsq->require_subcommand(1);

  auto* enc = wsq->add_subcommand("encode", "Compress an 8-bit binary PGM to WSQ");
  enc->add_option("--bitrate", args->bitrate, "Bits per pixel (default 2.25)")
      ->check(CLI::Validator(
          [](const std::string& text) {
            float v = 0.0F;
            // Accepts what CLI11 converts; refuses zero, negatives and non-numbers.
            return CLI::detail::lexical_cast(text, v) && v > 0.0F && v < 1e6F
                       ? std::string()
                       : std::string("bitrate must be a positive number of bits per pixel");
          },
          "POSITIVE"));
  enc->add_option("IN", args->in, "Input image (.pgm)")->required();
  enc->add_option("OUT", args->out, "Output stream (.wsq)")->required();
  enc->callback([args, &exitCode] {
    exitCode = runWsqEncode(args->in, args->out, args->bitrate, std::cerr);
  });

  auto* dec = wsq->add_subcommand("decode", "Decompress a WSQ stream to a binary PGM");
  dec->add_option("IN", args->in, "Input stream (.wsq)")->required();
  dec->add_option("OUT", args->out, "Output image (.pgm)")->required();
  dec->callback([args, &exitCode] { exitCode = runWsqDecode(args->in, args->out, std::cerr); });

  auto* info = wsq->add_subcommand("info", "Print the header and quantization of a WSQ stream");
  info->add_option("IN", args->in, "Input stream (.wsq)")->required();
  info->callback([args, &exitCode] { exitCode = runWsqInfo(args->in, std::cout, std::cerr); });
}

}  // namespace varnel::cli
