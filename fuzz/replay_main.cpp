// Replays every file of the folders (or files) named on the command line through the fuzz target,
// so the seed corpus and every crash ever found run as an ordinary test without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {
int runFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return 1;
}
}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  // The empty input is always worth one run.
  LLVMFuzzerTestOneInput(nullptr, 0);
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path root(argv[i]);
    std::error_code ec;
    if (std::filesystem::is_directory(root, ec)) {
      for (const auto& e : std::filesystem::recursive_directory_iterator(root, ec)) {
        if (e.is_regular_file()) count += runFile(e.path());
      }
    } else if (std::filesystem::is_regular_file(root, ec)) {
      count += runFile(root);
    } else {
      // A missing seed folder would make the replay pass without running anything.
      (void)std::fprintf(stderr, "no such corpus: %s\n", argv[i]);
      return 1;
    }
  }
  (void)std::printf("replayed %d inputs\n", count);
  return 0;
}
