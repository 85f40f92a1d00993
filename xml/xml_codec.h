#pragma once

#include <string>

#include "transaction/nist_file.h"

namespace varnel::xml {

/// The XML encoding as the transaction library's XmlCodec: hand one to a NistFile (it must outlive
/// the handle) and `load` and `saveXml` reach readXml and writeXml. Stateless; one instance may
/// serve any number of handles.
class XmlCodecImpl final : public transaction::XmlCodec {
 public:
  /// readXml: kOk, or its failure status.
  [[nodiscard]] int read(const std::string& path,
                         transaction::NistFile& file) const noexcept override;
  /// writeXml: kOk, or its failure status.
  [[nodiscard]] int write(const std::string& path,
                          const transaction::NistFile& file) const noexcept override;
  /// writeXml to a descriptor: kOk, or its failure status with the system's error number.
  [[nodiscard]] int writeTo(int fd, const transaction::NistFile& file,
                            int& err) const noexcept override;
};

}  // namespace varnel::xml
