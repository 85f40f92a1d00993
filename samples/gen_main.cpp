// varnel-gen: writes synthetic transactions of any size and mix of record types.
#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <system_error>

#include "samples/tx_builder.h"

namespace {

// "<width>x<height>", each from 1 to 65535.
bool parseSize(std::string_view text, int& w, int& h) {
  const char* end = text.data() + text.size();
  const auto [afterWidth, widthError] = std::from_chars(text.data(), end, w);
  if (widthError != std::errc() || afterWidth == end || *afterWidth != 'x') return false;
  const auto [afterHeight, heightError] = std::from_chars(afterWidth + 1, end, h);
  return heightError == std::errc() && w > 0 && h > 0 && w <= 65535 && h <= 65535;
}

}  // namespace

namespace {

// The program proper; main() adds only a last resort for an exception nothing else caught.
int generatorMain(int argc, char** argv) {
  CLI::App app{"Writes synthetic ANSI/NIST-ITL transactions (traditional encoding)."};
  std::string out;
  int count = 1;
  std::string prefix = "sample";
  std::string ext = "nst";
  int type2Fields = 5;
  int type4 = 0;
  int type9 = 0;
  int type10 = 0;
  int type14 = 0;
  std::string type4Size = "64x64";
  std::string type10Size = "64x80";
  std::string type14Size = "64x64";
  app.add_option("--out", out, "Folder to write into (created when missing)")->required();
  app.add_option("--count", count, "Number of transactions")->check(CLI::Range(1, 10000000));
  app.add_option("--prefix", prefix, "File name prefix; files are <prefix>_<n>.<ext>");
  app.add_option("--ext", ext, "File extension");
  app.add_option("--type2-fields", type2Fields,
                 "User-defined fields of the Type-2 record (-1: no Type-2 record)");
  app.add_option("--type4", type4, "Type-4 records (raw grey) per transaction");
  app.add_option("--type4-size", type4Size, "Type-4 image size WxH");
  app.add_option("--type9", type9, "Type-9 minutiae records per transaction");
  app.add_option("--type10", type10, "Type-10 face records (raw grey) per transaction");
  app.add_option("--type10-size", type10Size, "Type-10 image size WxH");
  app.add_option("--type14", type14, "Type-14 records (raw grey) per transaction");
  app.add_option("--type14-size", type14Size, "Type-14 image size WxH");
  CLI11_PARSE(app, argc, argv);

  int w4 = 0, h4 = 0, w10 = 0, h10 = 0, w14 = 0, h14 = 0;
  if (!parseSize(type4Size, w4, h4) || !parseSize(type10Size, w10, h10) ||
      !parseSize(type14Size, w14, h14)) {
    std::cerr << "varnel-gen: sizes are WxH, for example 256x256\n";
    return 2;
  }
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  for (int n = 0; n < count; ++n) {
    varnel::samples::TxBuilder b;
    char tcn[32];
    (void)std::snprintf(tcn, sizeof tcn, "TCN%07d", n + 1);
    b.type1Field(9, tcn);
    if (type2Fields >= 0) {
      b.type2(type2Fields, {{18, "DOE,JOHN"},
                            {33, std::string("ALPHA\x1E"
                                             "BETA\x1E"
                                             "GAMMA")}});
    }
    for (int i = 0; i < type4; ++i) {
      b.type4(1 + i % 10, w4, h4, varnel::samples::TxBuilder::greyImage(w4, h4, n + i));
    }
    for (int i = 0; i < type9; ++i) b.type9(1 + i % 10, 12);
    for (int i = 0; i < type10; ++i) {
      b.type10(w10, h10, varnel::samples::TxBuilder::greyImage(w10, h10, n + i));
    }
    for (int i = 0; i < type14; ++i) {
      b.type14(1 + i % 10, w14, h14, varnel::samples::TxBuilder::greyImage(w14, h14, n + i));
    }
    char name[64];
    (void)std::snprintf(name, sizeof name, "_%05d.", n + 1);
    std::string fileName = prefix;
    fileName += name;
    fileName += ext;
    const std::filesystem::path path = std::filesystem::path(out) / fileName;
    std::ofstream f(path, std::ios::binary);
    const std::string bytes = b.bytes();
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) {
      std::cerr << "varnel-gen: cannot write " << path.string() << "\n";
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return generatorMain(argc, argv);
  } catch (const std::exception& e) {
    (void)std::fprintf(stderr, "varnel-gen: %s\n", e.what());
  } catch (...) {
    (void)std::fprintf(stderr, "varnel-gen: unexpected failure\n");
  }
  return 1;
}
