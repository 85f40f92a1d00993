#include "cli/jpegl_command.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "imaging/jpegl/jpegl.h"

namespace varnel::cli {
namespace {

bool readAll(const std::string& path, std::vector<std::uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int runJpeglDecode(const std::string& in, const std::string& out, std::ostream& err) {
  std::vector<std::uint8_t> stream;
  if (!readAll(in, stream)) {
    err << "jpegl decode: cannot read \"" << in << "\"\n";
    return 1;
  }
  jpegl::JpeglDecoded image;
  if (int rc = jpegl::jpeglDecode(stream, image); rc < 0) {
    err << "jpegl decode: cannot decode \"" << in << "\": " << jpegl::jpeglStatusText(rc)
        << " (status " << rc << ")\n";
    return 1;
  }
  const auto& comps = image.components;
  const std::size_t n = comps.size();
  if (n != 1 && n != 3) {
    err << "jpegl decode: \"" << in << "\" has " << n
        << " components; only 1 (PGM) or 3 (PPM) can be written\n";
    return 1;
  }
  for (const auto& c : comps) {
    if (c.width != image.width || c.height != image.height) {
      err << "jpegl decode: \"" << in << "\" has subsampled components (component " << c.id
          << " is " << c.width << "x" << c.height << " in a " << image.width << "x" << image.height
          << " image); PGM/PPM need full-size planes\n";
      return 1;
    }
  }
  const std::size_t pixels = static_cast<std::size_t>(image.width) * image.height;
  std::vector<char> body(pixels * n);
  for (std::size_t i = 0; i < pixels; ++i) {
    for (std::size_t k = 0; k < n; ++k) body[i * n + k] = static_cast<char>(comps[k].plane[i]);
  }
  std::ofstream file(out, std::ios::binary | std::ios::trunc);
  if (!file) {
    err << "jpegl decode: cannot create \"" << out << "\"\n";
    return 1;
  }
  file << (n == 1 ? "P5" : "P6") << '\n'
       << image.width << ' ' << image.height << '\n'
       << ((1 << image.precision) - 1) << '\n';
  file.write(body.data(), static_cast<std::streamsize>(body.size()));
  file.close();
  if (!file) {
    (void)std::remove(out.c_str());  // leave no truncated picture behind
    err << "jpegl decode: cannot write \"" << out << "\"\n";
    return 1;
  }
  return 0;
}

void addJpeglCommand(CLI::App& app, int& exitCode) {
  CLI::App* jpegl = app.add_subcommand("jpegl", "Lossless JPEG (process 14) streams");
  jpegl->require_subcommand(1);
  CLI::App* decode = jpegl->add_subcommand(
      "decode", "Decode a lossless JPEG stream to PGM (grey) or PPM (colour)");
  auto in = std::make_shared<std::string>();
  auto out = std::make_shared<std::string>();
  decode->add_option("IN", *in, "Lossless JPEG stream (JFIF)")
      ->required()
      ->check(CLI::ExistingFile);
  decode->add_option("OUT", *out, "PGM or PPM file to write")->required();
  decode->callback([in, out, &exitCode]() { exitCode = runJpeglDecode(*in, *out, std::cerr); });
}

}  // namespace varnel::cli
