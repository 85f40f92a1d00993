#include "transaction/sha256.h"

#include <openssl/evp.h>

#include <new>

namespace varnel::transaction {

bool sha256Hex(std::string_view bytes, std::string& hex) noexcept {
  static constexpr char kHex[] = "0123456789ABCDEF";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &len, EVP_sha256(), nullptr) != 1 ||
      len != 32) {
    return false;
  }
  try {
    std::string out;
    out.reserve(std::size_t{2} * len);
    for (unsigned int i = 0; i < len; ++i) {
      out.push_back(kHex[digest[i] >> 4]);
      out.push_back(kHex[digest[i] & 15]);
    }
    hex = std::move(out);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace varnel::transaction
