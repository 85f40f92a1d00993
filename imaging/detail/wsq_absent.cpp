// Stands in for the WSQ codec in builds without it: every WSQ operation fails.
#include "imaging/wsq/wsq.h"

namespace varnel::wsq {

int wsqEncode(float, std::span<const std::uint8_t>, int, int, std::vector<std::uint8_t>&) noexcept {
  return -1;
}
int wsqDecode(std::span<const std::uint8_t>, std::vector<std::uint8_t>&, int&, int&, int&, int&,
              int&) noexcept {
  return -1;
}
int wsqReadPpi(std::span<const std::uint8_t>, int&) noexcept { return -1; }
std::string_view wsqVersion() noexcept { return "2.4.0.0"; }
std::string_view wsqBanner() noexcept { return "wsq version 2.4.0.0 - April 13, 2024"; }
int hostImplementationNumber() noexcept { return 0; }

}  // namespace varnel::wsq
