#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::test {

/// The whole content of a file ("" when it cannot be read).
inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// The whole content of a file as bytes (none when it cannot be read).
inline std::vector<std::uint8_t> readFileBytes(const std::string& path) {
  const std::string text = readFile(path);
  return {text.begin(), text.end()};
}

}  // namespace varnel::test
