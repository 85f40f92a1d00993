#include "xml/xml_codec.h"

#include "xml/reader.h"
#include "xml/writer.h"

namespace varnel::xml {

int XmlCodecImpl::read(const std::string& path, transaction::NistFile& file) const noexcept {
  return readXml(path, file);
}

int XmlCodecImpl::write(const std::string& path, const transaction::NistFile& file) const noexcept {
  return writeXml(path, file);
}

int XmlCodecImpl::writeTo(int fd, const transaction::NistFile& file, int& err) const noexcept {
  return writeXml(fd, file, err);
}

}  // namespace varnel::xml
